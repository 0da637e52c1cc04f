#pragma once
// The seam between the programming engine and whatever carries instructions to
// the target: the Korvo over a serial port, the Marlow cable, or a test.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

struct IspInstruction {
  uint8_t bytes[4];
};

class IspLink {
 public:
  virtual ~IspLink() = default;

  // Shifts one instruction into the target; no result is read.
  virtual void sendInstruction(const IspInstruction& instruction) = 0;
  // Shifts one instruction and returns the byte the target shifted out during
  // the fourth instruction byte.
  virtual uint8_t queryInstruction(const IspInstruction& instruction) = 0;
  // A run of queries whose answers do not decide what is asked next, as when
  // memory is read back. The answers land in order in `results`; a link may
  // overlap the queries to save round trips, with the same bytes on the wire.
  virtual void queryInstructions(const IspInstruction* instructions, size_t count,
                                 uint8_t* results) {
    for (size_t i = 0; i < count; ++i) results[i] = queryInstruction(instructions[i]);
  }
  // Programming Enable (AC 53 00 00); returns the byte shifted out during the
  // third instruction byte, 0x53 when the target is in step.
  virtual uint8_t enableProgramming() = 0;
  // Waits for the end of a self-timed write: 0 when ready, -1 when it failed.
  virtual int waitReady() = 0;
  // The same wait in two halves, for a link that can carry the next
  // instructions while the target writes: true when the wait was sent and its
  // outcome is to be taken later with collectWaitReady, in the order sent and
  // before anything else reads from the link; false when the link cannot
  // split it and the caller uses waitReady.
  virtual bool sendWaitReady() { return false; }
  virtual int collectWaitReady() { return waitReady(); }
  // Holds the target in reset for serial programming, and lets it run again.
  virtual void enterProgrammingMode() = 0;
  virtual void leaveProgrammingMode() = 0;
  // RESET high for `units` delay units, then low again with the settling wait
  // each link's protocol gives it.
  virtual void pulseReset(int32_t units) = 0;
};

// Thrown by a link whose programmer stopped answering or went away; the run
// ends with status 4 after printing what() as it stands.
class LinkLostError : public std::runtime_error {
 public:
  explicit LinkLostError(const std::string& message) : std::runtime_error(message) {}
};
