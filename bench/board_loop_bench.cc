// A batch of boards with a tiny firmware: one tarnwick process per board,
// as a shell script would run it, against one process looping over the row
// (--loop) on korvo-sim's row of boards. The loop's own cost per board is the
// board's wall time less the board's programming time (from the record) and
// less the simulated operator's pauses (unplug and next board). Prints the
// figures and the ratio; asserts nothing.
//
// Usage: board_loop_bench [BOARDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kPart = "ATmega328P";
constexpr int kUnplugAfterMs = 20;
constexpr int kBoardGapMs = 20;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The sum of the record's last column, the programs' own board times.
double recordedSeconds(const std::string& record) {
  std::istringstream lines(record);
  std::string line;
  std::getline(lines, line);  // header
  double total = 0;
  while (std::getline(lines, line)) total += std::atof(line.substr(line.rfind(',') + 1).c_str());
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const int boards = argc > 1 ? std::atoi(argv[1]) : 10;
  TempDir dir;
  writeRealCalibration(dir.path());
  writeFile(dir.file("tiny.hex"), intelHexText(randomBytes(162, 7)));
  ProcessOptions options;
  options.workingDirectory = dir.path();
  options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
  options.timeLimitSeconds = 600;

  // A process per board, each paying for its start, the sign-on and the
  // start-up report.
  double perProcess = 0;
  {
    KorvoSimProcess korvo;
    if (!korvo.start(dir.file("ttyKorvo1"), {"--part", kPart})) {
      std::fprintf(stderr, "%s\n", korvo.error().c_str());
      return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int board = 0; board < boards; ++board) {
      runProcess(builtProgram("tarnwick"), {"--no-wait", "-dftiny.hex"}, options);
    }
    perProcess = secondsSince(start) / boards;
    korvo.stop();
  }

  KorvoSimProcess korvo;
  if (!korvo.start(dir.file("ttyKorvo1"), {"--part", kPart, "--boards", std::to_string(boards),
                                           "--unplug-after-ms", std::to_string(kUnplugAfterMs),
                                           "--board-gap-ms", std::to_string(kBoardGapMs)})) {
    std::fprintf(stderr, "%s\n", korvo.error().c_str());
    return 1;
  }
  options.holdStandardInputOpen = true;
  const auto start = std::chrono::steady_clock::now();
  ProcessResult loop = runProcess(
      builtProgram("tarnwick"),
      {"--no-wait", "--loop=" + std::to_string(boards), "--record", "record.csv", "-dftiny.hex"},
      options);
  const double perBoard = secondsSince(start) / boards;
  korvo.stop();
  const double programming = recordedSeconds(readFile(dir.file("record.csv"))) / boards;
  const double operatorPause = (kUnplugAfterMs + kBoardGapMs) / 1000.0;
  std::printf("%d boards of %s, 162-byte firmware, datasheet speed (status %d)\n", boards, kPart,
              loop.exitStatus);
  std::printf("  a process per board:   %6.3f s per board\n", perProcess);
  std::printf("  one looping process:   %6.3f s per board (programming %.3f s, operator %.3f s)\n",
              perBoard, programming, operatorPause);
  std::printf("  loop overhead:         %6.3f s per board\n",
              perBoard - programming - operatorPause);
  std::printf("  ratio loop/process:    %6.3f\n", perProcess > 0 ? perBoard / perProcess : 0.0);
  return loop.exitStatus == 0 ? 0 : 1;
}
