#pragma once
// The command interpreter: one token, one command, from the command line, the
// interactive prompt or a script file.

#include <cstddef>
#include <string>

class Console;
struct Session;

enum class CommandOutcome { kContinue, kExit };

// Longest token a command may be; longer ones are refused whole.
constexpr size_t kCommandTokenRoom = 199;

// Runs one command (the token without its '-').
CommandOutcome executeCommand(Session& session, const std::string& token);

// Inside a catch block: prints what the exception being handled says (or that
// memory ran out) as the reason a command was not completed, and flushes.
void printCommandFault(Console& console);

// The command line: every argument beginning with '-'. Returns kExitOk,
// kExitCommandFailed when a command failed, or kExitCommand after "e".
int runCommandLine(Session& session, int argc, char** argv);

// The interactive prompt until "e" or the end of console input. Returns
// kExitCommand after "e"; at the end of input kExitOk or kExitCommandFailed.
int runPrompt(Session& session);
