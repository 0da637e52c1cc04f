// Loads a 256 KiB image from a HEX file and writes it back, and times srec_cat
// converting the same file in the same run. Prints both and their ratio.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "image/hex_reader.h"
#include "image/hex_writer.h"
#include "run/console.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kBenchBytes = 256 * 1024;
constexpr int kRounds = 15;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool runTool(const char* program, std::initializer_list<const char*> arguments) {
  std::vector<char*> argv{const_cast<char*>(program)};
  for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  pid_t child;
  if (posix_spawn(&child, program, nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/hex-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::fprintf(stderr, "hex_bench: cannot create a temporary folder\n");
    return 1;
  }
  const std::string folder = pattern;
  const std::string input = folder + "/in.hex", output = folder + "/out.hex",
                    toolOutput = folder + "/tool.hex";

  auto image = std::make_unique<ImageBuffer>();
  std::mt19937 random(1);
  image->fill(0xFF);
  for (int32_t i = 0; i < kBenchBytes; ++i) (*image)[i] = static_cast<uint8_t>(random());
  ScriptedConsole console;
  if (writeHexFile(input, *image, kBenchBytes, 4, console) != 1) {
    std::fprintf(stderr, "hex_bench: cannot write %s\n", input.c_str());
    return 1;
  }

  auto loaded = std::make_unique<ImageBuffer>();
  double bestLoad = 1e9, bestWrite = 1e9, bestOurs = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    std::ifstream stream(input);
    const int32_t length = readHexFile(stream, *loaded, 0xFF, console);
    const double load = millisecondsSince(start);
    const auto writeStart = Clock::now();
    const int written = writeHexFile(output, *loaded, length, 4, console);
    bestWrite = std::min(bestWrite, millisecondsSince(writeStart));
    bestLoad = std::min(bestLoad, load);
    bestOurs = std::min(bestOurs, millisecondsSince(start));
    if (length != kBenchBytes || written != 1 || *loaded != *image) {
      std::fprintf(stderr, "hex_bench: the round trip lost data\n");
      return 1;
    }
  }

  double bestTool = -1;
  const char* srecCat = "/usr/bin/srec_cat";
  if (access(srecCat, X_OK) == 0) {
    bestTool = 1e9;
    for (int round = 0; round < 5; ++round) {
      const auto start = Clock::now();
      if (!runTool(srecCat, {input.c_str(), "-intel", "-o", toolOutput.c_str(), "-intel"})) {
        std::fprintf(stderr, "hex_bench: srec_cat failed\n");
        return 1;
      }
      bestTool = std::min(bestTool, millisecondsSince(start));
    }
  }

  std::printf("HEX round trip of a %d KiB image (best of %d)\n", kBenchBytes / 1024, kRounds);
  std::printf("  ours: load %.2f ms + write %.2f ms (file flushed to disk) = %.2f ms\n", bestLoad,
              bestWrite, bestOurs);
  if (bestTool < 0) {
    std::printf("  srec_cat: not installed (package srecord)\n");
  } else {
    std::printf("  srec_cat: %.2f ms\n", bestTool);
    std::printf("  srec_cat / ours = %.1f\n", bestTool / bestOurs);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
