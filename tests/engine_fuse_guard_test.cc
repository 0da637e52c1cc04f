// Fuse and lock writes against a scripted target: a write that would end
// serial programming waits for the same command again, every write is read
// back, and nothing is written to a target that does not answer.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "engine/target_flows.h"
#include "tests/support/engine_harness.h"

namespace {

class FuseGuardTest : public ::testing::Test {
 protected:
  // An ATmega328P, found by its signature in the bit tables, answering.
  FuseGuardTest() { asPart(0x95, 0x0F); }

  void asPart(uint8_t s1, uint8_t s2) {
    const uint8_t signature[3] = {0x1E, s1, s2};
    for (int i = 0; i < 3; ++i) h.link.signature[i] = h.session.target.signature[i] = signature[i];
    h.session.target.processorIndex = -1;
    h.session.target.responding = true;
  }

  // The interpreter counts every command; the flows are called directly here.
  bool nextCommand(bool (*flow)(Session&, int, uint8_t), int fuse, uint8_t value) {
    h.session.commandsRun += 1;
    return flow(h.session, fuse, value);
  }
  bool writeHigh(uint8_t value) { return nextCommand(writeFuse, 2, value); }
  bool nextCommand(bool (*flow)(Session&)) {
    h.session.commandsRun += 1;
    return flow(h.session);
  }

  size_t writesTo(uint8_t second) {
    size_t n = 0;
    for (const IspInstruction& i : h.link.instructionsWith(0xAC)) n += i.bytes[1] == second;
    return n;
  }

  std::string output() const { return h.console.output(); }

  EngineHarness h;
};

}  // namespace

TEST_F(FuseGuardTest, UnprogrammingSpienIsHeldBackUntilEnteredAgain) {
  EXPECT_FALSE(writeHigh(0xF9));
  EXPECT_EQ(writesTo(0xA8), 0u);
  EXPECT_EQ(output(),
            "SPIEN would be unprogrammed: serial programming stops working; only a high-voltage "
            "programmer can undo this\n"
            "Nothing written. To write it, enter pf2f9 again as the next command, or run with "
            "--force-fuses\n");
  h.console.clearOutput();
  EXPECT_TRUE(writeHigh(0xF9));
  EXPECT_EQ(writesTo(0xA8), 1u);
  EXPECT_EQ(h.link.fuseHigh, 0xF9);
  EXPECT_EQ(output(), "Write fuse byte 2: f9\n");
  // Confirmed once, asked again the next time.
  EXPECT_FALSE(writeHigh(0xF9));
  EXPECT_EQ(writesTo(0xA8), 1u);
}

TEST_F(FuseGuardTest, OnlyTheSameValueAsTheVeryNextCommandConfirms) {
  EXPECT_FALSE(writeHigh(0x59));                 // RSTDISBL
  EXPECT_FALSE(writeHigh(0x58));                 // another value: asks afresh
  h.session.commandsRun += 1;                    // some other command in between
  EXPECT_FALSE(writeHigh(0x58));                 // held again; then another fuse...
  EXPECT_TRUE(nextCommand(writeFuse, 1, 0x62));  // ...is written at once
  EXPECT_FALSE(writeHigh(0x58));                 // and the chain is broken
  EXPECT_EQ(writesTo(0xA8), 0u);
  EXPECT_NE(output().find("RSTDISBL would be programmed: the RESET pin becomes an I/O pin"),
            std::string::npos);
}

TEST_F(FuseGuardTest, DwenAndHarmlessValues) {
  EXPECT_FALSE(writeHigh(0x99));
  EXPECT_NE(output().find("DWEN would be programmed"), std::string::npos);
  EXPECT_TRUE(writeHigh(0xD9));  // a harmless write is not a confirmation, it just goes
  EXPECT_TRUE(writeHigh(0xDE));
  EXPECT_EQ(writesTo(0xA8), 2u);
}

TEST_F(FuseGuardTest, ForceWritesAtOnce) {
  h.session.forceFuses = true;
  EXPECT_TRUE(writeHigh(0x59));
  EXPECT_EQ(h.link.fuseHigh, 0x59);
}

TEST_F(FuseGuardTest, AllFusesAndTheDefaultsAreGuardedToo) {
  h.session.commandsRun += 1;
  EXPECT_FALSE(writeAllFuses(h.session, 0x62, 0xF9, 0xFF));
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 0u);
  EXPECT_NE(output().find("enter pfa62,f9,ff again"), std::string::npos);
  h.session.commandsRun += 1;
  EXPECT_TRUE(writeAllFuses(h.session, 0x62, 0xF9, 0xFF));
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 3u);
}

TEST_F(FuseGuardTest, TheAttiny13KeepsSpienInItsLowFuse) {
  asPart(0x90, 0x07);
  EXPECT_FALSE(nextCommand(writeFuse, 1, 0xEA));
  EXPECT_TRUE(nextCommand(writeFuse, 1, 0x6A));
  EXPECT_FALSE(nextCommand(writeFuse, 2, 0xFE));  // RSTDISBL
}

TEST_F(FuseGuardTest, AConfirmedWriteDoesNotLeaveTheAskingEntryAsAFailure) {
  h.session.commandFailed = false;
  EXPECT_FALSE(writeHigh(0xF9));
  h.session.commandFailed = true;  // as the interpreter marks the held entry
  EXPECT_TRUE(writeHigh(0xF9));
  EXPECT_FALSE(h.session.commandFailed);
  // An earlier failure stays.
  h.session.commandFailed = true;
  h.session.commandsRun += 1;
  EXPECT_FALSE(writeHigh(0x59));
  EXPECT_TRUE(writeHigh(0x59));
  EXPECT_TRUE(h.session.commandFailed);
}

