// The simulated AVR against the datasheets' serial programming rules: a host
// enters programming mode, programs and reads back, and the target refuses
// what a real chip would refuse.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>

#include "sim/avr_target.h"
#include "tests/support/temp_dir.h"

namespace {

class Chip {
 public:
  explicit Chip(const char* name, TargetFaults faults = {})
      : target(*findSimPart(name), clock, faults) {}
  Chip(const char* name, const DatasheetPart& facts)
      : target(*findSimPart(name), clock, TargetFaults{}, &facts) {}

  // The four bytes of one instruction; returns what came back during each.
  std::array<uint8_t, 4> instruction(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    return {target.exchange(b1), target.exchange(b2), target.exchange(b3), target.exchange(b4)};
  }
  uint8_t query(uint8_t b1, uint8_t b2, uint8_t b3) { return instruction(b1, b2, b3, 0)[3]; }

  // RESET low, the datasheet's 20 ms, then Programming Enable; its echo.
  uint8_t enter() {
    target.setResetLow(true);
    clock.advanceMicros(20000);
    return instruction(0xAC, 0x53, 0x00, 0x00)[2];
  }
  bool pollBusy() { return query(0xF0, 0x00, 0x00) & 1; }
  void finishWrite() {
    // A part without Poll RDY/BSY is waited for, as its datasheet says.
    if (!target.part().hasPollReady) clock.advanceMicros(20'000);
    while (pollBusy()) clock.advanceMicros(500);
  }
  void loadWord(uint8_t index, uint16_t value) {
    instruction(0x40, 0x00, index, value & 0xFF);
    instruction(0x48, 0x00, index, value >> 8);
  }
  void writePage(uint16_t word) {
    instruction(0x4C, word >> 8, word & 0xFF, 0x00);
    finishWrite();
  }
  uint16_t readWord(uint16_t word) {
    return query(0x20, word >> 8, word & 0xFF) | query(0x28, word >> 8, word & 0xFF) << 8;
  }
  void chipErase() {
    instruction(0xAC, 0x80, 0x00, 0x00);
    finishWrite();
  }
  void writeEeprom(uint16_t address, uint8_t value) {
    instruction(0xC0, address >> 8, address & 0xFF, value);
    finishWrite();
  }
  uint8_t readEeprom(uint16_t address) { return query(0xA0, address >> 8, address & 0xFF); }

  SimClock clock = SimClock::manual();
  AvrTarget target;
};

TEST(SimTargetTest, ProgrammingEnableEchoesInStepAndWaitsTwentyMilliseconds) {
  Chip chip("ATmega644P");
  chip.target.setResetLow(true);
  chip.clock.advanceMicros(19999);
  EXPECT_NE(chip.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0x53);
  EXPECT_FALSE(chip.target.inProgrammingMode());
  EXPECT_EQ(chip.target.stats().earlyEnables, 1u);

  chip.clock.advanceMicros(1);
  std::array<uint8_t, 4> echo = chip.instruction(0xAC, 0x53, 0x00, 0x00);
  EXPECT_EQ(echo[1], 0xAC);  // byte 1 comes back during byte 2
  EXPECT_EQ(echo[2], 0x53);  // and byte 2 during byte 3: in step
  EXPECT_TRUE(chip.target.inProgrammingMode());

  // The same rule on a scaled clock: 20 us at 1/1000.
  SimClock fast = SimClock::manual(0.001);
  AvrTarget scaled(*findSimPart("ATmega644P"), fast);
  scaled.setResetLow(true);
  fast.advanceMicros(20);
  for (uint8_t b : {0xAC, 0x53}) scaled.exchange(b);
  EXPECT_EQ(scaled.exchange(0x00), 0x53);
}

TEST(SimTargetTest, NothingIsActedOnOutsideProgrammingModeAndResetHighLeavesIt) {
  Chip chip("ATmega644P");
  chip.target.setResetLow(true);
  chip.clock.advanceMicros(30000);
  chip.instruction(0xC0, 0x00, 0x10, 0x42);  // no enable yet
  EXPECT_NE(chip.query(0x30, 0x00, 0x00), 0x1E);
  EXPECT_EQ(chip.target.eeprom()[0x10], 0xFF);
  EXPECT_EQ(chip.target.stats().instructions, 0u);

  EXPECT_EQ(chip.enter(), 0x53);
  EXPECT_EQ(chip.query(0x30, 0x00, 0x00), 0x1E);
  chip.target.setResetLow(false);
  EXPECT_FALSE(chip.target.inProgrammingMode());
  EXPECT_EQ(chip.target.pendingOutput(), 0xFF);
  chip.target.setResetLow(true);
  chip.clock.advanceMicros(30000);
  EXPECT_NE(chip.query(0x30, 0x00, 0x01), 0x96);
  EXPECT_EQ(chip.target.stats().violations(), 0u);
}

TEST(SimTargetTest, ResetPulseRestoresFramingAfterAStrayByte) {
  Chip chip("ATmega88");
  chip.target.setResetLow(true);
  chip.clock.advanceMicros(20000);
  chip.target.exchange(0x00);  // out of step from here on
  EXPECT_NE(chip.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0x53);
  chip.target.setResetLow(false);
  EXPECT_EQ(chip.enter(), 0x53);
}

TEST(SimTargetTest, IdentityReadsGiveTheDatasheetBytes) {
  Chip chip("ATmega2560");
  chip.enter();
  EXPECT_EQ(chip.query(0x30, 0x00, 0x00), 0x1E);
  EXPECT_EQ(chip.query(0x30, 0x00, 0x01), 0x98);
  EXPECT_EQ(chip.query(0x30, 0x00, 0x02), 0x01);
  EXPECT_EQ(chip.query(0x38, 0x00, 0x00), chip.target.part().calibration);
  EXPECT_EQ(chip.query(0x50, 0x00, 0x00), 0x62);
  EXPECT_EQ(chip.query(0x58, 0x08, 0x00), 0x99);
  EXPECT_EQ(chip.query(0x50, 0x08, 0x00), 0xFF);
  EXPECT_EQ(chip.query(0x58, 0x00, 0x00), 0xFF);
}

TEST(SimTargetTest, FuseWritesTakeEffectOnlyWhereTheFuseExists) {
  Chip mega644("ATmega644P");
  mega644.enter();
  mega644.instruction(0xAC, 0xA0, 0x00, 0xE2);
  mega644.finishWrite();
  mega644.instruction(0xAC, 0xA8, 0x00, 0xD1);
  mega644.finishWrite();
  mega644.instruction(0xAC, 0xA4, 0x00, 0xFD);
  mega644.finishWrite();
  EXPECT_EQ(mega644.query(0x50, 0x00, 0x00), 0xE2);
  EXPECT_EQ(mega644.query(0x58, 0x08, 0x00), 0xD1);
  EXPECT_EQ(mega644.query(0x50, 0x08, 0x00), 0xFD);

  Chip mega32("ATmega32");
  mega32.enter();
  EXPECT_EQ(mega32.query(0x50, 0x00, 0x00), 0xE1);
  EXPECT_EQ(mega32.query(0x58, 0x08, 0x00), 0x99);
  mega32.instruction(0xAC, 0xA4, 0x00, 0x00);
  mega32.finishWrite();
  EXPECT_EQ(mega32.query(0x50, 0x08, 0x00), 0xFF);
  EXPECT_EQ(mega32.target.fuseExtended(), 0xFF);
  EXPECT_EQ(mega644.target.stats().violations() + mega32.target.stats().violations(), 0u);
}

TEST(SimTargetTest, PagesProgramAsOldAndNewUntilAChipErase) {
  Chip chip("ATmega644P");
  chip.enter();
  chip.chipErase();
  chip.loadWord(0, 0x1234);
  chip.loadWord(127, 0xBEEF);
  chip.writePage(0x0080);  // second page: word 128 onward
  EXPECT_EQ(chip.readWord(0x0080), 0x1234);
  EXPECT_EQ(chip.readWord(0x00FF), 0xBEEF);
  EXPECT_EQ(chip.readWord(0x0081), 0xFFFF);
  EXPECT_EQ(chip.readWord(0x0000), 0xFFFF);

  chip.loadWord(0, 0x4321);
  chip.writePage(0x0080);
  EXPECT_EQ(chip.readWord(0x0080), 0x1234 & 0x4321);

  chip.chipErase();
  chip.loadWord(0, 0x4321);
  chip.writePage(0x0080);
  EXPECT_EQ(chip.readWord(0x0080), 0x4321);
  EXPECT_EQ(chip.target.stats().pagesWritten, 3u);
  EXPECT_EQ(chip.target.stats().violations(), 0u);
}

TEST(SimTargetTest, PageWriteWithNothingLoadedIsAViolation) {
  Chip chip("ATmega168");
  chip.enter();
  chip.loadWord(3, 0x0000);
  chip.writePage(0x0000);
  EXPECT_EQ(chip.readWord(0x0003), 0x0000);
  // The page buffer is spent by the write; writing again loads nothing.
  chip.instruction(0x4C, 0x00, 0x40, 0x00);
  EXPECT_FALSE(chip.target.busy());
  EXPECT_EQ(chip.target.stats().emptyPageWrites, 1u);
  EXPECT_EQ(chip.target.stats().pagesWritten, 1u);
  EXPECT_EQ(chip.readWord(0x0043), 0xFFFF);
}

TEST(SimTargetTest, UpperFlashOfTheLargePartsNeedsTheExtendedAddress) {
  for (const char* name : {"ATmega2560", "ATmega2561"}) {
    SCOPED_TRACE(name);
    Chip chip(name);
    chip.enter();
    chip.instruction(0x4D, 0x00, 0x01, 0x00);
    chip.loadWord(0, 0xA55A);
    chip.writePage(0x0000);
    EXPECT_EQ(chip.target.flash()[0x20000], 0x5A);
    EXPECT_EQ(chip.target.flash()[0x20001], 0xA5);
    EXPECT_EQ(chip.target.flash()[0x00000], 0xFF);
    EXPECT_EQ(chip.readWord(0x0000), 0xA55A);
    chip.instruction(0x4D, 0x00, 0x00, 0x00);
    EXPECT_EQ(chip.readWord(0x0000), 0xFFFF);
    EXPECT_EQ(chip.target.stats().violations(), 0u);
  }
}

TEST(SimTargetTest, SelfTimedWritesKeepTheTargetBusyForTheirDatasheetTime) {
  Chip chip("ATmega644P");
  chip.enter();
  chip.loadWord(0, 0x0102);
  chip.instruction(0x4C, 0x00, 0x00, 0x00);
  EXPECT_TRUE(chip.pollBusy());
  // Anything but the poll is ignored while busy, and counted.
  chip.instruction(0xC0, 0x00, 0x00, 0x11);
  EXPECT_NE(chip.query(0x30, 0x00, 0x00), 0x1E);
  EXPECT_EQ(chip.target.stats().busyViolations, 2u);
  chip.clock.advanceMicros(4499);
  EXPECT_TRUE(chip.pollBusy());
  chip.clock.advanceMicros(1);
  EXPECT_FALSE(chip.pollBusy());
  EXPECT_EQ(chip.target.eeprom()[0], 0xFF);

  chip.instruction(0xAC, 0x80, 0x00, 0x00);
  chip.clock.advanceMicros(8999);
  EXPECT_TRUE(chip.target.busy());
  chip.clock.advanceMicros(1);
  EXPECT_FALSE(chip.target.busy());

  chip.instruction(0xC0, 0x00, 0x00, 0x11);
  chip.clock.advanceMicros(8999);
  EXPECT_TRUE(chip.target.busy());
  Chip small("ATmega48");  // its EEPROM byte takes 3.6 ms
  small.enter();
  small.instruction(0xC0, 0x00, 0x00, 0x11);
  small.clock.advanceMicros(3600);
  EXPECT_FALSE(small.target.busy());
}

// A programmer in another process may read a byte late. The chip then dates a
// write or RESET falling at the earliest moment the byte can have arrived, and
// judges the next instruction at the latest, so only a provably short wait is
// charged to the host; the first one is described.
TEST(SimTargetTest, LateDeliveryIsNotChargedToTheHost) {
  Chip chip("ATmega644P");
  chip.target.setArrivalSlackMicros(20000);
  chip.target.setResetLow(true);
  chip.target.setArrivalSlackMicros(0);
  EXPECT_EQ(chip.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0x53);

  chip.target.setArrivalSlackMicros(3000);
  chip.instruction(0xAC, 0xA0, 0x00, 0x62);  // fuse low: 4.5 ms
  chip.target.setArrivalSlackMicros(0);
  chip.clock.advanceMicros(1500);
  EXPECT_EQ(chip.query(0x50, 0x00, 0x00), 0x62);
  EXPECT_EQ(chip.target.stats().violations(), 0u);
  EXPECT_EQ(chip.target.stats().firstViolation, "");

  chip.target.setArrivalSlackMicros(1000);
  chip.instruction(0xAC, 0xA8, 0x00, 0xD9);  // fuse high
  chip.target.setArrivalSlackMicros(0);
  chip.clock.advanceMicros(1500);
  chip.query(0x58, 0x08, 0x00);
  EXPECT_EQ(chip.target.stats().busyViolations, 1u);
  EXPECT_EQ(chip.target.stats().firstViolation,
            "instruction while busy: 58 08 00 00, 2000 us too early");
}

TEST(SimTargetTest, EepromWritesAndChipEraseHonourEesave) {
  Chip chip("ATmega328P");
  chip.enter();
  chip.writeEeprom(0x03FF, 0x5A);
  chip.writeEeprom(0x0000, 0x00);
  chip.writeEeprom(0x0000, 0xC3);  // a byte write erases first
  EXPECT_EQ(chip.readEeprom(0x03FF), 0x5A);
  EXPECT_EQ(chip.readEeprom(0x0000), 0xC3);
  chip.chipErase();
  EXPECT_EQ(chip.readEeprom(0x03FF), 0xFF);

  chip.writeEeprom(0x0001, 0x77);
  chip.instruction(0xAC, 0xA8, 0x00, 0xD9 & ~0x08);  // EESAVE programmed
  chip.finishWrite();
  chip.loadWord(0, 0x0000);
  chip.writePage(0);
  chip.chipErase();
  EXPECT_EQ(chip.readEeprom(0x0001), 0x77);
  EXPECT_EQ(chip.readWord(0), 0xFFFF);
  EXPECT_EQ(chip.target.stats().violations(), 0u);
}

TEST(SimTargetTest, LockBitsForbidWritesUntilAChipErase) {
  Chip chip("ATmega1284P");
  chip.enter();
  chip.loadWord(0, 0x1111);
  chip.writePage(0);
  chip.writeEeprom(5, 0x22);

  chip.instruction(0xAC, 0xE0, 0x00, 0xFE);  // LB1: mode 2, no further programming
  chip.finishWrite();
  EXPECT_EQ(chip.query(0x58, 0x00, 0x00), 0xFE);
  chip.loadWord(0, 0x0000);
  chip.writePage(0);
  chip.writeEeprom(5, 0x00);
  chip.instruction(0xAC, 0xA0, 0x00, 0x00);
  chip.finishWrite();
  EXPECT_EQ(chip.readWord(0), 0x1111);
  EXPECT_EQ(chip.readEeprom(5), 0x22);
  EXPECT_EQ(chip.query(0x50, 0x00, 0x00), 0x62);

  chip.instruction(0xAC, 0xE0, 0x00, 0xFF);  // cannot be unprogrammed by a write
  chip.finishWrite();
  chip.instruction(0xAC, 0xE0, 0x00, 0xFD);  // LB2 too: mode 3 hides the memories
  chip.finishWrite();
  EXPECT_EQ(chip.query(0x58, 0x00, 0x00), 0xFC);
  EXPECT_EQ(chip.readWord(0), 0xFFFF);
  EXPECT_EQ(chip.readEeprom(5), 0xFF);
  EXPECT_EQ(chip.target.flash()[0], 0x11);

  chip.chipErase();
  EXPECT_EQ(chip.query(0x58, 0x00, 0x00), 0xFF);
  chip.loadWord(0, 0x3333);
  chip.writePage(0);
  EXPECT_EQ(chip.readWord(0), 0x3333);
  EXPECT_EQ(chip.target.stats().violations(), 0u);
}

TEST(SimTargetTest, FaultsLookLikeAnAbsentOrBrokenTarget) {
  TargetFaults high;
  high.miso = TargetFaults::Miso::kStuckHigh;
  Chip absent("ATmega644P", high);
  EXPECT_EQ(absent.enter(), 0xFF);
  EXPECT_FALSE(absent.target.inProgrammingMode());

  TargetFaults low;
  low.miso = TargetFaults::Miso::kStuckLow;
  Chip shorted("ATmega644P", low);
  EXPECT_EQ(shorted.enter(), 0x00);
  EXPECT_EQ(shorted.query(0x30, 0x00, 0x00), 0x00);

  TargetFaults wrong;
  wrong.wrongSignature = true;
  Chip impostor("ATmega644P", wrong);
  EXPECT_EQ(impostor.enter(), 0x53);
  EXPECT_EQ(impostor.query(0x30, 0x00, 0x00), 0x00);
  EXPECT_EQ(impostor.query(0x30, 0x00, 0x01), 0x00);

  TargetFaults stuck;
  stuck.neverReady = true;
  Chip hung("ATmega644P", stuck);
  hung.enter();
  hung.instruction(0xAC, 0x80, 0x00, 0x00);
  hung.clock.advanceMicros(10'000'000);
  EXPECT_TRUE(hung.pollBusy());
}

TEST(SimTargetTest, StateFileCarriesTheChipToTheNextRun) {
  TempDir dir;
  const std::string path = dir.file("chip.state");
  {
    Chip chip("ATmega2560");
    chip.enter();
    chip.instruction(0x4D, 0x00, 0x01, 0x00);
    chip.loadWord(5, 0xCAFE);
    chip.writePage(0xFF80);
    chip.writeEeprom(0x0FFF, 0x42);
    chip.instruction(0xAC, 0xA8, 0x00, 0xD8);
    chip.finishWrite();
    chip.instruction(0xAC, 0xE0, 0x00, 0xFE);
    chip.finishWrite();
    std::string error;
    ASSERT_TRUE(chip.target.saveState(path, &error)) << error;
  }
  Chip next("atmega2560");
  std::string error;
  ASSERT_TRUE(next.target.loadState(path, &error)) << error;
  EXPECT_EQ(next.target.flash()[(0x1FF85) * 2], 0xFE);
  EXPECT_EQ(next.target.flash()[(0x1FF85) * 2 + 1], 0xCA);
  EXPECT_EQ(next.target.eeprom()[0x0FFF], 0x42);
  EXPECT_EQ(next.target.fuseHigh(), 0xD8);
  EXPECT_EQ(next.target.lockBits(), 0xFE);
  EXPECT_EQ(next.target.fuseLow(), 0x62);

  Chip other("ATmega2561");
  EXPECT_FALSE(other.target.loadState(path, &error));
  EXPECT_EQ(error, path + " was made for ATmega2560, not ATmega2561");
  EXPECT_EQ(other.target.flash()[(0x1FF85) * 2], 0xFF);
}

TEST(SimTargetTest, DamagedStateFilesAreRefusedAndAFailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.file("chip.state");
  Chip chip("ATmega48");
  chip.target.eeprom()[7] = 0x07;
  std::string error;
  ASSERT_TRUE(chip.target.saveState(path, &error)) << error;
  const std::string good = readFile(path);

  writeFile(dir.file("cut.state"), good.substr(0, good.size() - 65));  // last line gone
  Chip reader("ATmega48");
  EXPECT_FALSE(reader.target.loadState(dir.file("cut.state"), &error));
  EXPECT_NE(error.find("cut short"), std::string::npos) << error;
  writeFile(dir.file("junk.state"), "hello\n");
  EXPECT_FALSE(reader.target.loadState(dir.file("junk.state"), &error));
  EXPECT_EQ(error, dir.file("junk.state") + " is not a target state file");
  EXPECT_FALSE(reader.target.loadState(dir.file("missing.state"), &error));
  EXPECT_EQ(reader.target.eeprom()[7], 0xFF);

  // A directory where the temporary file should go makes the save fail.
  ASSERT_EQ(mkdir((path + ".tmp").c_str(), 0700), 0);
  chip.target.eeprom()[7] = 0x70;
  EXPECT_FALSE(chip.target.saveState(path, &error));
  EXPECT_EQ(readFile(path), good);
  rmdir((path + ".tmp").c_str());
}

// A part without the EEPROM page instructions or Poll RDY/BSY (the ATmega8's
// 2486AA Table 98) ignores C1 and C2, and answers F0 the same writing or not.
TEST(SimulatedTarget, APartWithoutPagesOrReadyPollIgnoresBoth) {
  const DatasheetPart facts = {
      "ATmega8", {0x1E, 0x93, 0x07}, 0, {0xFF, 0xFF, 0xFF}, false, 9000, 4500, 9000, 4500, 0};
  Chip chip("ATmega8", facts);
  chip.enter();
  chip.instruction(0xC1, 0x00, 0x00, 0x44);
  chip.instruction(0xC2, 0x00, 0x00, 0x00);
  const uint8_t idle = chip.query(0xF0, 0x00, 0x00);
  chip.instruction(0xC0, 0x00, 0x01, 0x55);
  EXPECT_EQ(chip.query(0xF0, 0x00, 0x00), idle);
  EXPECT_EQ(chip.target.eeprom()[0], 0xFF);
}

}  // namespace
