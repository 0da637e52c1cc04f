// What the fuse bits mean: the writes that end serial programming, the clock a
// low fuse selects, and the default fuses of every part whose bits are known.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/avr_libc_parts.h"
#include "catalogue/fuse_meaning.h"
#include "catalogue/part_record.h"

namespace {

const PartFuseBits& bitsOf(uint8_t s1, uint8_t s2) {
  const uint8_t signature[3] = {0x1E, s1, s2};
  const PartFuseBits* bits = findFuseBits(signature);
  EXPECT_NE(bits, nullptr);
  return *bits;
}

const PartFuseBits& atmega328p() {
  return bitsOf(0x95, 0x0F);
}
const PartFuseBits& atmega2560() {
  return bitsOf(0x98, 0x01);
}
const PartFuseBits& attiny13a() {
  return bitsOf(0x90, 0x07);
}

std::string lockoutNames(const PartFuseBits& bits, int fuse, uint8_t value) {
  Lockout found[kMostLockouts];
  const int count = findLockouts(bits, fuse, value, found);
  std::string names;
  for (int i = 0; i < count; ++i) names += std::string(found[i].bit->name) + " ";
  return names;
}

// The default bytes of a row by fuse number; the two-fuse rows hold high, low.
uint8_t defaultFuse(const PartRecord& row, int fuse) {
  if (row.fuseCount == 2) return fuse == 2 ? row.defaultFuses[0] : row.defaultFuses[1];
  return row.defaultFuses[3 - fuse];
}

struct EndingBit {
  int fuse;
  int bit;
  bool endsWhenProgrammed;
};

std::string signatureKey(const uint8_t signature[3]) {
  return std::string(reinterpret_cast<const char*>(signature), 3);
}

// The bits that end serial programming as the datasheet facts file itself
// gives them, by signature (avr-libc's where the file gives none), read apart
// from the generator so that a row the generator got wrong shows here.
std::multimap<std::string, EndingBit> factsEndingBits() {
  std::ifstream facts(std::string(AVRISP_SOURCE_DIR) + "/scripts/datasheet_facts.txt");
  std::multimap<std::string, EndingBit> found;
  std::string name, signature;
  std::vector<EndingBit> pending;
  auto flush = [&] {
    const AvrLibcPart* part = findAvrLibcPart(name);
    if (signature.empty() && part != nullptr) signature = signatureKey(part->signature);
    for (const EndingBit& bit : pending) found.emplace(signature, bit);
    pending.clear();
    signature.clear();
  };
  for (std::string line; std::getline(facts, line);) {
    std::istringstream words(line.substr(0, line.find('|')));
    std::string key;
    words >> key;
    if (key == "part") {
      flush();
      words >> name;
    } else if (key == "signature") {
      unsigned bytes[3];
      if (words >> std::hex >> bytes[0] >> bytes[1] >> bytes[2]) {
        const uint8_t raw[3] = {uint8_t(bytes[0]), uint8_t(bytes[1]), uint8_t(bytes[2])};
        signature = signatureKey(raw);
      }
    } else if (key == "isp-ending") {
      for (std::string item; words >> item;) {
        if (item == "unknown") break;
        const int fuse = item[0] == 'l' ? 1 : item[0] == 'h' ? 2 : 3;
        const int bit = item[item.find('.') + 1] - '0';
        pending.push_back({fuse, bit, item.find("SPIEN") == std::string::npos});
      }
    }
  }
  flush();
  return found;
}

bool holds(const PartFuseBits& bits, int fuse, uint8_t value, const FuseBit& which) {
  Lockout found[kMostLockouts];
  const int count = findLockouts(bits, fuse, value, found);
  for (int i = 0; i < count; ++i) {
    if (found[i].bit->fuseNumber == which.fuseNumber && found[i].bit->bit == which.bit) return true;
  }
  return false;
}

}  // namespace

// Calls visit(catalogue, row index, bits) for every row of both programs'
// full tables whose fuse bits are known.
template <typename Visit>
void forEveryRowWithBits(Visit visit) {
  for (const PartRows* rows : {&korvoPartRows(), &marlowPartRows()}) {
    PartCatalogue catalogue;
    fillFullCatalogue(catalogue, *rows);
    for (int i = 0; i < catalogue.partCount; ++i) {
      const PartFuseBits* bits = findFuseBits(catalogue.rows[static_cast<size_t>(i)].signature);
      if (bits != nullptr) visit(catalogue, i, bits);
    }
  }
}

