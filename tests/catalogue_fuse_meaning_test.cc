// What the fuse bits mean: the writes that end serial programming, the clock a
// low fuse selects, and the default fuses of every part whose bits are known.

#include <gtest/gtest.h>

#include <string>

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

}  // namespace

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
  EXPECT_EQ(internal.meaning, "calibrated internal RC oscillator");
  EXPECT_EQ(clockSelection(atmega328p(), 0xFF).source, ClockSource::kExternal);
  EXPECT_EQ(clockSelection(atmega328p(), 0xE0).meaning, "external clock");
  EXPECT_EQ(clockSelection(atmega328p(), 0xE3).meaning, "internal 128 kHz oscillator");
  EXPECT_EQ(clockSelection(atmega2560(), 0xF7).meaning, "full-swing crystal oscillator");
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
}

// "a" writes these bytes without asking: none may switch the watchdog on for
// good, drive the clock out on a port pin, or end serial programming. Every
// row either program starts with, the generated ones included.
TEST(DefaultFuseAudit, NoRowWithKnownBitsProgramsADangerousBit) {
  int audited = 0;
  for (const PartRows* rows : {&korvoPartRows(), &marlowPartRows()}) {
    PartCatalogue catalogue;
    fillFullCatalogue(catalogue, *rows);
    for (int i = 0; i < catalogue.partCount; ++i) {
      const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
      const PartFuseBits* bits = findFuseBits(row.signature);
      if (bits == nullptr || !partHasDefaultFuses(row)) continue;
      ++audited;
      for (const char* name : {"WDTON", "CKOUT", "RSTDISBL", "DWEN", "SPIEN"}) {
        const FuseBit* bit = findFuseBit(*bits, name);
        if (bit == nullptr || bit->fuseNumber > partFuseCount(row)) continue;
        const uint8_t value = partDefaultFuse(catalogue, i, bit->fuseNumber);
        const bool programmed = ((value >> bit->bit) & 1u) == 0;
        const bool wanted = std::string(name) == "SPIEN";
        EXPECT_EQ(programmed, wanted) << row.name << " " << name;
      }
    }
  }
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
