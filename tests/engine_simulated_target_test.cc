// The engine against the simulated chip: every catalogue part takes a whole
// flash and a whole EEPROM, verifies, and reads back what was written, without
// the chip seeing a single timing violation.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "frontend/profile.h"
#include "run/session.h"
#include "sim/avr_target.h"
#include "sim/sim_parts.h"
#include "tests/support/hex_text.h"
#include "tests/support/target_link.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

constexpr double kTimeScale = 0.001;

// One chip on the bench, wired to a session of the given program.
class Bench {
 public:
  Bench(const Profile& profile, const SimPart& part)
      : target(part, clock), link(target, clock), session(profile, console) {
    session.link = &link;
    session.target.targetReleased = true;
  }
  bool identify() {
    identifyTarget(session);
    return session.currentPart() != nullptr;
  }
  bool download(const std::vector<uint8_t>& data, bool eeprom) {
    writeFile("image.hex", intelHexText(data));
    session.settings.downloadFileName = "image.hex";
    return eeprom ? downloadEeprom(session) : downloadFlash(session);
  }
  std::vector<uint8_t> readImage(size_t n) const {
    return std::vector<uint8_t>(session.images.read->begin(), session.images.read->begin() + n);
  }

  SimClock clock{kTimeScale};
  ScriptedConsole console;
  AvrTarget target;
  TargetLink link;
  Session session;
};

class SimulatedTarget : public ::testing::Test {
 protected:
  SimulatedTarget() : savedLoops_(loopsPerMicrosecond()) {
    dir_.enter();
    // The fuse and lock waits only need to outlast the chip's scaled write time.
    setLoopsPerMicrosecond(4);
  }
  ~SimulatedTarget() override { setLoopsPerMicrosecond(savedLoops_); }

 private:
  TempDir dir_;
  int32_t savedLoops_;
};

void roundTripEveryPart(const Profile& profile) {
  const PartRows& rows = profile.partRows();
  for (size_t row = 0; row < rows.size(); ++row) {
    const PartRecord& record = rows[row];
    SCOPED_TRACE(std::string(profile.programName) + " " + record.name);
    const SimPart* part = findSimPart(record.name);
    ASSERT_NE(part, nullptr);
    Bench bench(profile, *part);
    ASSERT_TRUE(bench.identify());
    EXPECT_EQ(bench.session.target.processorIndex, static_cast<int>(row));

    std::vector<uint8_t> flash = randomBytes(static_cast<size_t>(record.flashBytes), 10 + row);
    EXPECT_TRUE(bench.download(flash, false));
    EXPECT_NE(bench.console.output().find("\nTarget matches image.hex\n"), std::string::npos);
    EXPECT_TRUE(bench.target.flash() == flash);
    EXPECT_TRUE(bench.readImage(flash.size()) == flash);

    std::vector<uint8_t> eeprom = randomBytes(static_cast<size_t>(record.eepromBytes), 50 + row);
    eeprom.back() = 0x5A;  // so the used length is the whole EEPROM
    bench.console.clearOutput();
    EXPECT_TRUE(bench.download(eeprom, true));
    EXPECT_NE(bench.console.output().find("Target matches image.hex\n"), std::string::npos);
    EXPECT_TRUE(bench.target.eeprom() == eeprom);
    EXPECT_TRUE(bench.readImage(eeprom.size()) == eeprom);

    EXPECT_EQ(bench.target.stats().violations(), 0u);
    EXPECT_EQ(bench.link.waitsFailed(), 0);
  }
}

TEST_F(SimulatedTarget, EveryTarnwickPartTakesAWholeFlashAndEeprom) {
  roundTripEveryPart(tarnwickProfile());
}

TEST_F(SimulatedTarget, EveryPelloryPartTakesAWholeFlashAndEeprom) {
  roundTripEveryPart(pelloryProfile());
}