// Every row of both programs: from its default (all bits unprogrammed where
// none is known), a write that flips any bit ending serial programming, by
// avr-libc's name or by the datasheet, is held; so is a write of any clock
// code the datasheet calls reserved; and no default is such a code.
TEST(EveryRow, EachWriteThatEndsSerialProgrammingIsHeldAndNoDefaultIsAReservedClock) {
  const std::multimap<std::string, EndingBit> facts = factsEndingBits();
  int checked = 0;
  forEveryRowWithBits([&](const PartCatalogue& catalogue, int i, const PartFuseBits* bits) {
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    SCOPED_TRACE(row.name);
    std::vector<EndingBit> ending;
    for (const char* name : {"SPIEN", "RSTDISBL", "DWEN"}) {
      if (const FuseBit* bit = findFuseBit(*bits, name))
        ending.push_back({bit->fuseNumber, bit->bit, std::string(name) != "SPIEN"});
    }
    const auto own = facts.equal_range(signatureKey(row.signature));
    for (auto it = own.first; it != own.second; ++it) ending.push_back(it->second);
    for (const EndingBit& bit : ending) {
      const uint8_t mask = static_cast<uint8_t>(1u << bit.bit);
      uint8_t safe = partHasDefaultFuses(row) ? partDefaultFuse(catalogue, i, bit.fuse) : 0xFF;
      safe = bit.endsWhenProgrammed ? (safe | mask) : (safe & ~mask);
      const FuseBit which{static_cast<uint8_t>(bit.fuse), static_cast<uint8_t>(bit.bit), ""};
      EXPECT_TRUE(holds(*bits, bit.fuse, static_cast<uint8_t>(safe ^ mask), which))
          << "fuse " << bit.fuse << " bit " << bit.bit;
      ++checked;
    }
    if (bits->clock == nullptr) return;
    const ClockTable& clock = *bits->clock;
    const uint8_t low = partHasDefaultFuses(row) ? partDefaultFuse(catalogue, i, 1) : 0xFF;
    EXPECT_FALSE(clockSelection(*bits, low).reserved) << clockSelection(*bits, low).code;
    const int width = clock.highBit - clock.field.bit + 1;
    const unsigned field = ((1u << width) - 1) << clock.field.bit;
    for (size_t c = 0; c < clock.codeCount; ++c) {
      if (clock.codes[c].kind != 'r') continue;
      for (unsigned code = clock.codes[c].from; code <= clock.codes[c].to; ++code) {
        const uint8_t value = static_cast<uint8_t>((low & ~field) | (code << clock.field.bit));
        EXPECT_TRUE(holds(*bits, 1, value, clock.field)) << "clock code " << code;
      }
    }
  });
  EXPECT_GE(checked, 400);
}

TEST(FuseLockouts, SpienRstdisblAndDwenAreCaughtWhereverThePartKeepsThem) {
  EXPECT_EQ(lockoutNames(atmega328p(), 2, 0xD9), "");
  EXPECT_EQ(lockoutNames(atmega328p(), 2, 0xF9), "SPIEN ");
  EXPECT_EQ(lockoutNames(atmega328p(), 2, 0x59), "RSTDISBL ");
  EXPECT_EQ(lockoutNames(atmega328p(), 2, 0x99), "DWEN ");
  EXPECT_EQ(lockoutNames(atmega328p(), 2, 0x20), "SPIEN RSTDISBL DWEN ");
  EXPECT_EQ(lockoutNames(atmega328p(), 1, 0x00), "");  // no such bits in the low fuse
  EXPECT_EQ(lockoutNames(atmega2560(), 2, 0xF9), "SPIEN ");
  EXPECT_EQ(lockoutNames(atmega2560(), 2, 0x19), "");  // OCDEN and JTAGEN are harmless
  // The ATtiny13A keeps SPIEN in its low fuse and RSTDISBL, DWEN in its high.
  EXPECT_EQ(lockoutNames(attiny13a(), 1, 0xFA), "SPIEN ");
  EXPECT_EQ(lockoutNames(attiny13a(), 2, 0xFE), "RSTDISBL ");
  EXPECT_EQ(lockoutNames(attiny13a(), 2, 0xF7), "DWEN ");
  // avr-libc spells the AT90USB162's bit RSTDSBL.
  EXPECT_EQ(lockoutNames(bitsOf(0x94, 0x82), 2, 0x99), "RSTDSBL ");
}

