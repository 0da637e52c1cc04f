#pragma once
// Options in the Linux manner (--help, --version, --port, --no-wait,
// --list-parts), taken
// from the arguments before start-up touches any port or library. Every other
// argument is left for the command line.

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/board_loop.h"

class Console;
struct Profile;

struct LongOptions {
  bool help = false;
  bool version = false;
  bool noWait = false;        // no key wait at the end of the run
  bool verifyErased = false;  // flash verification also reads the erased pages
  bool listParts = false;     // --list-parts: print the part table and end
  std::string port;           // --port's value, empty when not given
  bool forceFuses = false;    // fuse writes that end serial programming need no confirmation
  bool explainFuses = false;  // every fuse report is followed by its bits
  bool forcePart = false;     // an ELF built for another part is programmed all the same
  // --decode-fuses PART LOW HIGH [EXT]: the part and its bytes; the run only
  // prints them decoded.
  bool decodeFuses = false;
  std::vector<std::string> decodeArguments;
  std::string refusal;  // one line naming what was wrong; the run must not start
  // argv[0] and the arguments that are not long options, for the command
  // line, ending in a null pointer as argv does.
  std::vector<char*> commandArguments;
  // tarnwick: print the serial devices present and end the run.
  bool listPorts = false;
  // --list-commands: print the command words, one a line, and end the run.
  bool listCommands = false;
  // --loop[=N], --serial, --serial-counter, --record: a batch of boards.
  BoardRun boards;

  // Whether the options answer the run themselves (help, version, a refusal).
  bool endRun() const {
    return help || version || listPorts || listParts || listCommands || decodeFuses ||
           !refusal.empty();
  }
  int commandCount() const { return static_cast<int>(commandArguments.size()) - 1; }
  char** commandVector() { return commandArguments.data(); }
};

LongOptions readLongOptions(const Profile& profile, int argc, char** argv);

// For a run the options end: prints the help or the version on the console,
// or the refusal and the usage hint on `errors`. Returns the exit status.
int answerLongOptions(const Profile& profile, const LongOptions& options, Console& console,
                      std::FILE* errors);

// --help after the command help: the long options and where files are looked for.
void printLongOptionHelp(const Profile& profile, Console& console);

// --list-parts: a header line, then one line per part of the catalogue the
// program would identify targets against (built in, then parts.txt), the
// part's name first. Messages about parts.txt go to `errors`.
// --list-commands: each command word the program takes, one a line, followed
// by " file" when a file name follows it; for the shell's completion.
void printCommandWords(const Profile& profile, Console& console);

void printPartList(const Profile& profile, Console& console, std::FILE* errors);
