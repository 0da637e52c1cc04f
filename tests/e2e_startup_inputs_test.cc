// What tarnwick is given at start-up and on its command line, as a user or a
// makefile gives it: a configuration that is a FIFO or /dev/zero, a port that
// is no terminal, and command words that run nothing. None may hang the run
// or let it end as a success it was not.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/korvo_transcripts.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class StartupInputs : public ::testing::Test {
 protected:
  void SetUp() override { writeCalibrationFor(Program::kTarnwick, dir.path()); }

  ProcessResult run(const std::vector<std::string>& arguments, const std::string& input = "") {
    ProcessOptions options;
    options.standardInput = input;
    options.timeLimitSeconds = 60;
    return runOnSimulatedPart(Program::kTarnwick, "ATmega168", dir.path(), arguments, options);
  }

  // tarnwick alone, with no Korvo anywhere.
  ProcessResult runWithoutKorvo(const std::vector<std::string>& arguments,
                                const std::string& input) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    options.environment["TARNWICK_DEV_ROOT"] = dir.path();
    options.environment["TARNWICK_LOCK_DIR"] = dir.path();
    options.standardInput = input;
    options.timeLimitSeconds = 30;
    return runProcess(builtProgram("tarnwick"), arguments, options);
  }

  TempDir dir;
};

// A FIFO once blocked the start for ever, and /dev/zero spun at full load.
TEST_F(StartupInputs, AConfigurationThatIsNoRegularFileIsPassedOverAndTheRunGoesOn) {
  for (bool fifo : {true, false}) {
    std::remove(dir.file("sfconfig.txt").c_str());
    if (fifo) {
      ASSERT_EQ(::mkfifo(dir.file("sfconfig.txt").c_str(), 0600), 0);
    } else {
      ASSERT_EQ(::symlink("/dev/zero", dir.file("sfconfig.txt").c_str()), 0);
    }
    ProcessResult result = run({"-sf12"});
    ASSERT_FALSE(result.timedOut) << result.output;
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(contains(result.output, "./sfconfig.txt is not a regular file - ignored\n"))
        << result.output;
    EXPECT_TRUE(contains(result.output, "Fill char=12\n")) << result.output;
  }
}

// The port error with its reason at once, then the channel prompt as for any
// port that would not open; before, /dev/zero was read as an endless reply.
TEST_F(StartupInputs, APortThatIsNoTerminalGetsThePortErrorAtOnce) {
  writeFile(dir.file("notaport"), "plain text\n");
  for (const std::string& port : {std::string("/dev/zero"), dir.file("notaport")}) {
    writeFile(dir.file("sfconfig.txt"), "comchannel " + port + "\n");
    ProcessResult result = runWithoutKorvo({"-i"}, "e\n");
    ASSERT_FALSE(result.timedOut) << port;
    EXPECT_EQ(result.exitStatus, 3) << result.output;
    EXPECT_TRUE(contains(
        result.output, korvo_text::portError(ENOTTY) + port + ": Inappropriate ioctl for device\n"))
        << result.output;
  }
}

TEST_F(StartupInputs, UnknownWordsFailTheRunButTheOtherCommandsRun) {
  ProcessResult result = run({"-x", "blink.hex", "-sf12"});
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 2) << result.output;
  EXPECT_EQ(result.errorOutput,
            "tarnwick: unknown command -x\n"
            "tarnwick: ignored: blink.hex, commands begin with -\n");
  EXPECT_TRUE(contains(result.output, "Fill char=12\n")) << result.output;
  EXPECT_FALSE(contains(result.output, "unknown")) << result.output;

  // The same words at the prompt stay as silent as ever.
  ProcessResult prompt = run({}, "x sf12\n");
  EXPECT_EQ(prompt.exitStatus, 0) << prompt.output;
  EXPECT_EQ(prompt.errorOutput, "");
}

}  // namespace
