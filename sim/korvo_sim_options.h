#pragma once
// The command line of korvo-sim.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/board_row.h"

struct KorvoSimOptions {
  std::string link;
  std::string part = "ATmega644P";
  std::string partsFile;  // --parts FILE; else the first parts.txt of tarnwick's places
  bool listParts = false;
  std::string stateFile;
  std::string traceFile;
  double timeScale = 1.0;
  bool signOn = true;
  int64_t signOnGapMillis = 0;
  bool targetAbsent = false;
  bool busyForever = false;
  uint64_t hangupAfterFrames = 0;
  uint64_t silentAfterFrames = 0;
  bool actsDuringBusy = false;
  bool baudPacing = false;
  int64_t latencyMicros = 0;
  // A row of boards (sim/board_row.h): --boards, --unplug-after-ms,
  // --board-gap-ms, --fail-board, --board-states.
  BoardRowSettings boardRow;
  bool help = false;
  bool version = false;
};

// Parses argv[1..]; false with a one-line reason on bad arguments. --help,
// --version or --list-parts alone is enough (no --link needed). Reads the
// parts.txt (--parts FILE, or the first of tarnwick's places) before it looks
// --part up; its messages go to standard error.
bool parseKorvoSimOptions(const std::vector<std::string>& args, KorvoSimOptions* options,
                          std::string* error);

const char* korvoSimHelpText();

// --list-parts: a header line, then one line per part the simulator knows,
// its name first.
void printSimPartList(std::FILE* out);