// A misread signature matches no part: every fuse or lock write to it waits
// for its repetition, whatever the value, or --force-fuses.
TEST_F(FuseGuardTest, EveryWriteToAnUnrecognisedTargetWaitsForItsRepetition) {
  asPart(0x12, 0x34);
  const std::pair<std::string, bool (*)(Session&)> writes[] = {
      {"pf162", [](Session& s) { return writeFuse(s, 1, 0x62); }},
      {"pfa62,d9,ff", [](Session& s) { return writeAllFuses(s, 0x62, 0xD9, 0xFF); }},
      {"pl3c", [](Session& s) { return writeLockByte(s, 0x3C); }},
  };
  for (const auto& [command, write] : writes) {
    h.console.clearOutput();
    EXPECT_FALSE(nextCommand(write));
    EXPECT_EQ(output(), "Signature 1e 12 34 is no known part, so what " + command +
                            " does cannot be checked\nNothing written. To write it, enter " +
                            command + " again as the next command, or run with --force-fuses\n");
    EXPECT_TRUE(nextCommand(write)) << command;
  }
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 5u);  // each sent once, when confirmed
  h.session.forceFuses = true;
  EXPECT_TRUE(nextCommand(writes[0].second));
}

TEST_F(FuseGuardTest, AFuseByteThePartLacksIsRefused) {
  asPart(0x93, 0x07);  // the ATmega8: low and high fuse only
  h.session.target.processorIndex =
      findPartBySignature(h.session.catalogue, h.session.target.signature);
  EXPECT_FALSE(nextCommand(writeFuse, 3, 0xFF));
  EXPECT_EQ(output(), "ATmega8/ATmega8A has no fuse byte 3 - nothing written\n");
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 0u);
  EXPECT_TRUE(nextCommand(writeFuse, 2, 0xD9));
}

TEST_F(FuseGuardTest, MovingFromTheInternalOscillatorToACrystalWarnsAndWrites) {
  h.link.fuseLow = 0x62;
  EXPECT_TRUE(nextCommand(writeFuse, 1, 0xFF));
  EXPECT_EQ(output(),
            "Warning - clock source changes from calibrated internal RC oscillator 8 MHz to low "
            "power crystal oscillator (CKSEL 1111): the chip stops without one\n"
            "Write fuse byte 1: ff\n");
  h.console.clearOutput();
  EXPECT_TRUE(nextCommand(writeFuse, 1, 0xF7));  // crystal to crystal: no warning
  EXPECT_EQ(output(), "Write fuse byte 1: f7\n");
}

TEST_F(FuseGuardTest, ABitThatDoesNotTakeIsReportedAndFails) {
  h.link.keepsWrites = false;
  h.link.fuseHigh = 0xD9;
  EXPECT_FALSE(writeHigh(0xDE));
  EXPECT_EQ(output(),
            "Write fuse byte 2: de\nError - fuse byte 2 reads back d9 after writing de\n");
  // The extended fuse has three bits; the others read as anything.
  h.console.clearOutput();
  h.link.fuseExtended = 0xFD;
  EXPECT_TRUE(nextCommand(writeFuse, 3, 0x05));
  EXPECT_EQ(output(), "Write fuse byte 3: 5\n");
  // writeAllFuses reads back every byte it wrote.
  h.console.clearOutput();
  h.link.fuseLow = 0x62;
  h.session.commandsRun += 1;
  EXPECT_FALSE(writeAllFuses(h.session, 0x62, 0xDA, 0xFD));
  EXPECT_EQ(output(),
            "Write fuse bytes: 62 da fd\nError - fuse byte 2 reads back d9 after writing da\n");
}

TEST_F(FuseGuardTest, TheLockByteIsReadBackOverItsLockBits) {
  h.link.keepsWrites = false;
  h.link.lockBits = 0xFF;
  EXPECT_FALSE(writeLockByte(h.session, 0xFC));
  EXPECT_EQ(output(), "Write lock byte fc\nError - lock byte reads back ff after writing fc\n");
  h.console.clearOutput();
  h.link.lockBits = 0xFC;
  EXPECT_TRUE(writeLockByte(h.session, 0x3C));  // bits 7 and 6 are not used
}

TEST_F(FuseGuardTest, NothingIsWrittenToATargetThatDoesNotAnswer) {
  h.session.target.responding = false;
  EXPECT_FALSE(writeHigh(0xD9));
  EXPECT_FALSE(writeAllFuses(h.session, 0x62, 0xD9, 0xFF));
  EXPECT_FALSE(writeLockByte(h.session, 0xFC));
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 0u);
  EXPECT_EQ(output(),
            "Target not responding - nothing written\n"
            "Target not responding - nothing written\n"
            "Target not responding - nothing written\n");
}

TEST(FuseGuardIdentification, AnEnableOutOfStepMarksTheTargetNotResponding) {
  EngineHarness h;
  h.link.enableEchoes = {0xFF};
  identifyTarget(h.session);
  EXPECT_FALSE(h.session.target.responding);
  identifyTarget(h.session);
  EXPECT_TRUE(h.session.target.responding);
}
