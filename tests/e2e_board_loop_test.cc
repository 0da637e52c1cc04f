// A maker's batch, end to end: one run of each program with --loop, a serial
// number and a record, against a simulated row of ATmega328P boards that are
// unplugged once written and followed by fresh blank ones. Each board's chip
// is saved by the simulator as it goes, and read back here.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "sim/avr_target.h"
#include "sim/board_row.h"
#include "sim/sim_parts.h"
#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

struct RowCase {
  Program program;
  int boards;
  int failBoard;  // 0 when every board is good
};

const RowCase kRows[] = {
    {Program::kTarnwick, 20, 0},
    {Program::kPellory, 5, 0},
    {Program::kTarnwick, 5, 3},
    {Program::kPellory, 4, 2},
};

constexpr uint64_t kFirstSerial = 4000000000u;  // near the top of 4 bytes
constexpr uint32_t kSerialAddress = 0x10;

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> csvColumns(const std::string& line) {
  std::vector<std::string> columns(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      columns.emplace_back();
    } else {
      columns.back() += c;
    }
  }
  return columns;
}

std::string sha256sum(const std::string& path) {
  ProcessResult result = runProcess("/usr/bin/sha256sum", {path}, {});
  return result.output.substr(0, 64);
}

class BoardLoopTest : public ::testing::TestWithParam<RowCase> {
 protected:
  void SetUp() override {
    writeCalibrationFor(GetParam().program, dir.path());
    firmware = randomBytes(162, 29);
    writeFile(dir.file("blink.hex"), intelHexText(firmware));
    writeFile(dir.file("counter.txt"), std::to_string(kFirstSerial) + "\n");
    ASSERT_EQ(mkdir(dir.file("boards").c_str(), 0755), 0);
  }

  ProcessResult runRow(const std::vector<std::string>& commands) {
    const RowCase& row = GetParam();
    std::vector<std::string> arguments = {
        "--no-wait",        "--loop=" + std::to_string(row.boards),
        "--serial",         "eeprom:0x10:4:le",
        "--serial-counter", "counter.txt",
        "--record",         "record.csv"};
    arguments.insert(arguments.end(), commands.begin(), commands.end());
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.holdStandardInputOpen = true;
    options.timeLimitSeconds = 180;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    if (row.program == Program::kPellory) {
      options.environment = simulatedCableEnvironment("ATmega328P", dir.file("chip.state"));
      options.environment["PELLORY_SIM_BOARDS"] = std::to_string(row.boards);
      options.environment["PELLORY_SIM_BOARD_STATES"] = dir.file("boards");
      if (row.failBoard)
        options.environment["PELLORY_SIM_FAIL_BOARD"] = std::to_string(row.failBoard);
      return runProcess(builtProgram("pellory"), arguments, options);
    }
    KorvoSimProcess korvo;
    std::vector<std::string> simArguments = {"--part",         "ATmega328P",
                                             "--time-scale",   scale,
                                             "--boards",       std::to_string(row.boards),
                                             "--board-states", dir.file("boards")};
    if (row.failBoard) {
      simArguments.insert(simArguments.end(), {"--fail-board", std::to_string(row.failBoard)});
    }
    if (!korvo.start(dir.file("ttyKorvo1"), simArguments)) {
      ADD_FAILURE() << korvo.error();
      return {};
    }
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    ProcessResult result = runProcess(builtProgram("tarnwick"), arguments, options);
    korvo.stop();
    return result;
  }

  TempDir dir;
  std::vector<uint8_t> firmware;
};

TEST_P(BoardLoopTest, EveryBoardGetsFirmwareFusesLockAndItsOwnSerial) {
  const RowCase& row = GetParam();
  ProcessResult result = runRow({"-dfblink.hex", "-pfae2,d1,fd", "-plfc", "-plfc"});
  const std::string all = result.output + result.errorOutput;
  const int failed = row.failBoard ? 1 : 0;
  EXPECT_EQ(result.exitStatus, failed ? 2 : 0) << all;
  EXPECT_NE(all.find("Boards: " + std::to_string(row.boards - failed) + " ok, " +
                     std::to_string(failed) + " failed"),
            std::string::npos)
      << all;

  // Every number handed out is gone from the counter, the failed board's too.
  EXPECT_EQ(readFile(dir.file("counter.txt")), std::to_string(kFirstSerial + row.boards) + "\n");

  const std::vector<std::string> record = splitLines(readFile(dir.file("record.csv")));
  ASSERT_EQ(record.size(), static_cast<size_t>(row.boards + 1)) << readFile(dir.file("record.csv"));
  EXPECT_EQ(record[0].rfind("time,port,part,signature,files,serial", 0), 0u);
  const std::string digest = sha256sum(dir.file("blink.hex"));
  const SimPart* part = findSimPart("ATmega328P");
  ASSERT_NE(part, nullptr);
  for (int board = 1; board <= row.boards; ++board) {
    SCOPED_TRACE("board " + std::to_string(board));
    const std::vector<std::string> columns = csvColumns(record[static_cast<size_t>(board)]);
    ASSERT_EQ(columns.size(), 13u);
    const uint64_t serial = kFirstSerial + static_cast<uint64_t>(board - 1);
    EXPECT_EQ(columns[2], "ATmega328P");
    EXPECT_EQ(columns[3], "1E 95 0F");
    EXPECT_EQ(columns[4], "blink.hex:" + digest);
    EXPECT_EQ(columns[5], std::to_string(serial));
    if (board == row.failBoard) {
      EXPECT_EQ(columns[6], "no");
      EXPECT_EQ(columns[11].rfind("failed: ", 0), 0u) << columns[11];
      continue;
    }
    EXPECT_EQ(columns[6], "yes");
    EXPECT_EQ(columns[7] + columns[8] + columns[9] + columns[10], "E2D1FDFC");
    EXPECT_EQ(columns[11], "ok");

    SimClock clock;
    AvrTarget chip(*part, clock);
    std::string error;
    ASSERT_TRUE(chip.loadState(BoardRow::stateFile(dir.file("boards"), board), &error)) << error;
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), chip.flash().begin()));
    const uint8_t expected[4] = {static_cast<uint8_t>(serial), static_cast<uint8_t>(serial >> 8),
                                 static_cast<uint8_t>(serial >> 16),
                                 static_cast<uint8_t>(serial >> 24)};
    EXPECT_TRUE(std::equal(expected, expected + 4, chip.eeprom().begin() + kSerialAddress));
    EXPECT_EQ(chip.fuseLow(), 0xE2);
    EXPECT_EQ(chip.lockBits() & 0x03, 0x00);
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, BoardLoopTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<RowCase>& info) {
                           return std::string(info.param.program == Program::kTarnwick
                                                  ? "Tarnwick"
                                                  : "Pellory") +
                                  std::to_string(info.param.boards) +
                                  (info.param.failBoard ? "WithAFailure" : "");
                         });

}  // namespace
