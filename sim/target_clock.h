#pragma once
// The system clock of a simulated AVR as its low fuse selects it, from the
// clock-source tables of the datasheets. The serial programming interface
// needs SCK high and low for at least two of these clock cycles each.

#include <cstdint>

#include "sim/sim_parts.h"

// What the simulator assumes for a crystal, resonator or external clock, which
// the fuses cannot tell: 8 MHz, the crystal of the AT90USB boards, which makes
// that part's factory setting the 1 MHz of the others.
constexpr double kAssumedExternalClockHz = 8e6;

double fuseSelectedClockHz(const SimPart& part, uint8_t lowFuse);
