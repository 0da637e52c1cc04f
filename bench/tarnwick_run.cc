#include "bench/tarnwick_run.h"

#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int startProgram(const std::string& name, const std::string& directory,
                 const std::map<std::string, std::string>& environment,
                 const std::vector<std::string>& commands) {
  std::string program = std::string(AVRISP_BINARY_DIR) + "/" + name;
  std::fflush(nullptr);  // or the child's freopen writes the parent's pending output again
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    for (const auto& [variable, value] : environment) setenv(variable.c_str(), value.c_str(), 1);
    if (std::freopen("/dev/null", "r", stdin) == nullptr) _exit(127);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    std::vector<std::string> all = {program};
    all.insert(all.end(), commands.begin(), commands.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int startTarnwick(const std::string& directory, const std::string& ttyPrefix,
                  const std::vector<std::string>& commands) {
  return startProgram("tarnwick", directory, {{"TARNWICK_TTY_PREFIX", ttyPrefix}}, commands);
}

RunCost finishTarnwick(int pid, double startedSeconds) {
  RunCost cost;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  cost.wallSeconds = monotonicSeconds() - startedSeconds;
  cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return cost;
}

RunCost runTarnwick(const std::string& directory, const std::string& ttyPrefix,
                    const std::vector<std::string>& commands) {
  double started = monotonicSeconds();
  return finishTarnwick(startTarnwick(directory, ttyPrefix, commands), started);
}

RunCost runProgram(const std::string& name, const std::string& directory,
                   const std::map<std::string, std::string>& environment,
                   const std::vector<std::string>& commands) {
  double started = monotonicSeconds();
  return finishTarnwick(startProgram(name, directory, environment, commands), started);
}

bool startPacedKorvo(const TempDir& dir, const char* part, int latencyMicros,
                     KorvoSimProcess& korvo) {
  writeRealCalibration(dir.path());
  writeFile(dir.file("sfconfig.txt"), "comchannel com2\nbaudrate 115200\n");
  if (korvo.start(dir.file("ttyKorvo1"),
                  {"--part", part, "--time-scale", "1", "--baud-pacing", "--latency-us",
                   std::to_string(latencyMicros), "--state", dir.file("chip.state")})) {
    return true;
  }
  std::fprintf(stderr, "%s\n", korvo.error().c_str());
  return false;
}
