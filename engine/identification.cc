// Bringing the target into step and telling which part it is.

#include "catalogue/part_record.h"
#include "engine/isp_instructions.h"
#include "engine/programming_mode.h"
#include "engine/target_flows.h"
#include "run/session.h"

namespace {

constexpr int kEnableAttempts = 4;
// A target that missed the enable gets RESET pulsed for 60 ms, long enough for
// its oscillator to start again before the next attempt.
constexpr int32_t kEnableRetryPulseUnits = 60000;

int lookUpPart(const Session& session) {
  return findPartBySignature(session.catalogue, session.target.signature);
}

void printProcessorLine(Session& session, int row) {
  if (row < 0 || row >= session.catalogue.partCount) {
    session.console.print("Processor: Unrecognized signature\n");
  } else {
    session.console.print("Processor: %s\n", session.catalogue.rows[static_cast<size_t>(row)].name);
  }
}

}  // namespace

uint8_t identifyTarget(Session& session) {
  enterProgrammingMode(session);
  uint8_t echo = ispProgrammingEnable(*session.link);
  session.target.responding = echo == kProgrammingEnableEcho;
  readSignature(session);
  session.target.processorIndex = lookUpPart(session);
  return echo;
}

uint8_t startupEnable(Session& session) {
  uint8_t echo = 0;
  for (int attempt = 1; attempt <= kEnableAttempts; ++attempt) {
    // The Marlow's enable drives RESET into programming mode itself.
    echo = ispProgrammingEnable(*session.link);
    session.target.targetReleased = false;
    if (echo == kProgrammingEnableEcho) break;
    session.console.print("enable attempt %d  inbyte=%x\n", attempt, echo);
    session.link->pulseReset(kEnableRetryPulseUnits);
  }
  session.target.responding = echo == kProgrammingEnableEcho;
  if (echo == kProgrammingEnableEcho) {
    readSignature(session);
    session.target.processorIndex = lookUpPart(session);
    checkDefaultFuses(session);
  } else {
    // Nothing was learned about the target; keeping the row it starts with
    // would let an upload write that part's worth of nothing to a file.
    session.target.processorIndex = -1;
  }
  return echo;
}

void showIdentity(Session& session) {
  readSignature(session);
  session.target.processorIndex = lookUpPart(session);
  const uint8_t* signature = session.target.signature;
  session.console.print("Signature bytes: %x %x %x  ", signature[0], signature[1], signature[2]);
  printProcessorLine(session, session.target.processorIndex);
}

void showStatistics(Session& session) {
  IspLink& link = *session.link;
  readSignature(session);
  int row = lookUpPart(session);  // for the report only; processorIndex stays
  uint8_t lock = ispReadLockBits(link);
  readFuses(session);
  uint8_t calibration = ispReadCalibrationByte(link);

  Console& console = session.console;
  const uint8_t* signature = session.target.signature;
  const uint8_t* fuses = session.target.fuseBytes;
  printProcessorLine(session, row);
  console.print(" Lock byte = %x", lock);
  console.print(lock == 0xFF ? "    No locks bits activated\n" : "\n");
  console.print(" Signature = %x %x %x\n", signature[0], signature[1], signature[2]);
  console.print(" Fuse bytes = %x %x %x\n", fuses[0], fuses[1], fuses[2]);
  console.print(" Calibration byte =  %x\n", calibration);
}

const PartRecord* requireRecognisedPart(Session& session) {
  const PartRecord* part = session.currentPart();
  if (part == nullptr) {
    session.console.print("Target processor not recognized - command not run\n");
  }
  return part;
}
