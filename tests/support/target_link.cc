#include "tests/support/target_link.h"

namespace {
// The Korvo's wait after RESET falls, and its busy command's limit: 5001
// polls 100 microseconds apart.
constexpr int64_t kResetSettleUnits = 30000;
constexpr int64_t kBusyLimitUnits = 5001 * 100;
}  // namespace

void TargetLink::waitScaled(int64_t units) {
  const int64_t until = clock_.nowMicros() + clock_.scaled(units) + 1;
  while (clock_.nowMicros() < until) {
  }
}

uint8_t TargetLink::carry(const IspInstruction& instruction, int resultByte) {
  uint8_t result = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t out = target_.exchange(instruction.bytes[i]);
    if (i == resultByte) result = out;
  }
  return result;
}

void TargetLink::sendInstruction(const IspInstruction& instruction) {
  carry(instruction, 3);
}

uint8_t TargetLink::queryInstruction(const IspInstruction& instruction) {
  return carry(instruction, 3);
}

uint8_t TargetLink::enableProgramming() {
  return carry(IspInstruction{{0xAC, 0x53, 0x00, 0x00}}, 2);
}

int TargetLink::waitReady() {
  const int64_t limit = clock_.nowMicros() + clock_.scaled(kBusyLimitUnits) + 1000;
  while (target_.busy()) {
    // The chip is asked again after the limit, so a test preempted between the
    // two reads is not taken for a chip that never finished.
    if (clock_.nowMicros() > limit && target_.busy()) {
      ++waitsFailed_;
      return -1;
    }
  }
  return 0;
}

void TargetLink::enterProgrammingMode() {
  target_.setResetLow(true);
  waitScaled(kResetSettleUnits);
  pulseReset(10);
}

void TargetLink::leaveProgrammingMode() {
  target_.setResetLow(false);
}

void TargetLink::pulseReset(int32_t units) {
  target_.setResetLow(false);
  waitScaled(units);
  target_.setResetLow(true);
  waitScaled(kResetSettleUnits);
}
