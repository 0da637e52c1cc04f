// Loading AVR ELF executables: segments by physical address into flash or
// EEPROM, the refusals, and agreement with what avr-objcopy makes of real
// avr-gcc output.

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/download_file.h"
#include "image/elf_part.h"
#include "image/elf_reader.h"
#include "image/hex_reader.h"
#include "run/console.h"
#include "tests/support/avr_examples.h"
#include "tests/support/temp_dir.h"

namespace {

struct Segment {
  uint32_t type;
  uint32_t address;
  std::string bytes;
};

std::string pattern(size_t length, int seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 7 + seed);
  return bytes;
}

// An ELF32 executable laid out as the linker does: header, program headers,
// then each segment's bytes. The host is little-endian like the AVR format.
std::string makeElf(const std::vector<Segment>& segments, uint16_t machine = EM_AVR) {
  Elf32_Ehdr header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS32;
  header.e_ident[EI_DATA] = ELFDATA2LSB;
  header.e_ident[EI_VERSION] = EV_CURRENT;
  header.e_type = ET_EXEC;
  header.e_machine = machine;
  header.e_version = EV_CURRENT;
  header.e_phoff = sizeof header;
  header.e_ehsize = sizeof header;
  header.e_phentsize = sizeof(Elf32_Phdr);
  header.e_phnum = static_cast<Elf32_Half>(segments.size());
  std::string file(reinterpret_cast<const char*>(&header), sizeof header);
  uint32_t offset = static_cast<uint32_t>(sizeof header + segments.size() * sizeof(Elf32_Phdr));
  std::string data;
  for (const Segment& segment : segments) {
    Elf32_Phdr program{};
    program.p_type = segment.type;
    program.p_offset = offset + static_cast<uint32_t>(data.size());
    program.p_vaddr = segment.address;
    program.p_paddr = segment.address;
    program.p_filesz = static_cast<uint32_t>(segment.bytes.size());
    program.p_memsz = program.p_filesz + 4;  // bss is not loaded
    file.append(reinterpret_cast<const char*>(&program), sizeof program);
    data += segment.bytes;
  }
  return file + data;
}

struct Loaded {
  ElfLoadResult result;
  std::unique_ptr<ImageBuffer> image = std::make_unique<ImageBuffer>();
};

Loaded loadElf(const std::string& file, ImageMemory memory) {
  Loaded loaded;
  loaded.image->fill(0x5A);
  loaded.result = loadElfImage(file.data(), file.size(), memory, *loaded.image, 0xFF);
  return loaded;
}

TEST(ElfReader, SegmentsLandAtTheirPhysicalAddressInTheirMemory) {
  const std::string low = pattern(300, 1), high = pattern(40, 2), eeprom = pattern(20, 3);
  const std::string file = makeElf({{PT_LOAD, 0, low},
                                    {PT_LOAD, 0x20100, high},  // above 128 KB
                                    {PT_NOTE, 0x400, pattern(8, 9)},
                                    {PT_LOAD, 0x800100, ""},  // bss: nothing in the file
                                    {PT_LOAD, 0x810010, eeprom},
                                    {PT_LOAD, 0x820000, "\xe2\xd9\xff"},  // fuses
                                    {PT_LOAD, 0x830000, "\xfc"}});        // lock
  ASSERT_TRUE(looksLikeElf(file.data(), file.size()));

  Loaded flash = loadElf(file, ImageMemory::kFlash);
  EXPECT_EQ(flash.result.status, ElfLoadStatus::kLoaded);
  EXPECT_EQ(flash.result.loadLength, 0x20100 + 40);
  EXPECT_EQ(flash.result.bytesIgnored, 4);
  EXPECT_EQ(std::string(flash.image->begin(), flash.image->begin() + 300), low);
  EXPECT_EQ(std::string(flash.image->begin() + 0x20100, flash.image->begin() + 0x20128), high);
  EXPECT_EQ((*flash.image)[300], 0xFF);
  EXPECT_EQ((*flash.image)[0x400], 0xFF);

  Loaded eepromImage = loadElf(file, ImageMemory::kEeprom);
  EXPECT_EQ(eepromImage.result.status, ElfLoadStatus::kLoaded);
  EXPECT_EQ(eepromImage.result.loadLength, 0x10 + 20);
  EXPECT_EQ(std::string(eepromImage.image->begin() + 0x10, eepromImage.image->begin() + 0x24),
            eeprom);
  EXPECT_EQ((*eepromImage.image)[0], 0xFF);
}

