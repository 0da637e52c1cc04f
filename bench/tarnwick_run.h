#pragma once
// Runs tarnwick as its own process in a benchmark's directory and measures
// the wall time and the processor time it took.

#include <map>
#include <string>
#include <vector>

struct RunCost {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  int status = -1;
  double cpuShare() const { return wallSeconds > 0 ? cpuSeconds / wallSeconds : 0.0; }
};

// Starts tarnwick in `directory` with COM2 at `ttyPrefix`1 and returns its pid;
// finishTarnwick waits for it. Split so several can run at once.
int startTarnwick(const std::string& directory, const std::string& ttyPrefix,
                  const std::vector<std::string>& commands);
RunCost finishTarnwick(int pid, double startedSeconds);

RunCost runTarnwick(const std::string& directory, const std::string& ttyPrefix,
                    const std::vector<std::string>& commands);

// Either program (its file name in the build tree) with extra environment
// variables, started and measured the same way.
int startProgram(const std::string& name, const std::string& directory,
                 const std::map<std::string, std::string>& environment,
                 const std::vector<std::string>& commands);
RunCost runProgram(const std::string& name, const std::string& directory,
                   const std::map<std::string, std::string>& environment,
                   const std::vector<std::string>& commands);

class KorvoSimProcess;
class TempDir;

// Sets `dir` up for tarnwick on COM2 at 115200 baud (with this machine's own
// calibration) and starts korvo-sim on dir/ttyKorvo1, pacing bytes at that
// rate with the given USB round trip, the chip `part` at datasheet speed and
// kept in dir/chip.state. False, after saying why on standard error, when
// korvo-sim did not come up.
bool startPacedKorvo(const TempDir& dir, const char* part, int latencyMicros,
                     KorvoSimProcess& korvo);

// Seconds on the monotonic clock, for finishTarnwick.
double monotonicSeconds();
