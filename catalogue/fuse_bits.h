#pragma once
// The named bits of each part's fuse bytes, as avr-libc's device headers name
// them, with the bits and clock codes the datasheets add. Flows that guard, check or explain fuse writes look a part up here by
// its signature; a part without a bit table (one added by the user, say) is
// written as given, unguarded.

#include <cstddef>
#include <cstdint>

struct FuseBit {
  uint8_t fuseNumber;  // 1 low, 2 high, 3 extended, as in the fuse commands
  uint8_t bit;         // 0 to 7
  const char* name;    // without avr-libc's FUSE_ prefix: "SPIEN", "CKSEL0", "BODLEVEL2"
};

// A bit whose change ends serial programming. SPIEN does so unprogrammed,
// the rest (RSTDISBL, DWEN, under any name) programmed. A row that joins
// parts sharing a signature guards every variant's bits; `variants` then
// names the variants a bit belongs to, or is empty when it belongs to all.
struct IspEndingBit {
  FuseBit bit;
  bool endsWhenProgrammed;
  const char* variants;
};

// One code, or a range of codes, of a part's clock-select field.
struct ClockCode {
  uint8_t from;
  uint8_t to;
  char kind;  // 'i' an internal oscillator, 'e' an external clock or crystal, 'r' reserved
  const char* meaning;
};

// The clock-select field of the low fuse as the part's datasheet tables it:
// field.bit is its lowest bit, highBit its highest.
struct ClockTable {
  FuseBit field;
  uint8_t highBit;
  const ClockCode* codes;
  size_t codeCount;
};

struct PartFuseBits {
  uint8_t signature[3];
  const FuseBit* bits;  // every bit the part implements, low fuse first
  size_t bitCount;
  // From the datasheet where known, else from avr-libc's bit names.
  const IspEndingBit* ispEnding = nullptr;
  size_t ispEndingCount = 0;
  const ClockTable* clock = nullptr;  // nullptr where the datasheet's codes are not known
};

// The bit table of the built-in part with this signature, or nullptr.
const PartFuseBits* findFuseBits(const uint8_t signature[3]);
