// The simulators know every part the programs know: the hand-written ones, one
// for each generated row, and those of a parts.txt; checked against avr-libc
// as the hand-written table is.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "catalogue/avr_libc_parts.h"
#include "catalogue/part_record.h"
#include "run/user_folders.h"
#include "sim/avr_target.h"
#include "sim/datasheet_parts.h"
#include "sim/sim_parts.h"
#include "sim/target_clock.h"
#include "tests/support/temp_dir.h"

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string firstName(const char* name) {
  std::string first = name;
  return first.substr(0, first.find('/'));
}

TEST(SimEveryPart, EveryCataloguedPartIsSimulatedUnderEachOfItsNames) {
  for (const PartRows* rows : {&korvoPartRows(), &marlowPartRows()}) {
    PartCatalogue catalogue;
    fillFullCatalogue(catalogue, *rows);
    for (int i = 0; i < catalogue.partCount; ++i) {
      const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
      SCOPED_TRACE(row.name);
      const SimPart* part = findSimPart(row.name);
      ASSERT_NE(part, nullptr);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(part->signature), 3),
                std::string(reinterpret_cast<const char*>(row.signature), 3));
      EXPECT_EQ(part->flashBytes, static_cast<uint32_t>(row.flashBytes));
      EXPECT_EQ(part->flashPageWords, static_cast<uint32_t>(row.flashPageWords));
      EXPECT_EQ(part->eepromBytes, static_cast<uint32_t>(row.eepromBytes));
      EXPECT_EQ(findSimPart(firstName(row.name)), part);
    }
  }
  EXPECT_EQ(findSimPart("ATmega8A"), findSimPart("ATmega8"));
  EXPECT_STREQ(findSimPart("atmega8a")->name, "ATmega8/ATmega8A");
  EXPECT_EQ(findSimPart("ATmega48A"), findSimPart("ATmega48"));  // the hand-written one
  EXPECT_STREQ(findSimPart("ATmega48A")->name, "ATmega48");
  EXPECT_EQ(findSimPart("ATtiny13B"), nullptr);
}

TEST(SimEveryPart, SignaturesAreUniqueAndEveryPartHasItsFamilyWaits) {
  std::set<std::string> signatures;
  for (const SimPart* part : everySimPart()) {
    SCOPED_TRACE(part->name);
    EXPECT_TRUE(
        signatures.insert(std::string(reinterpret_cast<const char*>(part->signature), 3)).second);
    EXPECT_EQ(part->flashBytes % (part->flashPageWords * 2), 0u);
    EXPECT_GT(part->chipEraseMicros, 0u);
    EXPECT_GT(part->flashPageMicros, 0u);
    EXPECT_GT(part->eepromByteMicros, 0u);
    EXPECT_GT(part->fuseMicros, 0u);
  }
  EXPECT_GE(everySimPart().size(), 103u);
  const SimPart* tiny13 = findSimPart("ATtiny13A");
  EXPECT_EQ(tiny13->eepromByteMicros, 4000u);
  EXPECT_EQ(tiny13->chipEraseMicros, 4000u);
  EXPECT_EQ(findSimPart("ATmega328")->eepromByteMicros, 3600u);
  EXPECT_EQ(findSimPart("ATtiny85")->eepromByteMicros, 4000u);
  EXPECT_EQ(findSimPart("ATmega32U4")->eepromByteMicros, 9000u);
  // A new chip carries its defaults and runs at about 1 MHz. The ATmega32U4's
  // are its datasheet's (7766J, 6.2.1: a crystal, CKDIV8 programmed), not
  // avr-libc's 0x51, a reserved clock code.
  const SimPart* m32u4 = findSimPart("ATmega32U4");
  EXPECT_EQ(m32u4->factoryLow, 0x5E);
  for (const char* name : {"ATtiny13A", "ATtiny85", "ATtiny2313", "ATmega8", "ATmega328"}) {
    const SimPart* part = findSimPart(name);
    EXPECT_EQ(fuseSelectedClockHz(*part, part->factoryLow), 1e6) << name;
  }
  EXPECT_EQ(fuseSelectedClockHz(*tiny13, 0x7A), 8e6);  // CKDIV8 unprogrammed
}

