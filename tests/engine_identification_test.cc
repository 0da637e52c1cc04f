// Identification, statistics, fuses, lock and calibration over a scripted
// link: what the target is sent and what the user reads.

#include <gtest/gtest.h>

#include "engine/isp_instructions.h"
#include "engine/target_flows.h"
#include "frontend/profile.h"
#include "tests/support/engine_harness.h"

namespace {

constexpr int kAtmega16Row = 0;
constexpr int kAtmega88Row = 3;

TEST(Identification, IdentifyEntersEnablesAndLooksThePartUp) {
  EngineHarness h;
  h.session.target.targetReleased = true;
  h.link.signature[1] = 0x98;
  h.link.signature[2] = 0x01;  // ATmega2560
  EXPECT_EQ(identifyTarget(h.session), 0x53);
  EXPECT_FALSE(h.session.target.targetReleased);
  EXPECT_EQ(h.link.transcript(),
            "enter\nenable\nquery 30 00 00 00\nquery 30 00 01 00\nquery 30 00 02 00\n");
  EXPECT_STREQ(h.session.currentPart()->name, "ATmega2560");

  h.link.signature[0] = 0x00;
  identifyTarget(h.session);
  EXPECT_EQ(h.session.target.processorIndex, -1);
  EXPECT_EQ(h.console.output(), "");
}

TEST(Identification, StartupGivesUpAfterFourEnablesEachFollowedByAResetPulse) {
  EngineHarness h(pelloryProfile());
  h.link.enableEchoes = {0x00, 0xFF, 0x00, 0x12};
  EXPECT_EQ(startupEnable(h.session), 0x12);
  EXPECT_EQ(h.console.output(),
            "enable attempt 1  inbyte=0\nenable attempt 2  inbyte=ff\n"
            "enable attempt 3  inbyte=0\nenable attempt 4  inbyte=12\n");
  EXPECT_EQ(h.link.transcript(),
            "enable\npulse 60000\nenable\npulse 60000\nenable\npulse 60000\nenable\npulse 60000\n");
  EXPECT_FALSE(h.session.target.targetReleased);
  // Not the row the session starts with: nothing is known about the target.
  EXPECT_EQ(h.session.currentPart(), nullptr);
}

TEST(Identification, StartupThatSucceedsLateIdentifiesAndReadsTheFuses) {
  EngineHarness h(pelloryProfile());
  h.session.target.processorIndex = 0;
  h.link.enableEchoes = {0x00, 0x53};
  EXPECT_EQ(startupEnable(h.session), 0x53);
  EXPECT_EQ(h.console.output(), "enable attempt 1  inbyte=0\n");
  EXPECT_EQ(h.session.target.processorIndex, 1);  // the link answers as an ATmega32
  EXPECT_EQ(h.link.count(LinkEvent::kPulse), 1);
  EXPECT_EQ(h.link.instructionsWith(0x50).size(), 2u);  // low and extended fuse reads
  EXPECT_EQ(h.session.target.fuseBytes[2], 0xE4);
}

TEST(Identification, ShowIdentityNamesThePartOrSaysItIsUnknown) {
  EngineHarness h;
  showIdentity(h.session);
  h.link.signature[2] = 0x77;
  showIdentity(h.session);
  EXPECT_EQ(h.console.output(),
            "Signature bytes: 1e 95 2  Processor: ATmega32\n"
            "Signature bytes: 1e 95 77  Processor: Unrecognized signature\n");
  EXPECT_EQ(h.session.target.processorIndex, -1);
}

TEST(Statistics, ReportShowsLockSignatureFusesAndCalibration) {
  EngineHarness h;
  h.identifyAs(kAtmega16Row);
  h.link.fuseExtended = 0xFF;
  h.link.fuseHigh = 0x99;
  h.link.fuseLow = 0xE1;
  h.link.calibration = 0xA7;
  showStatistics(h.session);  // lock byte 0xFF: nothing locked
  h.link.lockBits = 0x3C;
  showStatistics(h.session);
  EXPECT_EQ(h.console.output(),
            "Processor: ATmega16\n"
            " Lock byte = ff    No locks bits activated\n"
            " Signature = 1e 94 3\n"
            " Fuse bytes = ff 99 e1\n"
            " Calibration byte =  a7\n"
            "Processor: ATmega16\n"
            " Lock byte = 3c\n"
            " Signature = 1e 94 3\n"
            " Fuse bytes = ff 99 e1\n"
            " Calibration byte =  a7\n");
}

TEST(Statistics, UnrecognisedTargetIsReportedWithoutChangingTheIdentifiedRow) {
  EngineHarness h;
  h.identifyAs(kAtmega88Row);
  h.link.signature[0] = h.link.signature[1] = h.link.signature[2] = 0x00;
  showStatistics(h.session);
  EXPECT_EQ(h.console.output(),
            "Processor: Unrecognized signature\n"
            " Lock byte = ff    No locks bits activated\n"
            " Signature = 0 0 0\n"
            " Fuse bytes = ff d9 e4\n"
            " Calibration byte =  a5\n");
  EXPECT_EQ(h.session.target.processorIndex, kAtmega88Row);
}

TEST(DefaultFuses, ThreeFusePartMatchesOnlyWhenAllThreeDo) {
  EngineHarness h;
  h.identifyAs(kAtmega16Row);  // defaults D4 D9 D4 (extended, high, low)
  h.link.fuseExtended = 0xD4;
  h.link.fuseHigh = 0xD9;
  h.link.fuseLow = 0xD4;
  EXPECT_EQ(checkDefaultFuses(h.session), 'd');
  for (uint8_t* fuse : {&h.link.fuseExtended, &h.link.fuseHigh, &h.link.fuseLow}) {
    uint8_t kept = *fuse;
    *fuse = 0x00;
    EXPECT_EQ(checkDefaultFuses(h.session), 'n');
    *fuse = kept;
  }
}

TEST(DefaultFuses, UnrecognisedPartIsNeverAtItsDefaultsAndTheyAreNotWritten) {
  EngineHarness h;
  h.session.target.processorIndex = -1;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');
  h.link.clearEvents();
  EXPECT_FALSE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.console.output(), "Target processor not recognized - command not run\n");
  EXPECT_EQ(h.link.transcript(), "");
}

