#include "frontend/write_stop.h"

#include "frontend/command_table.h"
#include "run/session.h"

namespace {

// A fuse write the guard held back is not a failure to the entry that
// confirms it, which must be the very next command; any later one sees it.
bool failedBefore(const Session& session) {
  const FuseWriteHold& hold = session.fuseHold;
  if (hold.pending && hold.heldAtCommand + 1 == session.commandsRun) return hold.failedBefore;
  return session.commandFailed;
}

}  // namespace

bool stopsWriteAfterFailure(Session& session, const CommandRow& row, const std::string& token) {
  if (!row.writesTarget || session.commandOrigin == CommandOrigin::kPrompt) return false;
  if (!failedBefore(session)) return false;
  session.console.print("%s%s not run: an earlier command failed, so nothing more is written\n",
                        typedCommandPrefix(session), token.c_str());
  return true;
}

const char* typedCommandPrefix(const Session& session) {
  return session.commandOrigin == CommandOrigin::kCommandLine ? "-" : "";
}
