// How much processor time tarnwick burns while it waits on a slow Korvo. The
// link blocks in poll() for each reply instead of asking the port again and
// again, so the share of CPU time in the wall time of the run should be small.
// Prints ratios; asserts nothing.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

struct RunCost {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  int status = -1;
};

RunCost runTarnwick(const TempDir& dir, const std::vector<std::string>& commands) {
  std::string program = std::string(AVRISP_BINARY_DIR) + "/tarnwick";
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    setenv("TARNWICK_TTY_PREFIX", dir.file("ttyKorvo").c_str(), 1);
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
  RunCost cost;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  cost.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return cost;
}

}  // namespace

int main(int argc, char** argv) {
  int latencyMicros = argc > 1 ? std::atoi(argv[1]) : 5000;
  TempDir dir;
  writeFastCalibration(dir.path());
  KorvoSimProcess korvo;
  if (!korvo.start(dir.file("ttyKorvo1"),
                   {"--time-scale", "0.001", "--latency-us", std::to_string(latencyMicros)})) {
    std::fprintf(stderr, "korvo_wait_bench: %s\n", korvo.error().c_str());
    return 1;
  }
  // Statistics and a few identifications: every reply keeps tarnwick waiting.
  RunCost cost = runTarnwick(dir, {"-s", "-i", "-gf", "-gl", "-gc", "-s"});
  std::printf(
      "Korvo reply latency %d us: tarnwick wall %.3f s, CPU %.3f s, CPU/wall %.3f (status %d)\n",
      latencyMicros, cost.wallSeconds, cost.cpuSeconds,
      cost.wallSeconds > 0 ? cost.cpuSeconds / cost.wallSeconds : 0.0, cost.status);
  return 0;
}
