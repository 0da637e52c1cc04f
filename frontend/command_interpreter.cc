#include "frontend/command_interpreter.h"

#include <algorithm>
#include <exception>
#include <new>

#include "engine/isp_instructions.h"
#include "engine/isp_link.h"
#include "engine/programming_mode.h"
#include "engine/target_flows.h"
#include "frontend/command_steps.h"
#include "frontend/command_table.h"
#include "frontend/write_stop.h"
#include "run/session.h"

namespace {

bool reidentifiesBefore(Reidentify point) {
  return point == Reidentify::kFirst || point == Reidentify::kBeforeParse;
}

bool reidentifiesAfterPreparing(Reidentify point) {
  return point == Reidentify::kAfterName || point == Reidentify::kAfterParse;
}

StepResult runRow(Session& session, const CommandRow& row, const std::string& token) {
  CommandCall call{session, token.substr(std::min(row.comparedLength, token.size())), 0};
  if (reidentifiesBefore(row.reidentify) && !reidentifyWhenReleased(session)) {
    return StepResult::kFailed;
  }
  if (row.prepare != nullptr && !row.prepare(call)) return StepResult::kFailed;
  if (reidentifiesAfterPreparing(row.reidentify) && !reidentifyWhenReleased(session)) {
    return StepResult::kFailed;
  }
  return row.act(call);
}

StepResult runToken(Session& session, const std::string& token) {
  // Cutting a long token could turn it into another command; refuse it whole.
  if (token.size() > kCommandTokenRoom) {
    session.console.print("Command too long\n");
    return StepResult::kFailed;
  }
  const CommandRow* row = findCommand(session.profile, token);
  if (row == nullptr) return StepResult::kDone;  // unknown tokens are ignored silently
  if (stopsWriteAfterFailure(session, *row, token)) return StepResult::kDone;
  return runRow(session, *row, token);
}

// A command that ends by an exception fails on its own; the run goes on, and
// the target is released as after any other command. Only a lost link ends it.
StepResult runGuarded(Session& session, const std::string& token) {
  try {
    return runToken(session, token);
  } catch (const LinkLostError&) {
    throw;
  } catch (...) {
    printCommandFault(session.console);
  }
  return StepResult::kFailed;
}

}  // namespace

void printCommandFault(Console& console) {
  std::string what = "unknown error";
  try {
    throw;
  } catch (const std::bad_alloc&) {
    what = "out of memory";
  } catch (const std::exception& fault) {
    what = fault.what();
  } catch (...) {
  }
  console.print("\nError - command not completed: %s\n", what.c_str());
  console.flush();
}

bool reidentifyWhenReleased(Session& session) {
  if (!session.target.targetReleased) return true;
  if (identifyTarget(session) == kProgrammingEnableEcho) return true;
  session.console.print("Target not responding - command not run\n");
  return false;
}

CommandOutcome executeCommand(Session& session, const std::string& token) {
  session.commandsRun += 1;
  StepResult result = runGuarded(session, token);
  if (result == StepResult::kExit) return CommandOutcome::kExit;
  if (result == StepResult::kFailed) session.commandFailed = true;
  // Between commands the target runs its own program.
  if (!session.target.targetReleased && session.link != nullptr) leaveProgrammingMode(session);
  return CommandOutcome::kContinue;
}
