#pragma once
// The named bits of each part's fuse bytes, as avr-libc's device headers name
// them. Flows that guard, check or explain fuse writes look a part up here by
// its signature; a part without a bit table (one added by the user, say) is
// written as given, unguarded.

#include <cstddef>
#include <cstdint>

struct FuseBit {
  uint8_t fuseNumber;  // 1 low, 2 high, 3 extended, as in the fuse commands
  uint8_t bit;         // 0 to 7
  const char* name;    // without avr-libc's FUSE_ prefix: "SPIEN", "CKSEL0", "BODLEVEL2"
};

struct PartFuseBits {
  uint8_t signature[3];
  const FuseBit* bits;  // every bit the part implements, low fuse first
  size_t bitCount;
};

// The bit table of the built-in part with this signature, or nullptr.
const PartFuseBits* findFuseBits(const uint8_t signature[3]);
