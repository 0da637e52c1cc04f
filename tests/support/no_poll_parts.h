#pragma once
// Two parts whose serial programming instructions have no Poll RDY/BSY and no
// EEPROM page instructions, as their datasheets give them, for the tests that
// need such a chip before the generated table of datasheet facts holds them.
// Fuses are left to the simulated part (fuse count 0).

#include "sim/datasheet_parts.h"

// ATmega8, 2486AA-AVR-02/2013: Table 97 (t_WD fuse 4.5 ms, flash 4.5 ms,
// EEPROM 9.0 ms, erase 9.0 ms), Table 98 (the instruction set).
inline constexpr DatasheetPart kAtmega8Facts = {
    "ATmega8", {0x1E, 0x93, 0x07}, 0, {0xFF, 0xFF, 0xFF}, false, 9000, 4500, 9000, 4500, 0};
// ATmega32(A), 8155I-AVR-08/2016: Table 29-15 (t_WD fuse 4.5 ms, flash
// 4.5 ms, EEPROM 9 ms, erase 9 ms), Table 29-16 (the instruction set).
inline constexpr DatasheetPart kAtmega32Facts = {
    "ATmega32", {0x1E, 0x95, 0x02}, 0, {0xFF, 0xFF, 0xFF}, false, 9000, 4500, 9000, 4500, 0};