TEST(DefaultFuses, ThreeFusePartIsWrittenLowHighExtendedWithTheWaitsBetween) {
  EngineHarness h;
  h.identifyAs(kAtmega16Row);
  EXPECT_TRUE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.console.output(), "processorid = 0\nWrite fuse bytes: d4 d9 d4\n");
  EXPECT_EQ(h.link.transcript(),
            "delay 10000\nsend AC A0 00 D4\ndelay 10000\nsend AC A8 00 D9\n"
            "delay 10000\nsend AC A4 00 D4\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\n");  // read back; it has no extended fuse
}

// The ATmega32 has no extended fuse; its row holds the default high fuse (D9)
// first and the default low fuse (E4) second.
TEST(TwoFusePart, DefaultsAreCheckedWrittenAndShownAsHighThenLow) {
  EngineHarness h;
  h.identifyAs(kTwoFuseRow);
  h.link.fuseHigh = 0xD9;
  h.link.fuseLow = 0xE4;
  h.link.fuseExtended = 0x00;  // no such fuse: whatever it reads is ignored
  EXPECT_EQ(checkDefaultFuses(h.session), 'd');
  h.link.fuseLow = 0xE1;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');
  h.link.fuseLow = 0xE4;
  h.link.fuseHigh = 0x99;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');

  h.link.clearEvents();
  EXPECT_TRUE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.link.transcript(),
            "delay 10000\nsend AC A0 00 E4\ndelay 10000\nsend AC A8 00 D9\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\n");
  showFuses(h.session);
  EXPECT_EQ(h.console.output(), "processorid = 1\nWrite fuse bytes: d9 e4\nFuse bytes: d9 e4\n");
}

TEST(TwoFusePart, WritingAllFusesSkipsTheExtendedButKeepsItsWait) {
  EngineHarness h;
  h.identifyAs(kTwoFuseRow);
  writeAllFuses(h.session, 0xE4, 0xD9, 0xFF);
  EXPECT_FALSE(writeFuse(h.session, 3, 0xFD));  // asked for by number, it is refused
  EXPECT_EQ(h.link.transcript(),
            "send AC A0 00 E4\ndelay 10000\nsend AC A8 00 D9\ndelay 10000\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\n");
  EXPECT_EQ(h.console.output(),
            "Write fuse bytes: e4 d9\nATmega32 has no fuse byte 3 - nothing written\n");
}

TEST(Fuses, SingleFusesAreReadAndWrittenByNumber) {
  EngineHarness h;
  h.identifyAs(kAtmega16Row);
  h.link.fuseLow = 0x62;
  h.link.fuseHigh = 0xD9;
  h.link.fuseExtended = 0xFD;
  showFuse(h.session, 1);
  showFuse(h.session, 2);
  showFuse(h.session, 3);
  showFuses(h.session);
  writeAllFuses(h.session, 0x62, 0xD9, 0xFD);
  EXPECT_EQ(h.console.output(),
            "Fuse byte 1: 62\nFuse byte 2: d9\nFuse byte 3: fd\nFuse bytes: fd d9 62\n"
            "Write fuse bytes: 62 d9 fd\n");
  h.link.clearEvents();
  writeFuse(h.session, 1, 0xE2);
  writeFuse(h.session, 2, 0x99);
  EXPECT_EQ(h.link.transcript(),
            "send AC A0 00 E2\ndelay 10000\nquery 50 00 00 00\n"
            "send AC A8 00 99\ndelay 10000\nquery 58 08 00 00\n");
}

TEST(LockAndCalibration, ReadsWritesAndTheStandaloneErase) {
  EngineHarness h(pelloryProfile());
  h.session.target.responding = true;
  h.link.lockBits = 0xFC;
  h.link.calibration = 0x9B;
  showLockByte(h.session);
  showCalibrationByte(h.session);
  writeLockByte(h.session, 0x3C);
  EXPECT_TRUE(eraseChip(h.session));
  EXPECT_EQ(h.console.output(),
            "Fuse lock byte fc\nCalibration byte: 9b\nWrite lock byte 3c\nErase chip\n");
  EXPECT_EQ(h.link.transcript(),
            "query 58 00 00 00\nquery 38 00 00 00\nsend AC E0 00 3C\ndelay 10000\n"
            "query 58 00 00 00\nsend AC 80 00 00\n");
}

// tarnwick's erase waits for its end, and fails when the wait runs out.
TEST(LockAndCalibration, TarnwicksEraseWaitsForItsEnd) {
  EngineHarness h;
  h.link.waitResults = {-1};
  EXPECT_FALSE(eraseChip(h.session));
  EXPECT_EQ(h.link.transcript(), "send AC 80 00 00\nwait -1\n");
  EXPECT_EQ(h.console.output(), "Erase chip\nError - Erase chip timeout\n");
}

}  // namespace
