// The part an ELF names checked before the erase, and the whole-chip download
// and save around their failures, over a scripted link.

#include <gtest/gtest.h>

#include <string>

#include "engine/memory_transfer.h"
#include "engine/whole_chip.h"
#include "image/elf_writer.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_dir.h"

namespace {

int sent(const ScriptedLink& link, uint8_t first, uint8_t second) {
  int count = 0;
  for (const IspInstruction& i : link.instructionsWith(first)) count += i.bytes[1] == second;
  return count;
}

class WholeChip : public ::testing::Test {
 protected:
  WholeChip() {
    dir.enter();
    h.identifyAs(1);  // ATmega32: 1E 95 02, two fuse bytes
  }
  // fw.elf with the signature, fuses and lock given; the link holds its flash
  // and EEPROM already, so verifications match though it keeps no page writes.
  void writeElf(const char* signature, const std::string& fuses = "", bool lock = false) {
    ChipContents chip;
    chip.flash = "\x0c\x94\x34\x00";
    chip.eeprom = "\x01\x02";
    chip.fuses = fuses;
    chip.hasLock = lock;
    chip.lock = 0xFE;
    for (int i = 0; i < 3; ++i) chip.signature[i] = static_cast<uint8_t>(signature[i]);
    writeFile(dir.file("fw.elf"), avrElfOf(chip));
    h.link.flash.assign(chip.flash.begin(), chip.flash.end());
    h.link.eeprom.assign(chip.eeprom.begin(), chip.eeprom.end());
    h.link.clearEvents();
    h.console.clearOutput();
    h.session.settings.downloadFileName = "fw.elf";
  }
  TempDir dir;
  EngineHarness h;
};

TEST_F(WholeChip, AnElfForAnotherPartIsRefusedBeforeTheErase) {
  const std::string refusal = "; the target is ATmega32 (1E 95 02) - nothing programmed\n";
  struct Case {
    const char* signature;
    bool force;
    std::string message;  // "" when it programs without a word
  } cases[] = {
      {"\x1E\x95\x02", false, ""},
      {"\x1E\x93\x0B", false, "fw.elf was built for ATtiny85 (1E 93 0B)" + refusal},
      {"\x1E\x00\x07", false, "fw.elf was built for an unknown part (1E 00 07)" + refusal},
      {"\x1E\x93\x0B", true,
       "Note: fw.elf was built for ATtiny85 (1E 93 0B); programming the ATmega32 all the same\n"},
  };
  for (const Case& c : cases) {
    for (bool eeprom : {false, true}) {
      SCOPED_TRACE(c.message + (eeprom ? " (EEPROM)" : " (flash)"));
      writeElf(c.signature);
      h.session.forcePart = c.force;
      const bool programs = c.force || c.message.empty();
      EXPECT_EQ(eeprom ? downloadEeprom(h.session) : downloadFlash(h.session), programs);
      EXPECT_EQ(h.console.output().compare(0, c.message.size(), c.message), 0);
      EXPECT_EQ(sent(h.link, 0xAC, 0x80) + h.link.instructionsWith(0xC0).size() +
                        h.link.instructionsWith(0xA0).size() >
                    0,
                programs);  // no erase, EEPROM write or verification read when refused
    }
  }
}

TEST_F(WholeChip, TheFusesAndLockFollowOnlyVerifiedMemoriesAndTheGuard) {
  struct Case {
    const char* what;
    std::string fuses;
    uint8_t flashOnChip;  // what the chip reads back at address 0
    bool done;
    int fuseWrites, lockWrites;
  } cases[] = {
      {"all verified", "\xe4\xd9", 0x0C, true, 2, 1},
      {"flash does not verify", "\xe4\xd9", 0x00, false, 0, 0},
      {"SPIEN unprogrammed: held back", "\xe4\xf9", 0x0C, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeElf("\x1E\x95\x02", c.fuses, true);
    h.link.flash[0] = c.flashOnChip;
    EXPECT_EQ(downloadWholeChip(h.session), c.done);
    EXPECT_EQ(sent(h.link, 0xAC, 0xA0) + sent(h.link, 0xAC, 0xA8), c.fuseWrites);
    EXPECT_EQ(sent(h.link, 0xAC, 0xE0), c.lockWrites);
  }
}

TEST_F(WholeChip, ASaveFailsWithoutTouchingTheFileWhenTwoReadingsDifferOrTheChipIsLocked) {
  writeFile(dir.file("chip.elf"), "old backup");
  int reads = 0;
  h.link.onQuery = [&](const IspInstruction& i) -> uint8_t {
    // The low byte of word 0x10 reads 0x00 in the first pass only.
    if (i.bytes[0] == 0x20 && i.bytes[1] == 0x00 && i.bytes[2] == 0x10) {
      return ++reads == 1 ? 0x00 : 0xFF;
    }
    return i.bytes[0] == 0x58 ? h.link.lockBits : 0xFF;
  };
  for (uint8_t lock : {0xFF, 0xFC}) {
    h.link.lockBits = lock;
    h.console.clearOutput();
    h.session.settings.uploadFileName = "chip.elf";
    EXPECT_FALSE(uploadWholeChip(h.session));
    const std::string expected =
        lock == 0xFF ? "Error - two readings of the flash differ at 000020 (00, then ff)"
                     : "Error - lock byte fc forbids reading the flash and EEPROM back";
    EXPECT_NE(h.console.output().find(expected + " - nothing saved\n"), std::string::npos);
  }
  EXPECT_TRUE(readFile(dir.file("chip.elf")) == "old backup");
}

}  // namespace
