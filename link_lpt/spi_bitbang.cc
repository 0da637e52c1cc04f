#include "link_lpt/spi_bitbang.h"

#include "timing/delay.h"

namespace {

// The target samples MOSI on SCK's rising edge; 2 units on each side of the
// edge are well inside the minimum high and low times of SCK at the slowest
// clock the AVRs run at (at least 2 CPU clocks each).
constexpr int32_t kBitPhaseUnits = 2;
constexpr int32_t kByteLeadUnits = 7;
constexpr int32_t kResetStepUnits = 10;
constexpr int32_t kResetSettleUnits = 30000;

constexpr int kEnableLeadLine = 3;
constexpr int kEnableLine = 2;
constexpr int kMisoStatusBit = 6;
constexpr int kLoopbackOut = 0;
constexpr int kLoopbackIn = 5;
constexpr int kInvertedLoopbackOut = 1;
constexpr int kInvertedLoopbackIn = 7;
constexpr int16_t kBitReadsOne = -1;

int levelOf(uint8_t byte, int bit) {
  return (byte >> bit) & 1;
}

void clockOutBit(const MarlowPort& port, int level) {
  setDataLine(port, kMosiLine, level);
  delayUnits(kBitPhaseUnits);
  setDataLine(port, kSckLine, 1);
  delayUnits(kBitPhaseUnits);
}

}  // namespace

void setDataLine(const MarlowPort& port, int bit, int level) {
  if (bit < kSckLine || bit > kResetLeadLine) return;
  if (level == 1) {
    port.bits.setBit(port.dataPort, static_cast<uint8_t>(bit));
  } else {
    port.bits.clearBit(port.dataPort, static_cast<uint8_t>(bit));
  }
}

void assertEnableLines(const MarlowPort& port) {
  port.bits.clearBit(port.dataPort, kEnableLeadLine);
  port.bits.clearBit(port.dataPort, kEnableLine);
}

void releaseEnableLines(const MarlowPort& port) {
  port.bits.setBit(port.dataPort, kEnableLeadLine);
  port.bits.setBit(port.dataPort, kEnableLine);
}

void prepareLines(const MarlowPort& port) {
  setDataLine(port, kResetLeadLine, 1);
  setDataLine(port, kMosiLine, 1);
  setDataLine(port, kSckLine, 0);
  assertEnableLines(port);
}

void pulseReset(const MarlowPort& port, int32_t units) {
  delayUnits(kResetStepUnits);
  setDataLine(port, kResetLeadLine, 1);
  setDataLine(port, kResetLine, 1);
  delayUnits(units);
  setDataLine(port, kResetLeadLine, 0);
  setDataLine(port, kResetLine, 0);
  // The AVR accepts Programming Enable only after RESET has been low 20 ms.
  delayUnits(kResetSettleUnits);
}

void spiWriteByte(const MarlowPort& port, uint8_t byte) {
  setDataLine(port, kSckLine, 0);
  delayUnits(kByteLeadUnits);
  for (int bit = 7; bit >= 0; --bit) {
    clockOutBit(port, levelOf(byte, bit));
    setDataLine(port, kSckLine, 0);
    delayUnits(kBitPhaseUnits);
  }
}

uint8_t spiExchangeByte(const MarlowPort& port, uint8_t byte) {
  setDataLine(port, kSckLine, 0);
  delayUnits(kByteLeadUnits);
  unsigned result = 0;
  for (int bit = 7; bit >= 0; --bit) {
    clockOutBit(port, levelOf(byte, bit));
    // The target changes MISO after the falling edge, so it is stable for the
    // whole high phase.
    bool miso = port.bits.getBit(port.statusPort, kMisoStatusBit) != 0;
    result = (result << 1) | (miso ? 1u : 0u);
    delayUnits(kBitPhaseUnits);
    setDataLine(port, kSckLine, 0);
    delayUnits(kBitPhaseUnits);
  }
  return static_cast<uint8_t>(result & 0xFF);
}

bool cablePresent(const MarlowPort& port) {
  const PortBits& bits = port.bits;
  bool answers = true;
  // The cable joins data bit 0 to status bit 5, and data bit 1 to status bit 7
  // (BUSY, which the port inverts). All four checks always run, so the test
  // always leaves both outputs low.
  bits.setBit(port.dataPort, kLoopbackOut);
  if (bits.getBit(port.statusPort, kLoopbackIn) != kBitReadsOne) answers = false;
  bits.clearBit(port.dataPort, kLoopbackOut);
  if (bits.getBit(port.statusPort, kLoopbackIn) != 0) answers = false;
  bits.setBit(port.dataPort, kInvertedLoopbackOut);
  if (bits.getBit(port.statusPort, kInvertedLoopbackIn) != 0) answers = false;
  bits.clearBit(port.dataPort, kInvertedLoopbackOut);
  if (bits.getBit(port.statusPort, kInvertedLoopbackIn) != kBitReadsOne) answers = false;
  return answers;
}
