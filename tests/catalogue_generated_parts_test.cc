// The catalogue as both programs start with it: rows 0 to 12, then every part
// avr-libc describes that the ISP instruction set programs, generated from the
// headers by scripts/generate_parts.py; and the user's parts.txt.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/avr_libc_parts.h"
#include "catalogue/fuse_bits.h"
#include "catalogue/part_record.h"
#include "catalogue/parts_file.h"
#include "frontend/configuration.h"
#include "tests/support/temp_dir.h"

namespace {

PartCatalogue full(const PartRows& rows) {
  PartCatalogue catalogue;
  fillFullCatalogue(catalogue, rows);
  return catalogue;
}

const PartRecord& rowNamed(const PartCatalogue& catalogue, const char* name) {
  int row = findPartByName(catalogue, name);
  EXPECT_GE(row, 0) << name;
  return catalogue.rows[static_cast<size_t>(row < 0 ? 0 : row)];
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool haveCommand(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The numeric macros avr/io.h gives one -mmcu, their expressions (such as
// "(1024 - 1)") worked out by the preprocessor itself.
// A device this avr-gcc does not know (the ATtiny841) is read through a core
// of its kind with its own macro defined, as the generator reads it.
std::map<std::string, long> deviceValues(const std::string& mcu, const std::string& device = "") {
  const char* names[] = {"SIGNATURE_0", "SIGNATURE_1", "SIGNATURE_2", "FLASHEND",
                         "SPM_PAGESIZE", "E2END", "FUSE_MEMORY_SIZE"};
  std::string program = "#include <avr/io.h>\n";
  for (const char* name : names) {
    program += std::string("long v_") + name + " = " + name + ";\n";
  }
  TempDir dir;
  FILE* source = std::fopen(dir.file("p.c").c_str(), "w");
  std::fputs(program.c_str(), source);
  std::fclose(source);
  std::string target = "-mmcu=" + mcu;
  if (!device.empty()) {
    target = std::string("-mmcu=") + (mcu.rfind("attiny", 0) == 0 ? "avr25" : "avr5") +
             " -D__AVR_" + device + "__";
  }
  std::string command = "avr-gcc " + target + " -E -P " + dir.file("p.c") + " 2>/dev/null";
  std::map<std::string, long> values;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return values;
  char line[4096];
  std::string text;
  while (std::fgets(line, sizeof line, pipe)) text += line;
  pclose(pipe);
  for (const char* name : names) {
    std::string key = std::string("long v_") + name + " = ";
    size_t at = text.find(key);
    if (at == std::string::npos) continue;
    size_t end = text.find(';', at);
    std::string expression = text.substr(at + key.size(), end - at - key.size());
    // The expressions are small: numbers, casts, parentheses, + and -.
    std::string digits;
    for (char c : expression) {
      if (c != '(' && c != ')' && c != 'U' && c != 'L' && c != ' ') digits += c;
    }
    long value = 0;
    size_t minus = digits.find('-', 1);
    if (minus != std::string::npos) {
      value = std::strtol(digits.substr(0, minus).c_str(), nullptr, 0) -
              std::strtol(digits.substr(minus + 1).c_str(), nullptr, 0);
    } else {
      value = std::strtol(digits.c_str(), nullptr, 0);
    }
    values[name] = value;
  }
  return values;
}

class BothFullCatalogues : public ::testing::TestWithParam<const PartRows* (*)()> {};

const PartRows* korvo() {
  return &korvoPartRows();
}
const PartRows* marlow() {
  return &marlowPartRows();
}

TEST_P(BothFullCatalogues, RowsZeroToTwelveStayAndTheGeneratedRowsFollow) {
  const PartRows& own = *GetParam()();
  PartCatalogue catalogue = full(own);
  ASSERT_GE(catalogue.partCount, 100);
  for (int i = 0; i < kCatalogueRows; ++i) {
    // Only the waits may follow the datasheet facts.
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    PartRecord expected = own[static_cast<size_t>(i)];
    expected.hasPollReady = row.hasPollReady;
    expected.eraseWaitMicros = row.eraseWaitMicros;
    expected.flashWaitMicros = row.flashWaitMicros;
    expected.eepromWaitMicros = row.eepromWaitMicros;
    expected.fuseWaitMicros = row.fuseWaitMicros;
    EXPECT_EQ(std::memcmp(&row, &expected, sizeof(PartRecord)), 0) << i;
  }
  std::set<std::string> signatures;
  for (int i = 0; i < catalogue.partCount; ++i) {
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(signatures.insert(std::string(reinterpret_cast<const char*>(row.signature), 3))
                    .second);
    EXPECT_EQ(findPartBySignature(catalogue, row.signature), i);
    EXPECT_EQ(findPartByName(catalogue, row.name), i);
    EXPECT_EQ(std::strchr(row.name, ' '), nullptr);
    EXPECT_EQ(row.signatureLength, 3);
    EXPECT_EQ(row.origin, PartOrigin::kBuiltIn);
    EXPECT_GE(row.fuseCount, 1);
    EXPECT_LE(row.fuseCount, 3);
    EXPECT_GE(row.flashPageWords, 8);  // the ATtiny441/841's 16-byte page
    EXPECT_LE(row.flashPageWords, 128);
    EXPECT_EQ(row.flashBytes % (row.flashPageWords * 2), 0);
    // Every built-in part has its fuse bits named, for the fuse guards.
    EXPECT_NE(findFuseBits(row.signature), nullptr);
    if (i >= kCatalogueRows) {
      for (int fuse = row.fuseCount + 1; fuse <= 3; ++fuse) {
        EXPECT_EQ(partDefaultFuse(catalogue, i, fuse), 0xFF);
      }
    }
  }
}

TEST_P(BothFullCatalogues, TheNamedPartsAreThereUnderEachOfTheirNames) {
  PartCatalogue catalogue = full(*GetParam()());
  for (const char* name :
       {"ATmega328P", "ATtiny85", "ATtiny13A", "ATtiny13", "ATtiny2313", "ATmega32U4", "ATmega8",
        "ATmega8A", "ATmega16U2", "ATmega324P", "AT90USB1286", "AT90USB1287", "attiny85",
        "ATmega16", "ATmega32", "ATmega2561", "AT90USB162", "ATmega1284P", "ATmega8/ATmega8A"}) {
    EXPECT_GE(findPartByName(catalogue, name), 0) << name;
  }
  EXPECT_EQ(findPartByName(catalogue, "ATmega8/"), -1);
  EXPECT_EQ(findPartByName(catalogue, "ATmega"), -1);
  EXPECT_EQ(findPartByName(catalogue, ""), -1);
  // The rows 0 to 12 keep their own names; another part of the same
  // signature names the same row.
  EXPECT_EQ(findPartByName(catalogue, "ATmega16A"), 0);
  EXPECT_EQ(findPartByName(catalogue, "ATmega32A"), 1);
  const PartRecord& m8 = rowNamed(catalogue, "ATmega8A");
  EXPECT_STREQ(m8.name, "ATmega8/ATmega8A");
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BothFullCatalogues, ::testing::Values(korvo, marlow));

TEST(FullCatalogue, EachProgramGainsThePartOnlyTheOtherHadAndTheOrderIsShared) {
  PartCatalogue tarnwick = full(korvoPartRows());
  PartCatalogue pellory = full(marlowPartRows());
  EXPECT_EQ(tarnwick.partCount, pellory.partCount);
  EXPECT_GE(findPartByName(tarnwick, "AT90USB162"), kCatalogueRows);
  EXPECT_GE(findPartByName(pellory, "ATmega1284P"), kCatalogueRows);
  // Past row 12 both follow the generated order, each leaving out only what
  // its own rows 0 to 12 hold.
  std::vector<std::string> a, b;
  for (int i = kCatalogueRows; i < tarnwick.partCount; ++i) {
    std::string name = tarnwick.rows[static_cast<size_t>(i)].name;
    if (name != "AT90USB162") a.push_back(name);
  }
  for (int i = kCatalogueRows; i < pellory.partCount; ++i) {
    std::string name = pellory.rows[static_cast<size_t>(i)].name;
    if (name != "ATmega1284P") b.push_back(name);
  }
  EXPECT_EQ(a, b);
}

TEST(FullCatalogue, DefaultFusesOfTheNewRowsAreKeptExtendedHighLow) {
  PartCatalogue catalogue = full(korvoPartRows());
  int m328 = findPartByName(catalogue, "ATmega328P");
  ASSERT_GE(m328, 0);
  EXPECT_EQ(partDefaultFuse(catalogue, m328, 1), 0x62);
  EXPECT_EQ(partDefaultFuse(catalogue, m328, 2), 0xD9);
  EXPECT_EQ(partDefaultFuse(catalogue, m328, 3), 0xFF);
  const uint8_t m328Bytes[4] = {0xFF, 0xD9, 0x62, 0xFF};
  EXPECT_EQ(std::memcmp(catalogue.rows[static_cast<size_t>(m328)].defaultFuses, m328Bytes, 4), 0);

  int t13 = findPartByName(catalogue, "ATtiny13A");
  const PartRecord& tiny13 = catalogue.rows[static_cast<size_t>(t13)];
  EXPECT_EQ(tiny13.fuseCount, 2);
  EXPECT_TRUE(partHasFuse(tiny13, 2));
  EXPECT_FALSE(partHasFuse(tiny13, 3));
  EXPECT_EQ(partDefaultFuse(catalogue, t13, 1), 0x6A);
  EXPECT_EQ(partDefaultFuse(catalogue, t13, 2), 0xFF);
  EXPECT_EQ(tiny13.flashPageWords, 16);

  // The ATmega32 row keeps its specified layout: high D9 in byte 0, low E4.
  EXPECT_TRUE(isHighLowDefaultsRow(catalogue, kTwoFuseRow));
  EXPECT_EQ(partDefaultFuse(catalogue, kTwoFuseRow, 1), 0xE4);
  EXPECT_EQ(partDefaultFuse(catalogue, kTwoFuseRow, 2), 0xD9);
  EXPECT_EQ(partDefaultFuse(catalogue, kTwoFuseRow, 3), 0xFF);
  EXPECT_FALSE(isHighLowDefaultsRow(catalogue, t13));

  // A part avr-libc gives no defaults for says so.
  int unknown = -1;
  for (int i = 0; i < catalogue.partCount; ++i) {
    if (!partHasDefaultFuses(catalogue.rows[static_cast<size_t>(i)])) unknown = i;
  }
  ASSERT_GE(unknown, kCatalogueRows) << "avr-libc 2.0 lacks the ATmega165A's defaults";
  EXPECT_EQ(catalogue.rows[static_cast<size_t>(unknown)].defaultFuses[0], 0xFF);
}

TEST(FuseBitTable, BitsSitInTheirBytesAsTheDatasheetsSay) {
  auto bit = [](const char* part, const char* name, int* fuse, int* position) {
    const AvrLibcPart* row = findAvrLibcPart(part);
    ASSERT_NE(row, nullptr) << part;
    const PartFuseBits* bits = findFuseBits(row->signature);
    ASSERT_NE(bits, nullptr);
    for (size_t i = 0; i < bits->bitCount; ++i) {
      if (std::strcmp(bits->bits[i].name, name) == 0) {
        *fuse = bits->bits[i].fuseNumber;
        *position = bits->bits[i].bit;
        return;
      }
    }
    ADD_FAILURE() << part << " has no " << name;
  };
  struct Expected {
    const char* part;
    const char* name;
    int fuse, bit;
  };
  const Expected cases[] = {
      {"ATmega328P", "SPIEN", 2, 5},   {"ATmega328P", "CKDIV8", 1, 7},
      {"ATmega328P", "BODLEVEL2", 3, 2}, {"ATtiny13A", "EESAVE", 1, 6},
      // A joined row has its first part's names: the ATtiny13's SPMEN is the
      // ATtiny13A's SELFPRGEN.
      {"ATtiny13A", "SPIEN", 1, 7},    {"ATtiny13A", "SPMEN", 2, 4},
      {"ATtiny2313", "EESAVE", 2, 6},  {"ATtiny2313", "SELFPRGEN", 3, 0},
      {"ATtiny85", "RSTDISBL", 2, 7},  {"ATmega8", "CKOPT", 2, 4},
      {"ATmega8", "BODEN", 1, 6},      {"ATmega32U4", "HWBE", 3, 3},
      {"ATmega2560", "JTAGEN", 2, 6},  {"ATmega16HVA", "SPIEN", 1, 5},
  };
  for (const Expected& e : cases) {
    SCOPED_TRACE(std::string(e.part) + " " + e.name);
    int fuse = 0, position = 0;
    bit(e.part, e.name, &fuse, &position);
    EXPECT_EQ(fuse, e.fuse);
    EXPECT_EQ(position, e.bit);
  }
  // Bits come low fuse first, each at most once.
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    const PartFuseBits& bits = avrLibcFuseBits()[i];
    SCOPED_TRACE(avrLibcParts()[i].name);
    EXPECT_EQ(std::memcmp(bits.signature, avrLibcParts()[i].signature, 3), 0);
    std::set<int> seen;
    int last = 0;
    for (size_t k = 0; k < bits.bitCount; ++k) {
      EXPECT_GE(bits.bits[k].fuseNumber, last);
      EXPECT_LE(bits.bits[k].fuseNumber, avrLibcParts()[i].fuseCount);
      last = bits.bits[k].fuseNumber;
      EXPECT_TRUE(seen.insert(bits.bits[k].fuseNumber * 8 + bits.bits[k].bit).second);
    }
  }
}

// For each part, by every name it is listed under, the signature, flash,
// page and EEPROM size agree with avr-libc's headers.
TEST(FullCatalogue, EveryRowAgreesWithTheDeviceHeaders) {
  if (!haveCommand("avr-gcc")) GTEST_SKIP() << "needs gcc-avr and avr-libc";
  std::set<std::string> corrected;
  std::ifstream report(std::string(AVRISP_SOURCE_DIR) + "/scripts/datasheet_disagreements.txt");
  for (std::string line; std::getline(report, line);) {
    const size_t bar = line.find(" | signature |");
    if (bar != std::string::npos) corrected.insert(line.substr(0, bar));
  }
  // tarnwick's catalogue holds every signature; pellory's differs only in
  // rows 0 to 12.
  for (const PartRows* (*rows)() : {korvo, marlow}) {
    PartCatalogue catalogue = full(*rows());
    const int end = rows == korvo ? catalogue.partCount : kCatalogueRows;
    for (int i = 0; i < end; ++i) {
      const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
      // The first name of a joined row stands for all: the generator has
      // checked that they share their geometry.
      std::string first = row.name;
      first = first.substr(0, first.find('/'));
      SCOPED_TRACE(row.name);
      std::map<std::string, long> values = deviceValues(lower(first));
      if (!values.count("SIGNATURE_0")) values = deviceValues(lower(first), first);
      ASSERT_TRUE(values.count("SIGNATURE_0")) << "avr-libc does not know " << first;
      // Where the datasheet corrects avr-libc's signature, the report says so.
      if (!corrected.count(first)) {
        EXPECT_EQ(values["SIGNATURE_0"], row.signature[0]);
        EXPECT_EQ(values["SIGNATURE_1"], row.signature[1]);
        EXPECT_EQ(values["SIGNATURE_2"], row.signature[2]);
      }
      EXPECT_EQ(values["FLASHEND"] + 1, row.flashBytes);
      EXPECT_EQ(values["SPM_PAGESIZE"], row.flashPageWords * 2);
      EXPECT_EQ(values["E2END"] + 1, row.eepromBytes);
      // Rows 0 to 12 keep their specified counts (the ATmega16 row says 3).
      if (i >= kCatalogueRows) {
        EXPECT_EQ(values["FUSE_MEMORY_SIZE"], row.fuseCount);
      }
    }
  }
}

// The committed table is what the generator makes of the installed avr-libc.
TEST(Generator, CommittedTableIsWhatTheGeneratorWrites) {
  if (!haveCommand("avr-gcc") || !haveCommand("python3")) {
    GTEST_SKIP() << "needs gcc-avr, avr-libc and python3";
  }
  std::string command = std::string("python3 ") + AVRISP_SOURCE_DIR +
                        "/scripts/generate_parts.py --check 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) output += line;
  int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output
                       << "run scripts/generate_parts.py and commit catalogue/avr_libc_parts.cc";
}

TEST(PartsFile, GoodLinesAreTakenAndBadOnesNamedWithTheirFault) {
  std::vector<PartsFileLine> lines = parsePartsText(
      "# my parts\n"
      "ATmega328PB 1E 95 16 32768 64 1024 3 62 D9 F7   # newer than avr-libc 2.0\n"
      "\n"
      "Tiny2 1E9522 0x800 16 128 2 -\n"
      "One 1E 90 99 1024 16 64 1 6a\n"
      "Bad 1E 95 32768 64 1024 3 -\n"
      "Bad2 1E 95 17 32768 48 1024 3 -\n"
      "Bad3 1E 95 18 32768 64 1024 3 62 D9\n"
      "Bad4 1E 95 19 32760 64 1024 3 -\n"
      "Bad5 1E 95 1A 32768 64 1024 4 -\n"
      "Bad6 1E 95 1B 32768 64 1024 2 62 D9 FF\n"
      "Bad7 1E 95 1C 524288 64 1024 2 -\n");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0].lineNumber, 2);
  EXPECT_EQ(lines[0].fault, "");
  EXPECT_STREQ(lines[0].part.name, "ATmega328PB");
  const uint8_t sig[3] = {0x1E, 0x95, 0x16};
  EXPECT_EQ(std::memcmp(lines[0].part.signature, sig, 3), 0);
  EXPECT_EQ(lines[0].part.flashBytes, 32768);
  EXPECT_EQ(lines[0].part.flashPageWords, 64);
  EXPECT_EQ(lines[0].part.eepromBytes, 1024);
  EXPECT_EQ(lines[0].part.fuseCount, 3);
  const uint8_t defaults[4] = {0xF7, 0xD9, 0x62, 0xFF};  // extended, high, low
  EXPECT_EQ(std::memcmp(lines[0].part.defaultFuses, defaults, 4), 0);
  EXPECT_EQ(lines[0].part.origin, PartOrigin::kPartsFile);
  EXPECT_FALSE(lines[0].part.noDefaultFuses);

  EXPECT_EQ(lines[1].fault, "");
  EXPECT_EQ(lines[1].part.flashBytes, 2048);
  EXPECT_EQ(lines[1].part.signature[2], 0x22);
  EXPECT_TRUE(lines[1].part.noDefaultFuses);
  EXPECT_EQ(lines[2].fault, "");
  EXPECT_EQ(lines[2].part.defaultFuses[kLowFuseByte], 0x6A);
  EXPECT_EQ(lines[2].part.defaultFuses[kHighFuseByte], 0xFF);

  EXPECT_EQ(lines[3].lineNumber, 6);
  EXPECT_NE(lines[3].fault, "");
  EXPECT_NE(lines[4].fault.find("power of two"), std::string::npos) << lines[4].fault;
  EXPECT_NE(lines[5].fault.find("gives 2 defaults"), std::string::npos) << lines[5].fault;
  EXPECT_NE(lines[6].fault.find("whole number"), std::string::npos) << lines[6].fault;
  EXPECT_NE(lines[7].fault.find("1, 2 or 3"), std::string::npos) << lines[7].fault;
  EXPECT_NE(lines[8].fault.find("follows the last field"), std::string::npos) << lines[8].fault;
  EXPECT_NE(lines[9].fault.find("flash size"), std::string::npos) << lines[9].fault;
}

TEST(PartsFile, AKnownSignatureReplacesItsRowAndTheRestAreAppended) {
  TempDir dir;
  std::string path = dir.file("parts.txt");
  FILE* file = std::fopen(path.c_str(), "w");
  std::fputs("Mine328 1E 95 0F 32768 64 1024 3 -\n"
             "garbage here\n"
             "ATmega328PB 1E 95 16 32768 64 1024 3 62 D9 F7\n",
             file);
  std::fclose(file);
  PartCatalogue catalogue;
  int before = fillFullCatalogue(catalogue, korvoPartRows());
  int m328 = findPartByName(catalogue, "ATmega328P");
  std::vector<std::string> messages;
  EXPECT_EQ(readPartsFile(catalogue, path, &messages), 2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], path + " line 1: Mine328 replaces the built-in ATmega328P (1E 95 0F) "
                                "for this run");
  EXPECT_EQ(messages[1].rfind(path + " line 2: ", 0), 0u) << messages[1];
  EXPECT_NE(messages[1].find("- line skipped"), std::string::npos);
  EXPECT_EQ(catalogue.partCount, before + 1);
  EXPECT_STREQ(catalogue.rows[static_cast<size_t>(m328)].name, "Mine328");
  EXPECT_FALSE(partHasDefaultFuses(catalogue.rows[static_cast<size_t>(m328)]));
  EXPECT_EQ(findPartByName(catalogue, "ATmega328PB"), before);
  EXPECT_EQ(readPartsFile(catalogue, dir.file("missing.txt"), &messages), -1);
}

