#include "frontend/command_interpreter.h"

#include "frontend/session.h"

CommandOutcome executeCommand(Session&, const std::string&) { return CommandOutcome::kContinue; }

int runCommandLine(Session&, int, char**) { return kExitOk; }

int runPrompt(Session&) { return kExitOk; }
