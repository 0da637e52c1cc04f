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

  // One run on an ATmega168 whose memories, fuses and lock persist between runs.
  ProcessResult run(const std::vector<std::string>& arguments) {
    ProcessResult result = runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  static bool shows(const ProcessResult& result, const std::string& text) {
    return result.output.find(text) != std::string::npos;
  }

  TempDir dir;
};

TEST_P(BoardSafetyTest, AFailedDownloadLeavesTheFusesAndLockAsTheyWere) {
  const ProcessResult before = run({"-gf", "-gl"});
  ASSERT_EQ(before.exitStatus, 0) << before.output;
  const ProcessResult failed = run({"-dfblnk.hex", "-pfaff,de,fd", "-plfc", "-plfc", "-gl"});
  EXPECT_EQ(failed.exitStatus, 2) << failed.output;
  for (const char* skipped : {"-pfaff,de,fd", "-plfc"}) {
    EXPECT_TRUE(shows(failed, std::string(skipped) +
                                  " not run: an earlier command failed, so nothing more is "
                                  "written\n"))
        << failed.output;
  }
  EXPECT_TRUE(shows(failed, "Fuse lock byte")) << failed.output;  // reading still runs
  const ProcessResult after = run({"-gf", "-gl"});
  EXPECT_EQ(after.output, before.output);
}

TEST_P(BoardSafetyTest, VerifyOnlyReportsAMatchAndAOneByteDifference) {
  const std::vector<uint8_t> flash = randomBytes(700, 3);
  const std::vector<uint8_t> eeprom = randomBytes(60, 4);
  writeFile(dir.file("code.hex"), intelHexText(flash));
  writeFile(dir.file("data.hex"), intelHexText(eeprom));
  const ProcessResult download = run({"-dfcode.hex", "-dedata.hex"});
  ASSERT_EQ(download.exitStatus, 0) << download.output;

  struct Case {
    const char* command;
    std::vector<uint8_t> data;
  };
  for (const Case& c : {Case{"-vf", flash}, Case{"-ve", eeprom}}) {
    SCOPED_TRACE(c.command);
    writeFile(dir.file("same.hex"), intelHexText(c.data));
    std::vector<uint8_t> changed = c.data;
    changed[37] ^= 0x10;
    writeFile(dir.file("other.hex"), intelHexText(changed));

    const ProcessResult same = run({"-mfsame.txt", std::string(c.command) + "same.hex"});
    EXPECT_EQ(same.exitStatus, 0) << same.output;
    EXPECT_TRUE(shows(same, "Target matches same.hex\n")) << same.output;
    EXPECT_EQ(readFile(dir.file("same.txt")), "");

    const ProcessResult other = run({"-mfother.txt", std::string(c.command) + "other.hex"});
    EXPECT_EQ(other.exitStatus, 2) << other.output;
    EXPECT_TRUE(shows(other, "\n1 bytes mismatched\n")) << other.output;
    EXPECT_TRUE(shows(other, "ERROR - Target does not match other.hex\n")) << other.output;
    char line[32];
    std::snprintf(line, sizeof line, "000025 %02x %02x\n", changed[37], c.data[37]);
    EXPECT_EQ(readFile(dir.file("other.txt")), line);
    EXPECT_FALSE(shows(other, "Erase chip")) << other.output;
  }
  // Nothing was written: the download's data is still there.
  EXPECT_EQ(run({"-vfcode.hex", "-vedata.hex"}).exitStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, BoardSafetyTest,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return std::string(info.param == Program::kTarnwick ? "tarnwick"
                                                                               : "pellory");
                         });

class TarnwickEraseTest : public BoardSafetyTest {};

TEST_P(TarnwickEraseTest, EraseLeavesAllFlashErasedAndTheLockCleared) {
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(500, 9)));
  ASSERT_EQ(run({"-dfprog.hex", "-pl3c", "-pl3c"}).exitStatus, 0);
  const ProcessResult erased = run({"-lfrun.log", "-ce", "-gl", "-ufblank.hex"});
  EXPECT_EQ(erased.exitStatus, 0) << erased.output;
  EXPECT_TRUE(shows(erased, "Erase chip\n")) << erased.output;
  EXPECT_TRUE(shows(erased, "Fuse lock byte ff\n")) << erased.output;
  // Every byte reads 0xFF, so nothing of the flash is used.
  EXPECT_TRUE(shows(erased, "Last data value in buffer = 0 0\n")) << erased.output;
  // The log holds the run's lines from its opening on.
  EXPECT_NE(readFile(dir.file("run.log")).find("Erase chip\nFuse lock byte ff\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Tarnwick, TarnwickEraseTest, ::testing::Values(Program::kTarnwick));

}  // namespace
