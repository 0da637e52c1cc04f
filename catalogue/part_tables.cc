#include "catalogue/part_record.h"

// The ATmega88's flash page is 32 words (64 bytes, 128 pages) per its datasheet;
// a larger value here would load two pages' worth of words into its page buffer.
//
// Default fuses never program WDTON, CKOUT, RSTDISBL or DWEN, nor unprogram
// SPIEN: "a" must leave a part reachable and quiet. The ATmega1280 to 2561
// once carried the ATmega128's bytes, where high bit 4 is CKOPT and low bit 6
// BODEN; on these parts those bits are WDTON and CKOUT, so they are left
// unprogrammed here. The ATmega48 and 88 keep SPIEN programmed.

namespace {

// clang-format off

// Rows 0 to 4 and 7 to 9 are the same in both programs.
// Poll RDY/BSY and t_WD (erase, flash, EEPROM, fuse): the ATmega16 from
// doc2466T "ATmega16(L)" Table 116 (Serial Programming Instruction Set, with
// Poll RDY/BSY) and Table 115 (Minimum Wait Delay); the ATmega32 from
// Atmel-8155I "ATmega32A" Table 29-16 (no Poll RDY/BSY) and Table 29-15. The
// other rows take theirs from the datasheet facts (catalogue/part_catalogue.cc).
constexpr PartRecord kAtmega16 = {"ATmega16", 3, {0x1E, 0x94, 0x03}, 3, {0xD4, 0xD9, 0xD4, 0xFF}, 64, 4, 0x4000, 0x200,
                                  false, PartOrigin::kBuiltIn, true, 9000, 4500, 9000, 4500};
constexpr PartRecord kAtmega32 = {"ATmega32", 3, {0x1E, 0x95, 0x02}, 2, {0xD9, 0xE4, 0xFF, 0xFF}, 64, 4, 0x8000, 0x400,
                                  false, PartOrigin::kBuiltIn, false, 9000, 4500, 9000, 4500};
constexpr PartRecord kAtmega48 = {"ATmega48", 3, {0x1E, 0x92, 0x05}, 3, {0xFF, 0xDF, 0xFF, 0xFF}, 32, 4, 0x1000, 0x100};
constexpr PartRecord kAtmega88 = {"ATmega88", 3, {0x1E, 0x93, 0x0A}, 3, {0xFF, 0xDF, 0xFF, 0xFF}, 32, 4, 0x2000, 0x200};
constexpr PartRecord kAtmega168 = {"ATmega168", 3, {0x1E, 0x94, 0x06}, 3, {0xF9, 0xDF, 0xE2, 0xFF}, 64, 4, 0x4000, 0x200};
constexpr PartRecord kAtmega128 = {"ATmega128", 3, {0x1E, 0x97, 0x02}, 3, {0xFF, 0xCB, 0x8F, 0xFF}, 128, 4, 0x20000, 0x1000};
constexpr PartRecord kAtmega1280 = {"ATmega1280", 3, {0x1E, 0x97, 0x03}, 3, {0xFF, 0xDB, 0xE7, 0xFF}, 128, 4, 0x20000, 0x1000};
constexpr PartRecord kAtmega1281 = {"ATmega1281", 3, {0x1E, 0x97, 0x04}, 3, {0xFF, 0xDB, 0xCF, 0xFF}, 128, 4, 0x20000, 0x1000};
constexpr PartRecord kAtmega2560 = {"ATmega2560", 3, {0x1E, 0x98, 0x01}, 3, {0xFF, 0xDB, 0xCF, 0xFF}, 128, 4, 0x40000, 0x1000};
constexpr PartRecord kAtmega2561 = {"ATmega2561", 3, {0x1E, 0x98, 0x02}, 3, {0xFF, 0xDB, 0xCF, 0xFF}, 128, 4, 0x40000, 0x1000};

constexpr PartRows kKorvoRows = {{
    kAtmega16, kAtmega32, kAtmega48, kAtmega88, kAtmega168,
    {"ATmega644", 3, {0x1E, 0x96, 0x09}, 3, {0xFF, 0xD9, 0xEE, 0xFF}, 128, 4, 0x10000, 0x800},
    {"ATmega644P", 3, {0x1E, 0x96, 0x0A}, 3, {0xFF, 0xD9, 0xE7, 0xFF}, 128, 4, 0x10000, 0x800},
    kAtmega128, kAtmega1280, kAtmega1281,
    {"ATmega1284P", 3, {0x1E, 0x97, 0x05}, 3, {0xFF, 0xD9, 0xE7, 0xFF}, 128, 8, 0x20000, 0x1000},
    kAtmega2560, kAtmega2561,
}};

constexpr PartRows kMarlowRows = {{
    kAtmega16, kAtmega32, kAtmega48, kAtmega88, kAtmega168,
    {"ATmega644", 3, {0x1E, 0x96, 0x09}, 3, {0xFF, 0xD9, 0xE2, 0xFF}, 128, 4, 0x10000, 0x800},
    {"ATmega644P", 3, {0x1E, 0x96, 0x0A}, 3, {0xFF, 0xD9, 0xE2, 0xFF}, 128, 4, 0x10000, 0x800},
    kAtmega128, kAtmega1280, kAtmega1281,
    kAtmega2560, kAtmega2561,
    {"AT90USB162", 3, {0x1E, 0x94, 0x82}, 3, {0xF4, 0xD9, 0x5E, 0xFF}, 64, 4, 0x4000, 0x200},
}};

// clang-format on

}  // namespace

const PartRows& korvoPartRows() {
  return kKorvoRows;
}
const PartRows& marlowPartRows() {
  return kMarlowRows;
}
