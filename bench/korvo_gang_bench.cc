// One machine with many Korvos is how a production line scales: four tarnwick
// processes, each downloading to its own korvo-sim at 115200 baud with a 1 ms
// round trip and a chip at datasheet speed, all at once, against one alone.
// A ratio near 1 says the programs leave the processors to each other while
// they wait on their lines. Prints the ratio; asserts nothing.
//
// Usage: korvo_gang_bench [PROGRAMMERS]   (4 by default)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/tarnwick_run.h"
#include "tests/support/hex_text.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr size_t kImageBytes = 8192;

struct Station {
  TempDir dir;
  KorvoSimProcess korvo;
};

bool setUp(Station& station) {
  writeRealCalibration(station.dir.path());
  writeFile(station.dir.file("sfconfig.txt"), "comchannel com2\nbaudrate 115200\n");
  writeFile(station.dir.file("image.hex"), intelHexText(randomBytes(kImageBytes, 4)));
  if (!station.korvo.start(
          station.dir.file("ttyKorvo1"),
          {"--part", "ATmega644P", "--time-scale", "1", "--baud-pacing", "--latency-us", "1000"})) {
    std::fprintf(stderr, "korvo_gang_bench: %s\n", station.korvo.error().c_str());
    return false;
  }
  return true;
}

const std::vector<std::string> kCommands = {"-dfimage.hex"};

}  // namespace

int main(int argc, char** argv) {
  int programmers = argc > 1 ? std::atoi(argv[1]) : 4;
  if (programmers < 1 || programmers > 16) {
    std::fprintf(stderr, "korvo_gang_bench: the number of programmers must be 1 to 16\n");
    return 2;
  }
  std::vector<std::unique_ptr<Station>> stations;
  for (int i = 0; i < programmers; ++i) {
    stations.push_back(std::make_unique<Station>());
    if (!setUp(*stations.back())) return 1;
  }
  RunCost alone =
      runTarnwick(stations[0]->dir.path(), stations[0]->dir.file("ttyKorvo"), kCommands);

  double started = monotonicSeconds();
  std::vector<int> pids;
  for (auto& station : stations) {
    pids.push_back(startTarnwick(station->dir.path(), station->dir.file("ttyKorvo"), kCommands));
  }
  double longest = 0;
  int failed = 0;
  for (int pid : pids) {
    RunCost cost = finishTarnwick(pid, started);
    longest = std::max(longest, cost.wallSeconds);
    if (cost.status != 0) ++failed;
  }
  for (auto& station : stations) station->korvo.stop();
  std::printf("download and verify of %zu bytes, ATmega644P at datasheet speed, 115200 baud\n",
              kImageBytes);
  std::printf("  one alone:      %.2f s (status %d)\n", alone.wallSeconds, alone.status);
  std::printf("  %d at once:      %.2f s (%d failed)\n", programmers, longest, failed);
  std::printf("  ratio: %.3f\n", alone.wallSeconds > 0 ? longest / alone.wallSeconds : 0.0);
  return 0;
}
