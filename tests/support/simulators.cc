#include "tests/support/simulators.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

// The fastest of three runs: a run slowed by other processes would give a
// count too small, and waits too short for the simulated chip.
int32_t machineLoopCount() {
  static int32_t loops = 0;
  if (loops == 0) {
    double best = measureLoopTime();
    for (int i = 0; i < 2; ++i) {
      double again = measureLoopTime();
      if (again < best) best = again;
    }
    loops = loopsFromMicrosecondsPerIteration(best);
  }
  return loops;
}

}  // namespace

void writeFastCalibration(const std::string& directory) {
  int32_t loops = machineLoopCount() / 100;
  writeFile(directory + "/gcal.txt", std::to_string(loops < 3 ? 3 : loops));
}

void writeRealCalibration(const std::string& directory) {
  writeFile(directory + "/gcal.txt", std::to_string(machineLoopCount()));
}

KorvoSimProcess::~KorvoSimProcess() {
  stop();
}

bool KorvoSimProcess::start(const std::string& linkPath,
                            const std::vector<std::string>& arguments) {
  linkPath_ = linkPath;
  logPath_ = linkPath + ".log";
  std::string program = builtProgram("sim/korvo-sim");
  pid_ = fork();
  if (pid_ == 0) {
    int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) dup2(log, STDERR_FILENO);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
    }
    std::vector<std::string> all = {program, "--link", linkPath};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  // Bounded wait for the device to appear; no timing is asserted.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat info;
    if (lstat(linkPath.c_str(), &info) == 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "korvo-sim ended early: " + readFile(logPath_);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  error_ = "korvo-sim did not create " + linkPath;
  return false;
}

int KorvoSimProcess::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> simulatedCableEnvironment(const std::string& part,
                                                             const std::string& stateFile) {
  char scale[32];
  std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
  std::map<std::string, std::string> environment = {
      {"LD_LIBRARY_PATH", builtProgram("sim")},
      {"PELLORY_SIM_PART", part},
      {"PELLORY_SIM_TIME_SCALE", scale},
  };
  if (!stateFile.empty()) environment["PELLORY_SIM_STATE"] = stateFile;
  return environment;
}

void writeCalibrationFor(Program program, const std::string& directory) {
  if (program == Program::kTarnwick) {
    writeRealCalibration(directory);
  } else {
    writeFastCalibration(directory);
  }
}

ProcessResult runOnSimulatedPart(Program program, const std::string& part,
                                 const std::string& folder,
                                 const std::vector<std::string>& arguments,
                                 ProcessOptions options) {
  options.workingDirectory = folder;
  const std::string state = folder + "/chip.state";
  if (program == Program::kPellory) {
    for (const auto& [name, value] : simulatedCableEnvironment(part, state)) {
      options.environment[name] = value;
    }
    return runProcess(builtProgram("pellory"), arguments, options);
  }
  KorvoSimProcess korvo;
  char scale[32];
  std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
  if (!korvo.start(folder + "/ttyKorvo1",
                   {"--part", part, "--state", state, "--time-scale", scale})) {
    ADD_FAILURE() << korvo.error();
    return {};
  }
  options.environment["TARNWICK_TTY_PREFIX"] = folder + "/ttyKorvo";
  ProcessResult result = runProcess(builtProgram("tarnwick"), arguments, options);
  korvo.stop();
  return result;
}
