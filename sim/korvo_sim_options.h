#pragma once
// The command line of korvo-sim.

#include <cstdint>
#include <string>
#include <vector>

struct KorvoSimOptions {
  std::string link;
  std::string part = "ATmega644P";
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
  bool help = false;
  bool version = false;
};

// Parses argv[1..]; false with a one-line reason on bad arguments. --help or
// --version alone is enough (no --link needed).
bool parseKorvoSimOptions(const std::vector<std::string>& args, KorvoSimOptions* options,
                          std::string* error);

const char* korvoSimHelpText();
