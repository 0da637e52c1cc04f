// A board from start to finish on the simulators, safely: a failed command
// stops the writes after it, verify-only compares without writing, and
// tarnwick's erase leaves a blank, unlocked chip.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

class BoardSafetyTest : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  // One run on an ATmega168 whose memories, fuses and lock persist between
  // runs; `shown` must all be in its output.
  ProcessResult run(const std::vector<std::string>& arguments, int status,
                    const std::vector<std::string>& shown = {}) {
    ProcessResult result = runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments);
    EXPECT_EQ(result.exitStatus, status) << result.output;
    for (const std::string& text : shown) {
      EXPECT_NE(result.output.find(text), std::string::npos) << text << result.output;
    }
    return result;
  }

  TempDir dir;
};

TEST_P(BoardSafetyTest, AFailedDownloadLeavesTheFusesAndLockAsTheyWere) {
  const std::string before = run({"-gf", "-gl"}, 0).output;
  const std::string notRun = " not run: an earlier command failed, so nothing more is written\n";
  run({"-dfblnk.hex", "-pfaff,de,fd", "-plfc", "-plfc", "-gl"}, 2,
      {"-pfaff,de,fd" + notRun, "-plfc" + notRun, "Fuse lock byte"});
  EXPECT_EQ(run({"-gf", "-gl"}, 0).output, before);
}

TEST_P(BoardSafetyTest, VerifyOnlyReportsAMatchAndAOneByteDifference) {
  for (const char* memory : {"f", "e"}) {
    const std::vector<uint8_t> data = randomBytes(200, 3);
    std::vector<uint8_t> changed = data;
    changed[37] ^= 0x10;
    writeFile(dir.file("same.hex"), intelHexText(data));
    writeFile(dir.file("other.hex"), intelHexText(changed));
    run({"-d" + std::string(memory) + "same.hex"}, 0);
    const std::string verify = "-v" + std::string(memory);
    run({"-mfsame.txt", verify + "same.hex"}, 0, {"Target matches same.hex\n"});
    EXPECT_EQ(readFile(dir.file("same.txt")), "");
    const ProcessResult other = run({"-mfother.txt", verify + "other.hex"}, 2,
                                    {"\n1 bytes mismatched\n", "does not match other.hex\n"});
    EXPECT_EQ(other.output.find("Erase chip"), std::string::npos);
    char line[32];
    std::snprintf(line, sizeof line, "000025 %02x %02x\n", changed[37], data[37]);
    EXPECT_EQ(readFile(dir.file("other.txt")), line);
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, BoardSafetyTest,
                         ::testing::Values(Program::kTarnwick, Program::kPellory));

class TarnwickEraseTest : public BoardSafetyTest {};

// The log opened first holds the run's lines.
TEST_P(TarnwickEraseTest, EraseLeavesAllFlashErasedAndTheLockCleared) {
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(500, 9)));
  run({"-dfprog.hex", "-pl3c", "-pl3c"}, 0);
  run({"-lfrun.log", "-ce", "-gl", "-ufblank.hex"}, 0,
      {"Fuse lock byte ff\n", "Last data value in buffer = 0 0\n"});
  EXPECT_NE(readFile(dir.file("run.log")).find("Erase chip\nFuse lock byte ff\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Tarnwick, TarnwickEraseTest, ::testing::Values(Program::kTarnwick));

}  // namespace
