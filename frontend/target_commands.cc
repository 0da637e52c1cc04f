// The commands that read or write the target's configuration bytes.

#include "engine/target_flows.h"
#include "frontend/command_steps.h"
#include "frontend/fuse_arguments.h"
#include "run/session.h"

namespace {

StepResult doneWhen(bool succeeded) {
  return succeeded ? StepResult::kDone : StepResult::kFailed;
}

StepResult writeFuseCommand(CommandCall& call, int fuseNumber) {
  return doneWhen(writeFuse(call.session, fuseNumber, call.value));
}

}  // namespace

StepResult eraseChipCommand(CommandCall& call) {
  return doneWhen(eraseChip(call.session));
}

StepResult showLockCommand(CommandCall& call) {
  showLockByte(call.session);
  return StepResult::kDone;
}

// The lock byte takes two entries, so that a single stray "pl" cannot lock the
// part; the count survives other commands and settings resets. An entry whose
// value is not one byte is refused and does not count, so that words such as
// "please" cannot arm it.
StepResult armLockCommand(CommandCall& call) {
  Session& session = call.session;
  uint8_t lock = 0;
  if (!parseFuseByte(call.argument, lock)) {
    session.console.print("Lock byte value must be a hexadecimal byte, as in pl3c\n");
    return StepResult::kFailed;
  }
  int& count = session.settings.lockArmCount;
  count += 1;
  if (count < 2) return StepResult::kDone;
  count = 0;
  const bool written = writeLockByte(session, lock);
  // Held for an unknown part: the entry that confirms it is the second.
  const FuseWriteHold& hold = session.fuseHold;
  if (hold.pending && hold.heldAtCommand == session.commandsRun) count = 1;
  return doneWhen(written);
}

StepResult showFuse1Command(CommandCall& call) {
  showFuse(call.session, 1);
  return StepResult::kDone;
}

StepResult showFuse2Command(CommandCall& call) {
  showFuse(call.session, 2);
  return StepResult::kDone;
}

StepResult showFuse3Command(CommandCall& call) {
  showFuse(call.session, 3);
  return StepResult::kDone;
}

StepResult showFusesCommand(CommandCall& call) {
  showFuses(call.session);
  return StepResult::kDone;
}

StepResult writeDefaultFusesCommand(CommandCall& call) {
  return writeDefaultFuses(call.session) ? StepResult::kDone : StepResult::kFailed;
}

StepResult writeAllFusesCommand(CommandCall& call) {
  uint8_t fuses[3];  // low, high, extended, as typed
  if (!parseFuseTriple(call.argument, fuses)) {
    call.session.console.print("Fuse values must be three hexadecimal bytes, as in pfa62,d9,ff\n");
    return StepResult::kFailed;
  }
  return doneWhen(writeAllFuses(call.session, fuses[0], fuses[1], fuses[2]));
}

bool parseFuseValue(CommandCall& call) {
  if (parseFuseByte(call.argument, call.value)) return true;
  call.session.console.print("Fuse value must be a hexadecimal byte, as in pf1e2\n");
  return false;
}

StepResult writeFuse1Command(CommandCall& call) {
  return writeFuseCommand(call, 1);
}
StepResult writeFuse2Command(CommandCall& call) {
  return writeFuseCommand(call, 2);
}
StepResult writeFuse3Command(CommandCall& call) {
  return writeFuseCommand(call, 3);
}

StepResult showCalibrationCommand(CommandCall& call) {
  showCalibrationByte(call.session);
  return StepResult::kDone;
}

StepResult showIdentityCommand(CommandCall& call) {
  showIdentity(call.session);
  return StepResult::kDone;
}

StepResult showStatisticsCommand(CommandCall& call) {
  showStatistics(call.session);
  return StepResult::kDone;
}
