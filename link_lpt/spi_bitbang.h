#pragma once
// The Marlow cable's pin map and the SPI, RESET and cable-test sequences that
// are bit-banged on the parallel port, one single-bit change at a time.
//
// Data register: bits 0 and 1 cable-test outputs, 2 and 3 the enable lines of
// the cable's buffer, 4 SCK, 5 MOSI, 6 and 7 the target's RESET.
// Status register: bit 6 MISO, bits 5 and 7 the cable-test loopbacks.

#include <cstdint>

#include "link_lpt/port_bits.h"

struct MarlowPort {
  PortBits bits;
  uint16_t dataPort = 0x378;
  uint16_t statusPort = 0x379;
};

constexpr int kSckLine = 4;
constexpr int kMosiLine = 5;
constexpr int kResetLine = 6;
constexpr int kResetLeadLine = 7;

// Only the lines 4 to 7 may be driven this way; level 1 sets, any other clears.
void setDataLine(const MarlowPort& port, int bit, int level);
void assertEnableLines(const MarlowPort& port);
void releaseEnableLines(const MarlowPort& port);
// RESET (bit 7) high, MOSI high, SCK low, then the enable lines asserted.
void prepareLines(const MarlowPort& port);
// RESET high for `units`, then low with 30000 units for the target to settle.
void pulseReset(const MarlowPort& port, int32_t units);
void spiWriteByte(const MarlowPort& port, uint8_t byte);
uint8_t spiExchangeByte(const MarlowPort& port, uint8_t byte);
// True when both loopbacks of the cable answer; leaves data bits 0 and 1 at 0.
bool cablePresent(const MarlowPort& port);
