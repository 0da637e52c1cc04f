#pragma once
// Boards one after another: the command line run on each, a serial number
// written after its firmware, a record line for each, and with --loop the
// next board taken when the last is unplugged and another plugged in.

#include <cstdint>
#include <string>

#include "frontend/serial_number.h"

class LoggedConsole;
struct Session;

struct BoardRun {
  bool loop = false;
  uint64_t boardLimit = 0;  // --loop=N: end after N boards; 0 for no limit
  bool serialGiven = false;
  SerialPlan serial;
  std::string recordFile;

  bool active() const { return loop || serialGiven || !recordFile.empty(); }
};

// Runs the command line on the board at hand, then on each next one while
// looping, until Ctrl-C, the end of console input, the board limit or the
// exit command. Returns kExitOk when every board was ok, kExitCommand after
// the exit command, else kExitCommandFailed.
int runBoards(Session& session, LoggedConsole& lines, const BoardRun& run, int argc,
              char** argv);
