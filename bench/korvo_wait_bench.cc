// How much processor time tarnwick burns while it waits. Replies are awaited
// blocked in poll(), and the long datasheet waits (RESET settling, fuse
// writes) sleep, so the share of CPU time in the wall time of a run should be
// small. Two runs: statistics and identifications against a slow simulated
// Korvo with a chip at 1/1000 of its times, and the same short commands plus a
// fuse write against a chip at datasheet speed. Prints ratios; asserts nothing.
//
// Usage: korvo_wait_bench [LATENCY_US]   (5000 by default)

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/tarnwick_run.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

int measure(const char* label, const std::string& timeScale, int latencyMicros,
            const std::vector<std::string>& commands) {
  TempDir dir;
  writeRealCalibration(dir.path());
  KorvoSimProcess korvo;
  if (!korvo.start(dir.file("ttyKorvo1"),
                   {"--time-scale", timeScale, "--latency-us", std::to_string(latencyMicros)})) {
    std::fprintf(stderr, "korvo_wait_bench: %s\n", korvo.error().c_str());
    return 1;
  }
  RunCost cost = runTarnwick(dir.path(), dir.file("ttyKorvo"), commands);
  korvo.stop();
  std::printf("%-44s wall %.3f s, CPU %.3f s, CPU/wall %.3f (status %d)\n", label, cost.wallSeconds,
              cost.cpuSeconds, cost.cpuShare(), cost.status);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int latencyMicros = argc > 1 ? std::atoi(argv[1]) : 5000;
  std::printf("Korvo reply latency %d us\n", latencyMicros);
  // Statistics and a few identifications: every reply keeps tarnwick waiting.
  if (measure("short commands, chip at 1/1000 of its times", "0.001", latencyMicros,
              {"-s", "-i", "-gf", "-gl", "-gc", "-s"}) != 0) {
    return 1;
  }
  // The same at datasheet speed, with a fuse write: RESET settling and the
  // fuse wait are long waits of tarnwick's own.
  return measure("short commands and a fuse write, datasheet", "1", latencyMicros,
                 {"-s", "-i", "-gf", "-gl", "-gc", "-pf1ff", "-s"});
}
