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
// The ATmega16 and ATmega32 share one layout.
constexpr FuseBit kAtmega16Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "BODEN"}, {1, 7, "BODLEVEL"},
    {2, 0, "BOOTRST"}, {2, 1, "BOOTSZ0"}, {2, 2, "BOOTSZ1"}, {2, 3, "EESAVE"},
    {2, 4, "CKOPT"}, {2, 5, "SPIEN"}, {2, 6, "JTAGEN"}, {2, 7, "OCDEN"},
};
constexpr FuseBit kAtmega128Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "BODEN"}, {1, 7, "BODLEVEL"},
    {2, 0, "BOOTRST"}, {2, 1, "BOOTSZ0"}, {2, 2, "BOOTSZ1"}, {2, 3, "EESAVE"},
    {2, 4, "CKOPT"}, {2, 5, "SPIEN"}, {2, 6, "JTAGEN"}, {2, 7, "OCDEN"},
    {3, 0, "WDTON"}, {3, 1, "M103C"},
};
constexpr FuseBit kAtmega48Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "CKOUT"}, {1, 7, "CKDIV8"},
    {2, 0, "BODLEVEL0"}, {2, 1, "BODLEVEL1"}, {2, 2, "BODLEVEL2"}, {2, 3, "EESAVE"},
    {2, 4, "WDTON"}, {2, 5, "SPIEN"}, {2, 6, "DWEN"}, {2, 7, "RSTDISBL"},
    {3, 0, "SELFPRGEN"},
};
constexpr FuseBit kAtmega88Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "CKOUT"}, {1, 7, "CKDIV8"},
    {2, 0, "BODLEVEL0"}, {2, 1, "BODLEVEL1"}, {2, 2, "BODLEVEL2"}, {2, 3, "EESAVE"},
    {2, 4, "WDTON"}, {2, 5, "SPIEN"}, {2, 6, "DWEN"}, {2, 7, "RSTDISBL"},
    {3, 0, "BOOTRST"}, {3, 1, "BOOTSZ0"}, {3, 2, "BOOTSZ1"},
};
constexpr FuseBit kAt90usb162Bits[] = {
    {1, 0, "CKSEL0"}, {1, 1, "CKSEL1"}, {1, 2, "CKSEL2"}, {1, 3, "CKSEL3"},
    {1, 4, "SUT0"}, {1, 5, "SUT1"}, {1, 6, "CKOUT"}, {1, 7, "CKDIV8"},
    {2, 0, "BOOTRST"}, {2, 1, "BOOTSZ0"}, {2, 2, "BOOTSZ1"}, {2, 3, "EESAVE"},
    {2, 4, "WDTON"}, {2, 5, "SPIEN"}, {2, 6, "RSTDSBL"}, {2, 7, "DWEN"},
    {3, 0, "BODLEVEL0"}, {3, 1, "BODLEVEL1"}, {3, 2, "BODLEVEL2"}, {3, 3, "HWBE"},
};
// clang-format on

template <size_t N>
constexpr PartFuseBits partBits(uint8_t s1, uint8_t s2, const FuseBit (&bits)[N]) {
  return {{0x1E, s1, s2}, bits, N};
}

// clang-format off
const PartFuseBits kParts[] = {
    partBits(0x95, 0x0F, kAtmega328pBits),
    partBits(0x98, 0x01, kAtmega2560Bits),
    partBits(0x90, 0x07, kAttiny13aBits),
    partBits(0x94, 0x03, kAtmega16Bits),      // ATmega16
    partBits(0x95, 0x02, kAtmega16Bits),      // ATmega32
    partBits(0x92, 0x05, kAtmega48Bits),      // ATmega48
    partBits(0x93, 0x0A, kAtmega88Bits),      // ATmega88
    partBits(0x94, 0x06, kAtmega88Bits),      // ATmega168: the ATmega88's layout
    partBits(0x97, 0x02, kAtmega128Bits),     // ATmega128
    partBits(0x96, 0x09, kAtmega2560Bits),    // ATmega644: the ATmega2560's layout
    partBits(0x96, 0x0A, kAtmega2560Bits),    // ATmega644P
    partBits(0x97, 0x03, kAtmega2560Bits),    // ATmega1280
    partBits(0x97, 0x04, kAtmega2560Bits),    // ATmega1281
    partBits(0x97, 0x05, kAtmega2560Bits),    // ATmega1284P
    partBits(0x98, 0x02, kAtmega2560Bits),    // ATmega2561
    partBits(0x94, 0x82, kAt90usb162Bits),    // AT90USB162
};
// clang-format on

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