// A boot loader's section linked into its own segment may come first in the
// program headers: the load still reaches the highest address of any segment.
TEST(ElfReader, SegmentsListedOutOfAddressOrderLoadUpToTheHighest) {
  const std::string boot = pattern(64, 4), application = pattern(200, 5), data = pattern(10, 6);
  const std::string file = makeElf({{PT_LOAD, 0x1F000, boot},
                                    {PT_LOAD, 0, application},
                                    {PT_LOAD, 0x810020, data},
                                    {PT_LOAD, 0x810000, pattern(4, 7)}});
  Loaded flash = loadElf(file, ImageMemory::kFlash);
  EXPECT_EQ(flash.result.status, ElfLoadStatus::kLoaded);
  EXPECT_EQ(flash.result.loadLength, 0x1F000 + 64);
  EXPECT_EQ(std::string(flash.image->begin() + 0x1F000, flash.image->begin() + 0x1F040), boot);
  EXPECT_EQ(std::string(flash.image->begin(), flash.image->begin() + 200), application);

  Loaded eeprom = loadElf(file, ImageMemory::kEeprom);
  EXPECT_EQ(eeprom.result.loadLength, 0x20 + 10);
}

TEST(ElfReader, RefusesWhatIsNoAvrElf32OrHoldsNothingForTheMemory) {
  std::string file = makeElf({{PT_LOAD, 0, pattern(16, 1)}});
  std::string wide = file, big = file;
  wide[EI_CLASS] = ELFCLASS64;
  big[EI_DATA] = ELFDATA2MSB;
  EXPECT_EQ(loadElf(wide, ImageMemory::kFlash).result.status, ElfLoadStatus::kNotElf32);
  EXPECT_EQ(loadElf(big, ImageMemory::kFlash).result.status, ElfLoadStatus::kNotLittleEndian);
  EXPECT_EQ(loadElf(makeElf({{PT_LOAD, 0, "ab"}}, EM_386), ImageMemory::kFlash).result.status,
            ElfLoadStatus::kNotAvr);
  EXPECT_EQ(loadElf(file, ImageMemory::kEeprom).result.status, ElfLoadStatus::kNoData);
  EXPECT_EQ(loadElf(file.substr(0, 40), ImageMemory::kFlash).result.status,
            ElfLoadStatus::kDamaged);
  EXPECT_EQ(loadElf(file.substr(0, 6), ImageMemory::kFlash).result.status, ElfLoadStatus::kDamaged);
  EXPECT_EQ(loadElf(file.substr(0, file.size() - 1), ImageMemory::kFlash).result.status,
            ElfLoadStatus::kDamaged);  // the segment runs past the end
  EXPECT_EQ(loadElf(file.substr(0, 60), ImageMemory::kFlash).result.status,
            ElfLoadStatus::kDamaged);  // the program header table is cut
  // A damaged segment after a good one: what the good one loaded counts for
  // nothing (found by the ELF fuzz target).
  std::string two = makeElf({{PT_LOAD, 0, pattern(16, 1)}, {PT_LOAD, 0x100, pattern(16, 2)}});
  Loaded cut = loadElf(two.substr(0, two.size() - 1), ImageMemory::kFlash);
  EXPECT_EQ(cut.result.status, ElfLoadStatus::kDamaged);
  EXPECT_EQ(cut.result.loadLength, 0);
  EXPECT_FALSE(looksLikeElf(":00000001FF", 11));
}

class DownloadFile : public ::testing::Test {
 protected:
  DownloadFile() { dir.enter(); }
  DownloadLoad load(const std::string& name, ImageMemory memory) {
    console.clearOutput();
    return loadDownloadFile(name, memory, *image, 0xFF, console);
  }
  TempDir dir;
  ScriptedConsole console;
  std::unique_ptr<ImageBuffer> image = std::make_unique<ImageBuffer>();
};

TEST_F(DownloadFile, ElfRefusalsAndNotesAreOneLineEach) {
  writeFile("fw.elf", makeElf({{PT_LOAD, 0, pattern(10, 1)},
                               {PT_LOAD, 0x820000, "\xe2\xd9"},
                               {PT_LOAD, 0x800100, "abc"}}));
  EXPECT_EQ(load("fw.elf", ImageMemory::kEeprom).outcome, DownloadOutcome::kRefused);
  EXPECT_EQ(console.output(), "No EEPROM data in fw.elf\n");

  DownloadLoad flash = load("fw.elf", ImageMemory::kFlash);
  EXPECT_EQ(flash.outcome, DownloadOutcome::kLoaded);
  EXPECT_EQ(flash.loadLength, 10);
  // The fuses are the download flow's to mention; only the RAM data is noted.
  EXPECT_EQ(console.output(), "Note: 3 bytes of RAM or other data in fw.elf ignored\n");
  EXPECT_EQ(flash.elf.fuseCount, 2);

  writeFile("pc.elf", makeElf({{PT_LOAD, 0, "ab"}}, EM_X86_64));
  EXPECT_EQ(load("pc.elf", ImageMemory::kFlash).outcome, DownloadOutcome::kRefused);
  EXPECT_EQ(console.output(),
            "pc.elf is an ELF file for another processor, not the AVR - nothing programmed\n");
}