// Read at every start from the current folder: a FIFO there (no writer, so
// an ordinary open would wait for ever) or a folder is passed over.
TEST(PartsFile, OnlyARegularFileIsRead) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("parts.txt").c_str(), 0600), 0);
  PartCatalogue catalogue;
  const int before = fillFullCatalogue(catalogue, korvoPartRows());
  std::vector<std::string> messages;
  EXPECT_EQ(readPartsFile(catalogue, dir.file("parts.txt"), &messages), -1);
  EXPECT_EQ(readPartsFile(catalogue, dir.path(), &messages), -1);
  EXPECT_EQ(catalogue.partCount, before);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], dir.file("parts.txt") + " is not a regular file - ignored");
  // One over the size cap is named too, not passed over in silence.
  writeFile(dir.file("big.txt"), std::string(kPartsFileLimit + 1, '#'));
  EXPECT_EQ(readPartsFile(catalogue, dir.file("big.txt"), &messages), -1);
  EXPECT_EQ(messages.back(), dir.file("big.txt") + " is larger than 1048576 bytes - ignored");
}

// Each line alone against the built-in table: what it is taken as, and the
// one line said about it.
TEST(PartsFile, LinesAgainstTheBuiltInParts) {
  struct Case {
    const char* text;
    int taken;
    std::string message;  // the first message, "" for none
  } cases[] = {
      // The ATmega328P's memory cannot change in passing...
      {"ATmega328P 1E 95 0F 32768 128 1024 3 -", 0,
       "p line 1: ATmega328P changes the memory of the built-in ATmega328P (1E 95 0F: flash "
       "32768 bytes, 64-word pages, EEPROM 1024 bytes) - line skipped; end the line with "
       "'override' to mean it"},
      {"Big328 1E 95 0F 65536 64 1024 3 -", 0, "p line 1: Big328 changes the memory"},
      {"ATmega328P 1E 95 0F 32768 64 2048 3 -", 0, "p line 1: ATmega328P changes the memory"},
      // ...but may when the line says so.
      {"ATmega328P 1E 95 0F 32768 128 1024 3 - override", 1,
       "p line 1: ATmega328P replaces the built-in ATmega328P (1E 95 0F) for this run"},
      // Sizes are decimal whatever their leading zeros (octal 01024 is no
      // whole number of 16-word pages).
      {"Pad 1E 90 99 01024 016 064 1 -", 1, ""},
      // One name, two chips.
      {"Twin 1E 95 90 32768 64 1024 3 -\ntwin 1E 95 91 32768 64 1024 3 -", 1,
       "p line 2: twin is line 1's name already, for 1E 95 90, not 1E 95 91 - line skipped"},
      // A whole number of 64-word pages in words, but not in bytes.
      {"Odd 1E 95 92 32704 64 1024 3 -", 0,
       "p line 1: the flash size 32704 is not a whole number of 64-word pages - line skipped"},
      // A terminal escape is shown, not sent.
      {"Bad\x1b[2J 1E 95 93 32768 64 1024 3 -", 0, "p line 1: the name 'Bad\\x1B[2J' is not"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.text);
    PartCatalogue catalogue;
    const int before = fillFullCatalogue(catalogue, korvoPartRows());
    const PartRecord m328 =
        catalogue.rows[static_cast<size_t>(findPartByName(catalogue, "ATmega328P"))];
    std::vector<std::string> messages;
    EXPECT_EQ(addPartsText(catalogue, "p", each.text, &messages), each.taken);
    if (each.message.empty()) {
      EXPECT_TRUE(messages.empty()) << messages.front();
    } else {
      ASSERT_FALSE(messages.empty());
      EXPECT_EQ(messages.front().substr(0, each.message.size()), each.message);
    }
    const int row = findPartBySignature(catalogue, m328.signature);
    if (each.taken == 0) {
      EXPECT_EQ(catalogue.partCount, before);
      EXPECT_STREQ(catalogue.rows[static_cast<size_t>(row)].name, "ATmega328P");
      EXPECT_EQ(catalogue.rows[static_cast<size_t>(row)].flashPageWords, 64);
    }
  }
}

// A replaced ATmega32 row is an ordinary two-fuse row: its defaults are laid
// out as every other row's.
TEST(PartsFile, AReplacedAtmega32RowLosesItsOddLayout) {
  PartCatalogue catalogue;
  fillFullCatalogue(catalogue, marlowPartRows());
  std::vector<PartsFileLine> lines = parsePartsText("M32 1E 95 02 32768 64 1024 2 E1 99\n");
  ASSERT_EQ(lines[0].fault, "");
  catalogue.rows[kTwoFuseRow] = lines[0].part;
  EXPECT_FALSE(isHighLowDefaultsRow(catalogue, kTwoFuseRow));
  EXPECT_EQ(partDefaultFuse(catalogue, kTwoFuseRow, 1), 0xE1);
  EXPECT_EQ(partDefaultFuse(catalogue, kTwoFuseRow, 2), 0x99);
}

}  // namespace
