#pragma once
// An IspLink straight onto the simulated target, behaving as the Korvo does:
// entering programming mode holds RESET low and waits out the target's settling
// time, and waitReady asks the chip whether its self-timed write is over. Its
// waits run on the target's clock, so a chip scaled to 1/1000 of the datasheet
// times makes a whole-flash transfer take moments.

#include <cstdint>

#include "engine/isp_link.h"
#include "sim/avr_target.h"
#include "sim/sim_clock.h"

class TargetLink : public IspLink {
 public:
  TargetLink(AvrTarget& target, SimClock& clock) : target_(target), clock_(clock) {}

  void sendInstruction(const IspInstruction& instruction) override;
  uint8_t queryInstruction(const IspInstruction& instruction) override;
  uint8_t enableProgramming() override;
  int waitReady() override;
  void enterProgrammingMode() override;
  void leaveProgrammingMode() override;
  void pulseReset(int32_t units) override;

  int waitsFailed() const { return waitsFailed_; }

 private:
  // Waits `units` datasheet microseconds as the target's clock counts them.
  void waitScaled(int64_t units);
  uint8_t carry(const IspInstruction& instruction, int resultByte);

  AvrTarget& target_;
  SimClock& clock_;
  int waitsFailed_ = 0;
};
