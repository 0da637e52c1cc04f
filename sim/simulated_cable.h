#pragma once
// The Marlow cable on a parallel port, as the target's side of it sees the
// port's registers: data register bits drive the ISP lines through the cable's
// buffer, status register bits carry MISO and the two cable-test loopbacks.
//
// Data register (base):      bit 0, 1 loopback outputs; bits 2, 3 buffer
//                            enables (low = on); bit 4 SCK; bit 5 MOSI;
//                            bit 7 RESET (bit 6 is its twin and not needed).
// Status register (base + 1): bit 5 = data bit 0; bit 7 = NOT data bit 1;
//                            bit 6 MISO.
// Control register (base + 2) is kept but drives nothing.

#include <cstdint>
#include <functional>

#include "sim/avr_target.h"

class SimulatedCable {
 public:
  // Called with each byte the target received and its place (0 to 3) in the
  // four-byte instruction frame.
  using ByteObserver = std::function<void(uint8_t byte, int framePosition)>;

  SimulatedCable(AvrTarget& target, uint16_t baseAddress = 0x378, bool plugged = true);

  // Register access; addresses other than the cable's port do nothing and read
  // 0xFF, as an empty I/O address does.
  void write(uint16_t address, uint8_t value);
  uint8_t read(uint16_t address) const;

  void setByteObserver(ByteObserver observer) { observer_ = std::move(observer); }
  uint16_t baseAddress() const { return base_; }

 private:
  bool buffersOn(uint8_t data) const { return (data & 0x0C) == 0; }
  void driveLines(uint8_t before, uint8_t after);
  bool miso() const;

  AvrTarget* target_;
  uint16_t base_;
  bool plugged_;
  uint8_t data_ = 0xFF;
  uint8_t control_ = 0x00;

  // SPI mode 0 slave: MOSI is sampled on the rising edge of SCK, MISO moves to
  // the next bit after the falling edge.
  uint8_t shiftRegister_ = 0;
  uint8_t outgoing_ = 0xFF;
  int bitsIn_ = 0;
  int misoBit_ = 0;
  int framePosition_ = 0;
  ByteObserver observer_;
};
