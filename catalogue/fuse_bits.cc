#include "catalogue/fuse_bits.h"

// A few parts' bit tables, written by hand from avr-libc's headers until the
// generated table covers every part.

namespace {

// clang-format off
constexpr FuseBit kAtmega328pBits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "CKOUT"}, {1, 7, "CKDIV8"},
    {2, 0, "BOOTRST"}, {2, 1, "BOOTSZ0"}, {2, 2, "BOOTSZ1"}, {2, 3, "EESAVE"},
    {2, 4, "WDTON"}, {2, 5, "SPIEN"}, {2, 6, "DWEN"}, {2, 7, "RSTDISBL"},
    {3, 0, "BODLEVEL0"}, {3, 1, "BODLEVEL1"}, {3, 2, "BODLEVEL2"},
};
constexpr FuseBit kAtmega2560Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "CKOUT"}, {1, 7, "CKDIV8"},
    {2, 0, "BOOTRST"}, {2, 1, "BOOTSZ0"}, {2, 2, "BOOTSZ1"}, {2, 3, "EESAVE"},
    {2, 4, "WDTON"}, {2, 5, "SPIEN"}, {2, 6, "JTAGEN"}, {2, 7, "OCDEN"},
    {3, 0, "BODLEVEL0"}, {3, 1, "BODLEVEL1"}, {3, 2, "BODLEVEL2"},
};
constexpr FuseBit kAttiny13aBits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "SUT0"}, {1, 3, "SUT1"},
    {1, 4, "CKDIV8"}, {1, 5, "WDTON"}, {1, 6, "EESAVE"}, {1, 7, "SPIEN"},
    {2, 0, "RSTDISBL"}, {2, 1, "BODLEVEL0"}, {2, 2, "BODLEVEL1"}, {2, 3, "DWEN"},
    {2, 4, "SELFPRGEN"},
};
// clang-format on

template <size_t N>
constexpr PartFuseBits partBits(uint8_t s1, uint8_t s2, const FuseBit (&bits)[N]) {
  return {{0x1E, s1, s2}, bits, N};
}

const PartFuseBits kParts[] = {
    partBits(0x95, 0x0F, kAtmega328pBits),
    partBits(0x98, 0x01, kAtmega2560Bits),
    partBits(0x90, 0x07, kAttiny13aBits),
};

}  // namespace

const PartFuseBits* findFuseBits(const uint8_t signature[3]) {
  for (const PartFuseBits& part : kParts) {
    if (part.signature[0] == signature[0] && part.signature[1] == signature[1] &&
        part.signature[2] == signature[2]) {
      return &part;
    }
  }
  return nullptr;
}
