#include "sim/simulated_cable.h"

namespace {

constexpr uint8_t kLoopOut0 = 0x01;
constexpr uint8_t kLoopOut1 = 0x02;
constexpr uint8_t kSck = 0x10;
constexpr uint8_t kMosi = 0x20;
constexpr uint8_t kReset = 0x80;

constexpr uint8_t kLoopIn0 = 0x20;
constexpr uint8_t kMisoIn = 0x40;
constexpr uint8_t kLoopIn1 = 0x80;
// Unconnected status inputs float high; the port inverts BUSY (bit 7), so with
// nothing plugged in the register reads 0x7F.
constexpr uint8_t kIdleStatus = 0x1F;
constexpr uint8_t kUnpluggedStatus = 0x7F;

}  // namespace

SimulatedCable::SimulatedCable(AvrTarget& target, uint16_t baseAddress, bool plugged)
    : target_(&target), base_(baseAddress), plugged_(plugged) {}

void SimulatedCable::write(uint16_t address, uint8_t value) {
  if (address == base_) {
    uint8_t before = data_;
    data_ = value;
    if (plugged_) driveLines(before, value);
  } else if (address == static_cast<uint16_t>(base_ + 2)) {
    control_ = value;
  }
}

uint8_t SimulatedCable::read(uint16_t address) const {
  if (address == base_) return data_;
  if (address == static_cast<uint16_t>(base_ + 2)) return control_;
  if (address != static_cast<uint16_t>(base_ + 1)) return 0xFF;
  if (!plugged_) return kUnpluggedStatus;
  uint8_t status = kIdleStatus;
  if (data_ & kLoopOut0) status |= kLoopIn0;
  if (!(data_ & kLoopOut1)) status |= kLoopIn1;
  if (miso()) status |= kMisoIn;
  return status;
}

void SimulatedCable::driveLines(uint8_t before, uint8_t after) {
  // With the buffer off the target sees its own RESET pull-up and no clock.
  const bool wasOn = buffersOn(before), isOn = buffersOn(after);
  const bool resetLowBefore = wasOn && !(before & kReset);
  const bool resetLowAfter = isOn && !(after & kReset);
  if (resetLowBefore != resetLowAfter) {
    target_->setResetLow(resetLowAfter);
    bitsIn_ = 0;
    misoBit_ = 0;
    framePosition_ = 0;
  }
  if (!resetLowAfter) return;
  const bool sckBefore = wasOn && (before & kSck);
  const bool sckAfter = isOn && (after & kSck);
  if (sckBefore != sckAfter) target_->sckChanged(sckAfter);
  if (!sckBefore && sckAfter) {
    if (bitsIn_ == 0) outgoing_ = target_->pendingOutput();
    shiftRegister_ = static_cast<uint8_t>(shiftRegister_ << 1 | ((after & kMosi) ? 1 : 0));
    if (++bitsIn_ == 8) {
      bitsIn_ = 0;
      target_->shiftIn(shiftRegister_);
      if (observer_) observer_(shiftRegister_, framePosition_);
      framePosition_ = (framePosition_ + 1) % 4;
    }
  } else if (sckBefore && !sckAfter) {
    misoBit_ = bitsIn_;
  }
}

bool SimulatedCable::miso() const {
  if (!buffersOn(data_)) return true;
  // Between bytes the target already presents bit 7 of its next byte.
  uint8_t byte = misoBit_ == 0 ? target_->pendingOutput() : outgoing_;
  return (byte >> (7 - misoBit_)) & 1;
}