// Both halves of a 256 KB part: without the extended address the upper half
// is never reached and the lower half is written twice.
TEST_F(SimulatedTarget, FullAtmega2560ImageProgramsAndReadsBackByteForByte) {
  Bench bench(tarnwickProfile(), *findSimPart("ATmega2560"));
  ASSERT_TRUE(bench.identify());
  std::vector<uint8_t> image = randomBytes(0x40000, 7);
  std::fill(bench.session.images.load->begin(), bench.session.images.load->end(), 0xFF);
  std::copy(image.begin(), image.end(), bench.session.images.load->begin());
  ASSERT_TRUE(bench.download(image, false));
  EXPECT_TRUE(bench.target.flash() == image);
  EXPECT_EQ(readFlash(bench.session, 0x40000), 0x40000);
  EXPECT_TRUE(bench.readImage(0x40000) == image);
  EXPECT_EQ(usedLength(*bench.session.images.read, 0x40000),
            static_cast<int32_t>(image.size() - (image.back() == 0xFF ? 1 : 0)));
  EXPECT_EQ(bench.target.stats().violations(), 0u);
}

// Flash cells only go from 1 to 0 when written; a second image programmed
// without an erase leaves the AND of both, and verification must say so.
TEST_F(SimulatedTarget, ProgrammingTwiceWithoutEraseIsCaughtByVerification) {
  Bench bench(tarnwickProfile(), *findSimPart("ATmega88"));
  ASSERT_TRUE(bench.identify());
  const int32_t n = 1024;
  std::vector<uint8_t> first = randomBytes(n, 21);
  std::vector<uint8_t> second = randomBytes(n, 22);
  ImageBuffer& load = *bench.session.images.load;
  std::copy(first.begin(), first.end(), load.begin());
  programFlash(bench.session, n);
  std::copy(second.begin(), second.end(), load.begin());
  programFlash(bench.session, n);

  int32_t differing = 0;
  for (int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(bench.target.flash()[i], first[i] & second[i]);
    differing += (first[i] & second[i]) != second[i] ? 1 : 0;
  }
  ASSERT_GT(differing, 0);
  bench.console.clearOutput();
  readFlash(bench.session, n);
  EXPECT_EQ(compareImages(bench.session, n), 0);
  EXPECT_NE(bench.console.output().find("\n" + std::to_string(differing) + " bytes mismatched\n"),
            std::string::npos);
  EXPECT_EQ(bench.target.stats().violations(), 0u);
}

TEST_F(SimulatedTarget, FuseAndLockWritesReachTheChipWithoutViolations) {
  Bench bench(pelloryProfile(), *findSimPart("ATmega32"));
  ASSERT_TRUE(bench.identify());
  EXPECT_TRUE(writeDefaultFuses(bench.session));
  EXPECT_EQ(bench.target.fuseHigh(), 0xD9);
  EXPECT_EQ(bench.target.fuseLow(), 0xE4);
  EXPECT_EQ(checkDefaultFuses(bench.session), 'd');
  writeLockByte(bench.session, 0xFC);
  EXPECT_EQ(bench.target.lockBits(), 0xFC);
  EXPECT_EQ(bench.target.stats().violations(), 0u);
}

TEST_F(SimulatedTarget, ChipThatNeverFinishesItsEraseEndsTheDownload) {
  TargetFaults faults;
  faults.neverReady = true;
  SimClock clock(kTimeScale);
  AvrTarget target(*findSimPart("ATmega16"), clock, faults);
  TargetLink link(target, clock);
  ScriptedConsole console;
  Session session(tarnwickProfile(), console);
  session.link = &link;
  identifyTarget(session);
  writeFile("image.hex", intelHexText(randomBytes(64, 3)));
  session.settings.downloadFileName = "image.hex";
  EXPECT_FALSE(downloadFlash(session));
  EXPECT_EQ(console.output(), "Erase chip\nError - Erase chip timeout\n");
  EXPECT_EQ(target.stats().pagesWritten, 0u);
}

}  // namespace