// avr-libc's headers, as today's check of the hand-written parts reads them,
// for every part the simulators add.
TEST(SimEveryPart, EveryAddedPartMatchesTheDeviceHeaders) {
  if (std::system("avr-gcc --version >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs avr-gcc and its headers: install gcc-avr avr-libc";
  }
  std::set<std::string> corrected;
  std::ifstream report(std::string(AVRISP_SOURCE_DIR) + "/scripts/datasheet_disagreements.txt");
  for (std::string line; std::getline(report, line);) {
    const size_t bar = line.find(" | signature |");
    if (bar != std::string::npos) corrected.insert(line.substr(0, bar));
  }
  for (const SimPart* part : everySimPart()) {
    if (part >= simParts() && part < simParts() + simPartCount()) continue;  // checked already
    SCOPED_TRACE(part->name);
    // Values through the preprocessor, so that "(1024 - 1)" is worked out.
    std::string command = "printf '#include <avr/io.h>\\nS SIGNATURE_0 SIGNATURE_1 SIGNATURE_2 "
                          "FLASHEND SPM_PAGESIZE E2END FUSE_MEMORY_SIZE\\n' | avr-gcc -mmcu=" +
                          lower(firstName(part->name)) + " -E -P -x c - 2>/dev/null | grep '^S '";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[1024] = "";
    std::fgets(line, sizeof line, pipe);
    pclose(pipe);
    // "S 0x1E 0x90 0x07 (1024 - 1) 32 0x3F 2": fold each parenthesised
    // difference into its value.
    std::string text = line;
    long values[7] = {0};
    int count = 0;
    size_t at = 2;
    while (count < 7 && at < text.size()) {
      while (at < text.size() && text[at] == ' ') ++at;
      if (at >= text.size() || text[at] == '\n') break;
      if (text[at] == '(') {
        size_t end = text.find(')', at);
        std::string inner = text.substr(at + 1, end - at - 1);
        size_t minus = inner.find(" - ");
        long a = std::strtol(inner.c_str(), nullptr, 0);
        values[count++] =
            minus == std::string::npos ? a : a - std::strtol(inner.c_str() + minus + 3, nullptr, 0);
        at = end + 1;
      } else {
        char* end = nullptr;
        values[count++] = std::strtol(text.c_str() + at, &end, 0);
        at = static_cast<size_t>(end - text.c_str());
        while (at < text.size() && (text[at] == 'U' || text[at] == 'L')) ++at;
      }
    }
    ASSERT_EQ(count, 7) << text;
    if (!corrected.count(firstName(part->name))) {  // the datasheet's signature stands
      EXPECT_EQ(values[0], part->signature[0]);
      EXPECT_EQ(values[1], part->signature[1]);
      EXPECT_EQ(values[2], part->signature[2]);
    }
    EXPECT_EQ(values[3] + 1, static_cast<long>(part->flashBytes));
    EXPECT_EQ(values[4], static_cast<long>(part->flashPageWords * 2));
    EXPECT_EQ(values[5] + 1, static_cast<long>(part->eepromBytes));
    EXPECT_EQ(values[6], part->hasExtendedFuse ? 3 : part->hasHighFuse ? 2 : 1);
  }
}

TEST(SimEveryPart, EesaveIsFoundWhereverThePartKeepsIt) {
  SimClock clock(0.0);
  AvrTarget tiny13(*findSimPart("ATtiny13A"), clock);
  tiny13.eeprom()[0] = 0x42;
  tiny13.setFuses(0x6A & ~0x40, 0xFF, 0xFF);  // EESAVE, low fuse bit 6, programmed
  tiny13.setResetLow(true);
  auto send = [](AvrTarget& t, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    t.exchange(a);
    t.exchange(b);
    t.exchange(c);
    return t.exchange(d);
  };
  send(tiny13, 0xAC, 0x53, 0x00, 0x00);
  send(tiny13, 0xAC, 0x80, 0x00, 0x00);  // chip erase
  EXPECT_EQ(tiny13.eeprom()[0], 0x42);
  tiny13.setFuses(0x6A, 0xFF, 0xFF);
  send(tiny13, 0xAC, 0x80, 0x00, 0x00);
  EXPECT_EQ(tiny13.eeprom()[0], 0xFF);
  // No extended fuse: a write to it is ignored and it reads FF.
  send(tiny13, 0xAC, 0xA4, 0x00, 0x12);
  EXPECT_EQ(tiny13.fuseExtended(), 0xFF);
  EXPECT_EQ(send(tiny13, 0x58, 0x08, 0x00, 0x00), 0xFF);  // the high fuse
  EXPECT_EQ(send(tiny13, 0x30, 0x00, 0x01, 0x00), 0x90);

  AvrTarget one(*findSimPart("ATmega16HVA"), clock);
  one.setResetLow(true);
  send(one, 0xAC, 0x53, 0x00, 0x00);
  send(one, 0xAC, 0xA8, 0x00, 0x12);
  EXPECT_EQ(send(one, 0x58, 0x08, 0x00, 0x00), 0xFF);  // no high fuse
}

TEST(SimEveryPart, APartsFileAddsAndReplacesParts) {
  TempDir dir;
  std::string path = dir.file("parts.txt");
  FILE* file = std::fopen(path.c_str(), "w");
  std::fputs("SimOnly 1E 95 77 32768 64 1024 3 62 D9 F7\n"
             "not a part\n",
             file);
  std::fclose(file);
  std::vector<std::string> messages;
  EXPECT_EQ(loadSimPartsFile(path, &messages), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("line 2"), std::string::npos);
  const SimPart* part = findSimPart("simonly");
  ASSERT_NE(part, nullptr);
  EXPECT_TRUE(part->fromPartsFile);
  EXPECT_EQ(part->signature[2], 0x77);
  EXPECT_EQ(part->factoryLow, 0x62);
  EXPECT_EQ(part->factoryExtended, 0xF7);
  EXPECT_EQ(everySimPart().back(), part);
  EXPECT_EQ(loadSimPartsFile(dir.file("none.txt"), &messages), -1);
  std::vector<std::string> places = configurationFilePlaces("tarnwick", "parts.txt");
  EXPECT_EQ(places.front(), "./parts.txt");
  EXPECT_NE(places.back().find("/tarnwick/parts.txt"), std::string::npos);
}

}  // namespace

