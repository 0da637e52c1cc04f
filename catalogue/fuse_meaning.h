#pragma once
// What a part's fuse bits mean for the programmer: which bits a byte has,
// which values would take the part out of serial programming's reach, and
// which clock a low fuse selects. The layout is told from the bit names alone,
// so a part added to the bit tables is judged without a list of its own here.

#include <cstdint>
#include <string>

#include "catalogue/fuse_bits.h"

// The bits of fuse byte 1, 2 or 3 that the part implements; 0xFF when the
// part's bits are not known (every bit then counts).
uint8_t implementedFuseBits(const PartFuseBits* bits, int fuseNumber);

// The part's bit of that name, nullptr when it has none. RSTDISBL also finds
// avr-libc's other spelling, RSTDSBL, and CKSEL0 to CKSEL3 the bits avr-libc
// names SUT_CKSEL0 to 3 or CKSEL_SUT0 to 3.
const FuseBit* findFuseBit(const PartFuseBits& bits, const char* name);

// A bit value that ends serial programming, or a clock-select code the
// datasheet calls reserved: the bit (the clock field for a code) and what it
// does.
struct Lockout {
  const FuseBit* bit;
  const char* consequence;  // the line's text after the bit name
  const char* variants;     // of a joined row, the parts it concerns; "" for all
};

// SPIEN, RSTDISBL and DWEN of every variant of a joined row, and the clock.
constexpr int kMostLockouts = 8;

// The lockouts that writing `value` to fuse byte `fuseNumber` would cause,
// into `found`; returns how many.
int findLockouts(const PartFuseBits& bits, int fuseNumber, uint8_t value,
                 Lockout found[kMostLockouts]);

enum class ClockSource { kUnknown, kInternal, kExternal };

struct ClockSelection {
  ClockSource source = ClockSource::kUnknown;
  std::string code;     // the CKSEL bits, highest first: "0010"
  std::string meaning;  // "calibrated internal RC oscillator"
  bool reserved = false;  // the part's datasheet calls the code reserved
};

// What the clock selection bits of the low fuse `low` select, by the part's
// datasheet codes where they are known, else by its family's. The source is
// kUnknown where the layout is not one of the known families, or the code is
// reserved or differs between members of the family.
ClockSelection clockSelection(const PartFuseBits& bits, uint8_t low);