TEST(FuseBytes, OnlyTheBitsAPartHasCount) {
  EXPECT_EQ(implementedFuseBits(&atmega328p(), 1), 0xFF);
  EXPECT_EQ(implementedFuseBits(&atmega328p(), 3), 0x07);
  EXPECT_EQ(implementedFuseBits(&attiny13a(), 2), 0x1F);
  EXPECT_EQ(implementedFuseBits(&attiny13a(), 3), 0x00);
  EXPECT_EQ(implementedFuseBits(nullptr, 3), 0xFF);  // unknown: every bit counts
}

TEST(ClockSelection, InternalAndExternalSourcesByFamily) {
  ClockSelection internal = clockSelection(atmega328p(), 0x62);
  EXPECT_EQ(internal.source, ClockSource::kInternal);
  EXPECT_EQ(internal.code, "0010");
  EXPECT_EQ(internal.meaning, "calibrated internal RC oscillator 8 MHz");
  EXPECT_EQ(clockSelection(atmega328p(), 0xFF).source, ClockSource::kExternal);
  EXPECT_EQ(clockSelection(atmega328p(), 0xE0).meaning, "external clock");
  EXPECT_EQ(clockSelection(atmega328p(), 0xE3).meaning, "internal 128 kHz RC oscillator");
  EXPECT_EQ(clockSelection(atmega2560(), 0xF7).meaning, "full swing crystal oscillator");
  EXPECT_EQ(clockSelection(atmega328p(), 0xE1).source, ClockSource::kUnknown);  // reserved
  // The ATmega16 family: 0001 to 0100 internal, CKOPT in the high fuse.
  const PartFuseBits& atmega16 = bitsOf(0x94, 0x03);
  EXPECT_EQ(clockSelection(atmega16, 0xE1).source, ClockSource::kInternal);
  EXPECT_EQ(clockSelection(atmega16, 0xE6).meaning, "external RC oscillator");
  EXPECT_EQ(clockSelection(atmega16, 0xEF).source, ClockSource::kExternal);
  // The ATtiny13A: two CKSEL bits.
  EXPECT_EQ(clockSelection(attiny13a(), 0x6A).code, "10");
  EXPECT_EQ(clockSelection(attiny13a(), 0x6A).source, ClockSource::kInternal);
  EXPECT_EQ(clockSelection(attiny13a(), 0x68).source, ClockSource::kExternal);
  // The ATtiny2313's datasheet codes: 0100 is its factory 8 MHz RC.
  const PartFuseBits& attiny2313 = bitsOf(0x91, 0x0A);
  EXPECT_EQ(clockSelection(attiny2313, 0x64).source, ClockSource::kInternal);
  EXPECT_EQ(clockSelection(attiny2313, 0x6F).source, ClockSource::kExternal);
  EXPECT_TRUE(clockSelection(attiny2313, 0x61).reserved);
  // avr-libc names the ATtiny841's clock bits SUT_CKSEL.
  EXPECT_EQ(clockSelection(bitsOf(0x93, 0x15), 0xE2).source, ClockSource::kInternal);
}

// "a" writes these bytes without asking: none may switch the watchdog on for
// good, drive the clock out on a port pin, or end serial programming. Every
// row either program starts with, the generated ones included.
TEST(DefaultFuseAudit, NoRowWithKnownBitsProgramsADangerousBit) {
  int audited = 0;
  forEveryRowWithBits([&](const PartCatalogue& catalogue, int i, const PartFuseBits* bits) {
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    if (!partHasDefaultFuses(row)) return;
    ++audited;
    for (const char* name : {"WDTON", "CKOUT", "RSTDISBL", "DWEN", "SPIEN"}) {
      const FuseBit* bit = findFuseBit(*bits, name);
      if (bit == nullptr || bit->fuseNumber > partFuseCount(row)) continue;
      const uint8_t value = partDefaultFuse(catalogue, i, bit->fuseNumber);
      const bool programmed = ((value >> bit->bit) & 1u) == 0;
      const bool wanted = std::string(name) == "SPIEN";
      EXPECT_EQ(programmed, wanted) << row.name << " " << name;
    }
  });
  EXPECT_GE(audited, 200);  // every row of both tables with known defaults
}

TEST(DefaultFuseAudit, TheAtmega2560LeavesWdtonAndCkoutUnprogrammed) {
  for (const PartRows* rows : {&korvoPartRows(), &marlowPartRows()}) {
    for (const PartRecord& row : *rows) {
      if (std::string(row.name) != "ATmega2560") continue;
      EXPECT_EQ(defaultFuse(row, 2), 0xDB);  // was CB: WDTON programmed
      EXPECT_EQ(defaultFuse(row, 1), 0xCF);  // was 8F: CKOUT programmed
    }
  }
}