namespace {

// What start-up does with a factory-fresh chip: its fuses read back against
// the row's defaults. The chip's fuses come from the datasheet facts, the
// defaults from the programs' table; a row whose defaults are not the factory
// values shows here as "default fuses not set".
TEST(SimEveryPart, AFreshChipOfEveryGeneratedRowWithFactsHasItsDefaultFuses) {
  int checked = 0;
  for (const PartRows* rows : {&korvoPartRows(), &marlowPartRows()}) {
    PartCatalogue catalogue;
    fillFullCatalogue(catalogue, *rows);
    for (int i = 0; i < datasheetPartCount(); ++i) {
      const DatasheetPart& facts = datasheetParts()[i];
      const int row = findPartBySignature(catalogue, facts.signature);
      // Rows 0 to 12 keep the defaults they were given; parts whose factory
      // fuses no datasheet gave are not judged.
      if (facts.fuseCount == 0 || row < kCatalogueRows) continue;
      const PartRecord& part = catalogue.rows[static_cast<size_t>(row)];
      if (!partHasDefaultFuses(part)) continue;
      SCOPED_TRACE(std::string(facts.name) + " in " + part.name);
      const SimPart* simPart = findSimPart(facts.name);
      ASSERT_NE(simPart, nullptr);
      SimClock clock;
      AvrTarget chip(*simPart, clock);
      const uint8_t fresh[3] = {chip.fuseLow(), chip.fuseHigh(), chip.fuseExtended()};
      for (int fuse = 1; fuse <= partFuseCount(part); ++fuse) {
        EXPECT_EQ(fresh[fuse - 1], partDefaultFuse(catalogue, row, fuse)) << "fuse " << fuse;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 40);
}

}  // namespace
