// The whole chip written as an AVR ELF and read back, and what an ELF says of
// its part, against the toolchain's own output.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "image/elf_part.h"
#include "image/elf_reader.h"
#include "image/elf_writer.h"
#include "tests/support/avr_examples.h"
#include "tests/support/temp_dir.h"

namespace {

std::string pattern(size_t length, int seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 13 + seed);
  return bytes;
}

std::string loaded(const std::string& file, ImageMemory memory, size_t length) {
  auto image = std::make_unique<ImageBuffer>();
  EXPECT_EQ(loadElfImage(file.data(), file.size(), memory, *image, 0xFF).status,
            ElfLoadStatus::kLoaded);
  return std::string(image->begin(), image->begin() + static_cast<long>(length));
}

ChipContents sampleChip(size_t fuses, bool lock) {
  ChipContents chip;
  chip.flash = pattern(301, 1);  // odd, so the next section starts unaligned
  chip.eeprom = pattern(64, 2);
  chip.fuses = std::string("\xe2\xd9\xfd").substr(0, fuses);
  chip.hasLock = lock;
  chip.lock = 0xFE;
  chip.signature[0] = 0x1E, chip.signature[1] = 0x95, chip.signature[2] = 0x0F;
  return chip;
}

TEST(ElfWriter, WhatIsWrittenLoadsBackSectionBySection) {
  for (size_t fuses = 0; fuses <= 3; ++fuses) {
    const ChipContents chip = sampleChip(fuses, fuses != 2);
    const std::string file = avrElfOf(chip);
    EXPECT_EQ(loaded(file, ImageMemory::kFlash, 301), chip.flash);
    EXPECT_EQ(loaded(file, ImageMemory::kEeprom, 64), chip.eeprom);
    const ElfPart part = readElfPart(file.data(), file.size());
    EXPECT_EQ(part.fuseCount, static_cast<int>(fuses));
    EXPECT_EQ(std::string(part.fuses, part.fuses + fuses), chip.fuses);
    EXPECT_EQ(part.hasLock, chip.hasLock);
    EXPECT_TRUE(part.hasEeprom);
    ASSERT_TRUE(part.hasSignature);
    EXPECT_EQ(part.signature[0], 0x1E);
    EXPECT_EQ(part.signature[2], 0x0F);
    EXPECT_TRUE(part.deviceName.empty());
  }
}

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class AgainstToolchain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveAvrToolchain()) GTEST_SKIP() << "needs gcc-avr, avr-libc and binutils-avr";
  }
  std::string build(const std::string& mcu, const std::string& includes) {
    writeFile(dir.file("fw.c"), includes +
                                    "#include <avr/io.h>\n"
                                    "FUSES = {0x62, 0xDF, 0xFE};\n"
                                    "LOCKBITS = 0xFC;\n"
                                    "int main(void) { for (;;) PORTB ^= 1; }\n");
    const std::string elf = dir.file(mcu + ".elf");
    EXPECT_TRUE(run("avr-gcc -mmcu=" + mcu + " -Os -o " + elf + " " + dir.file("fw.c")));
    return readFile(elf);
  }
  TempDir dir;
};

TEST_F(AgainstToolchain, TheNoteNamesThePartAndSignatureHFillsTheSignature) {
  const std::string withSignature = build("attiny85", "#include <avr/signature.h>\n");
  ElfPart part = readElfPart(withSignature.data(), withSignature.size());
  EXPECT_EQ(part.deviceName, "attiny85");
  ASSERT_TRUE(part.hasSignature);
  EXPECT_EQ(part.signature[0], 0x1E);
  EXPECT_EQ(part.signature[1], 0x93);
  EXPECT_EQ(part.signature[2], 0x0B);
  EXPECT_EQ(part.fuseCount, 3);
  EXPECT_EQ(part.fuses[0], 0x62);  // low first, as avr-libc orders them
  EXPECT_EQ(part.fuses[2], 0xFE);
  EXPECT_TRUE(part.hasLock);
  EXPECT_EQ(part.lock, 0xFC);

  const std::string plain = build("atmega328p", "");
  part = readElfPart(plain.data(), plain.size());
  EXPECT_EQ(part.deviceName, "atmega328p");
  EXPECT_FALSE(part.hasSignature);

  // Every cut of a real file is read without a fault (the sanitizers judge).
  for (size_t length = 0; length < withSignature.size(); ++length) {
    readElfPart(withSignature.data(), length);
  }
}

TEST_F(AgainstToolchain, BinutilsReadTheWrittenFile) {
  const ChipContents chip = sampleChip(3, true);
  const std::string elf = dir.file("chip.elf");
  writeFile(elf, avrElfOf(chip));
  ASSERT_TRUE(run("{ avr-objdump -h " + elf + " > " + dir.file("headers.txt") + "; }"));
  const std::string headers = readFile(dir.file("headers.txt"));
  for (const char* section : {".text ", ".eeprom ", ".fuse ", ".lock ", ".signature "}) {
    EXPECT_NE(headers.find(section), std::string::npos) << section << " missing:\n" << headers;
  }
  ASSERT_TRUE(run("avr-objcopy -O binary -j .text " + elf + " " + dir.file("flash.bin")));
  EXPECT_EQ(readFile(dir.file("flash.bin")), chip.flash);
  ASSERT_TRUE(run("avr-objcopy -O binary -j .signature " + elf + " " + dir.file("sig.bin")));
  EXPECT_EQ(readFile(dir.file("sig.bin")), "\x0f\x95\x1e");
}

}  // namespace
