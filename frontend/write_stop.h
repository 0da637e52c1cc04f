#pragma once
// On the command line and in scripts, nothing more is written to the target
// once a command has failed: a firmware that did not go in must not be
// followed by the fuses or the lock meant for it.

#include <string>

struct CommandRow;
struct Session;

// True, after a line naming the command, when `row` writes to the target and
// a command before it in this command line or script failed. Commands that
// only read still run, and at the prompt everything does.
bool stopsWriteAfterFailure(Session& session, const CommandRow& row, const std::string& token);

// How the user wrote the command's word: with its '-' on the command line,
// without it at the prompt and in scripts.
const char* typedCommandPrefix(const Session& session);
