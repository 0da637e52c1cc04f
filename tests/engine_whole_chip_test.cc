// The part an ELF names checked before the erase, and the whole-chip save and
// download around their failures, over a scripted link.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "engine/whole_chip.h"
#include "image/elf_writer.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega32Row = 1;  // 1E 95 02, two fuse bytes

int sent(const ScriptedLink& link, uint8_t first, uint8_t second) {
  int count = 0;
  for (const IspInstruction& i : link.instructionsWith(first)) count += i.bytes[1] == second;
  return count;
}

class WholeChip : public ::testing::Test {
 protected:
  WholeChip() {
    dir.enter();
    h.identifyAs(kAtmega32Row);
  }
  // An ELF with a little flash and EEPROM, the fuses and lock given and the
  // signature given; the link already holds the same flash and EEPROM, so
  // verifications match though it keeps no page writes.
  void writeElf(const std::string& name, std::vector<uint8_t> signature,
                const std::string& fuses = "", bool lock = false) {
    ChipContents chip;
    chip.flash = "\x0c\x94\x34\x00";
    chip.eeprom = "\x01\x02";
    chip.fuses = fuses;
    chip.hasLock = lock;
    chip.lock = 0xFE;
    for (int i = 0; i < 3; ++i) chip.signature[i] = signature[static_cast<size_t>(i)];
    writeFile(dir.file(name), avrElfOf(chip));
    h.link.flash.assign(chip.flash.begin(), chip.flash.end());
    h.link.eeprom.assign(chip.eeprom.begin(), chip.eeprom.end());
  }
  TempDir dir;
  EngineHarness h;
};

TEST_F(WholeChip, AnElfForAnotherPartIsRefusedBeforeTheErase) {
  struct Case {
    std::vector<uint8_t> signature;
    bool force;
    bool programs;
    std::string message;
  } cases[] = {
      {{0x1E, 0x95, 0x02}, false, true, ""},
      {{0x1E, 0x93, 0x0B},
       false,
       false,
       "fw.elf was built for ATtiny85 (1E 93 0B); the target is ATmega32 (1E 95 02) - nothing "
       "programmed\n"},
      {{0x1E, 0x00, 0x07},
       false,
       false,
       "fw.elf was built for an unknown part (1E 00 07); the target is ATmega32 (1E 95 02) - "
       "nothing programmed\n"},
      {{0x1E, 0x93, 0x0B},
       true,
       true,
       "Note: fw.elf was built for ATtiny85 (1E 93 0B); programming the ATmega32 all the same\n"},
  };
  for (const Case& c : cases) {
    for (bool eeprom : {false, true}) {
      SCOPED_TRACE(c.message + (eeprom ? " (EEPROM)" : " (flash)"));
      writeElf("fw.elf", c.signature);
      h.link.clearEvents();
      h.console.clearOutput();
      h.session.forcePart = c.force;
      h.session.settings.downloadFileName = "fw.elf";
      EXPECT_EQ(eeprom ? downloadEeprom(h.session) : downloadFlash(h.session), c.programs);
      EXPECT_EQ(h.console.output().compare(0, c.message.size(), c.message), 0)
          << h.console.output();
      EXPECT_EQ(h.console.output().find("Target matches fw.elf") != std::string::npos,
                c.programs);
      if (!c.programs) {
        EXPECT_EQ(sent(h.link, 0xAC, 0x80) + h.link.instructionsWith(0xC0).size(), 0u);
      }
    }
  }
}

TEST_F(WholeChip, TheFusesAndLockFollowOnlyVerifiedMemoriesAndTheGuard) {
  struct Case {
    const char* what;
    std::string fuses;
    uint8_t flashOnChip;  // what the chip reads back at address 0
    bool done;
    int fuseWrites;
    int lockWrites;
  } cases[] = {
      {"all verified", "\xe4\xd9", 0x0C, true, 2, 1},
      {"flash does not verify", "\xe4\xd9", 0x00, false, 0, 0},
      // SPIEN unprogrammed: held back for a confirmation, so no lock either.
      {"guard holds the fuses", "\xe4\xf9", 0x0C, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeElf("fw.elf", {0x1E, 0x95, 0x02}, c.fuses, true);
    h.link.flash[0] = c.flashOnChip;
    h.link.clearEvents();
    h.session.settings.downloadFileName = "fw.elf";
    EXPECT_EQ(downloadWholeChip(h.session), c.done);
    EXPECT_EQ(sent(h.link, 0xAC, 0xA0) + sent(h.link, 0xAC, 0xA8), c.fuseWrites);
    EXPECT_EQ(sent(h.link, 0xAC, 0xE0), c.lockWrites);
    EXPECT_FALSE(h.session.wholeChipDownload);
  }
}

TEST_F(WholeChip, ASaveFailsWithoutTouchingTheFileWhenTwoReadingsDiffer) {
  writeFile(dir.file("chip.elf"), "old backup");
  int reads = 0;
  h.link.onQuery = [&](const IspInstruction& i) -> uint8_t {
    // The low byte of word 0x10 reads 0x00 once in the first pass.
    if (i.bytes[0] == 0x20 && i.bytes[1] == 0x00 && i.bytes[2] == 0x10) {
      return ++reads == 1 ? 0x00 : 0xFF;
    }
    return i.bytes[0] == 0x58 ? h.link.lockBits : 0xFF;
  };
  h.session.settings.uploadFileName = "chip.elf";
  EXPECT_FALSE(uploadWholeChip(h.session));
  EXPECT_NE(h.console.output().find("Error - two readings of the flash differ at 000020 (00, then "
                                    "ff) - nothing saved\n"),
            std::string::npos)
      << h.console.output();

  h.link.onQuery = nullptr;
  h.link.lockBits = 0xFC;
  h.console.clearOutput();
  h.session.settings.uploadFileName = "chip.elf";
  EXPECT_FALSE(uploadWholeChip(h.session));
  EXPECT_EQ(h.console.output(),
            "Error - lock byte fc forbids reading the flash and EEPROM back - nothing saved\n");
  EXPECT_TRUE(readFile(dir.file("chip.elf")) == "old backup");
}

}  // namespace