// --- Against the toolchain ----------------------------------------------------

const char kFirmwareWithEverySection[] = R"(
#include <avr/io.h>
#include <avr/eeprom.h>
#include <avr/pgmspace.h>
FUSES = {0xE2, 0xD9, 0xFF};
LOCKBITS = 0xFC;
EEMEM unsigned char settings[40] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
const unsigned char table[600] PROGMEM = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 99};
volatile unsigned char counter = 17;
int main(void) {
  for (;;) counter += pgm_read_byte(&table[counter]) + eeprom_read_byte(&settings[counter & 31]);
}
)";

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class AgainstObjcopy : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!haveAvrToolchain()) GTEST_SKIP() << "needs gcc-avr and binutils-avr";
  }

  // The ELF loaded for `memory` equals the HEX file avr-objcopy makes of it.
  void expectSameAsObjcopy(const std::string& elf, ImageMemory memory) {
    const std::string hex = elf + (memory == ImageMemory::kFlash ? ".flash.hex" : ".eeprom.hex");
    const std::string options = memory == ImageMemory::kFlash
                                    ? "-R .eeprom -R .fuse -R .lock -R .signature"
                                    : "-j .eeprom --change-section-lma .eeprom=0";
    ASSERT_TRUE(run("avr-objcopy -O ihex " + options + " " + elf + " " + hex));
    const std::string text = readFile(hex);
    auto expected = std::make_unique<ImageBuffer>();
    HexLoadResult fromHex = loadHexText(text.data(), text.size(), *expected, 0xFF);
    const std::string bytes = readFile(elf);
    auto actual = std::make_unique<ImageBuffer>();
    ElfLoadResult fromElf = loadElfImage(bytes.data(), bytes.size(), memory, *actual, 0xFF);
    EXPECT_EQ(fromElf.status, ElfLoadStatus::kLoaded) << elf;
    EXPECT_GT(fromElf.loadLength, 0) << elf;
    EXPECT_EQ(fromElf.loadLength, fromHex.loadLength) << elf;
    EXPECT_TRUE(*actual == *expected) << elf << ": images differ";
  }

  TempDir dir;
};

TEST_P(AgainstObjcopy, FlashAndEepromLoadAsObjcopysHexDoes) {
  const std::string mcu = GetParam();
  const std::string examples = builtExamples(mcu);
  ASSERT_FALSE(examples.empty()) << "examples/build.sh failed for " << mcu;
  // The table fills most of the flash: on the ATmega2560 far above 128 KB.
  expectSameAsObjcopy(examples + "/table.elf", ImageMemory::kFlash);
  expectSameAsObjcopy(examples + "/eeprom_data.elf", ImageMemory::kEeprom);

  writeFile(dir.file("every.c"), kFirmwareWithEverySection);
  const std::string elf = dir.file("every.elf");
  ASSERT_TRUE(run("avr-gcc -mmcu=" + mcu + " -Os -o " + elf + " " + dir.file("every.c")));
  expectSameAsObjcopy(elf, ImageMemory::kFlash);
  expectSameAsObjcopy(elf, ImageMemory::kEeprom);
  const std::string bytes = readFile(elf);
  auto image = std::make_unique<ImageBuffer>();
  EXPECT_EQ(
      loadElfImage(bytes.data(), bytes.size(), ImageMemory::kFlash, *image, 0xFF).bytesIgnored,
      4);  // three fuse bytes and the lock byte
  // The fuses low byte first, as FUSES orders them, and the name from the note.
  const ElfPart part = readElfPart(bytes.data(), bytes.size());
  EXPECT_EQ(part.deviceName, mcu);
  EXPECT_EQ(std::string(part.fuses, part.fuses + part.fuseCount), "\xE2\xD9\xFF");
  EXPECT_EQ(part.lock, 0xFC);
  // Every cut of a real file is read without a fault (the sanitizers judge).
  for (size_t length = 0; length < bytes.size(); ++length) readElfPart(bytes.data(), length);
}

INSTANTIATE_TEST_SUITE_P(Parts, AgainstObjcopy, ::testing::Values("atmega2560", "atmega48"));

}  // namespace
