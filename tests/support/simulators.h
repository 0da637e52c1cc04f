#pragma once
// Whole-program tests against the simulators: a korvo-sim process serving a
// pseudo-terminal, the environment that puts the simulated cable in front of
// pellory, and a delay calibration that keeps the programs' waits in step with
// a simulated chip running at a fraction of the datasheet times.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/run_process.h"

// The time scale the simulated chips run at in whole-program tests.
constexpr double kSimTimeScale = 0.001;

// Writes "gcal.txt" in `directory` with a loop count a hundredth of this
// machine's, sparing the programs their measuring run. The count only sets how
// often the waits read the clock, so the waits keep their full length: the
// simulated chips run at kSimTimeScale and need far less.
void writeFastCalibration(const std::string& directory);

// Writes "gcal.txt" with this machine's own loop count. For tarnwick: korvo-sim
// times the bytes when it gets round to reading them, so on a loaded machine a
// short settle wait after RESET can reach it together with the enable. Its
// waits are few (programming mode and fuse writes; page writes are polled), so
// real-length waits cost little.
void writeRealCalibration(const std::string& directory);

class KorvoSimProcess {
 public:
  KorvoSimProcess() = default;
  ~KorvoSimProcess();
  KorvoSimProcess(const KorvoSimProcess&) = delete;
  KorvoSimProcess& operator=(const KorvoSimProcess&) = delete;

  // Starts korvo-sim with its link at `linkPath`; false (with the reason in
  // error()) when it did not come up within ten seconds.
  bool start(const std::string& linkPath, const std::vector<std::string>& arguments);
  // SIGTERM, then waits for it to end; returns its exit status (-1 if killed).
  int stop();
  const std::string& error() const { return error_; }
  const std::string& logPath() const { return logPath_; }

 private:
  pid_t pid_ = -1;
  std::string linkPath_;
  std::string logPath_;
  std::string error_;
};

// Environment for pellory to find the simulated cable first.
std::map<std::string, std::string> simulatedCableEnvironment(const std::string& part,
                                                             const std::string& stateFile);

// The two programs, for tests that run the same story through both.
enum class Program { kTarnwick, kPellory };

// The calibration that suits the program's simulator (see above).
void writeCalibrationFor(Program program, const std::string& directory);

// One run of `program` in `folder` against a simulated `part` whose memories
// persist in folder/chip.state between runs: tarnwick through a korvo-sim on
// folder/ttyKorvo1 (COM2, its default channel) started and stopped around the
// run, pellory through the simulated cable.
ProcessResult runOnSimulatedPart(Program program, const std::string& part,
                                 const std::string& folder,
                                 const std::vector<std::string>& arguments,
                                 ProcessOptions options = {});
