// "-" as a file name through both programs: a download read from standard
// input, an upload written to standard output, and the console's text kept off
// standard output meanwhile; at the prompt, where standard input holds the
// commands, and at a terminal, a download from it is refused.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal_session.h"

namespace {

class StandardStreams : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  ProcessResult run(const std::vector<std::string>& arguments, const std::string& input = "") {
    ProcessOptions options;
    options.standardInput = input;
    options.timeLimitSeconds = 120;
    return runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments, options);
  }

  TempDir dir;
};

TEST_P(StandardStreams, DownloadFromStandardInputUploadToStandardOutput) {
  const std::vector<uint8_t> firmware = randomBytes(700, 21);
  const std::string hex = intelHexText(firmware);
  ProcessResult download = run({"-df-"}, hex);
  EXPECT_EQ(download.exitStatus, 0) << download.errorOutput;
  EXPECT_EQ(download.output, "");
  EXPECT_NE(download.errorOutput.find("\nTarget matches -\n"), std::string::npos)
      << download.errorOutput;

  // S-records come through standard input as well as HEX does.
  ProcessResult upload = run({"-ufsaved.hex", "-uf-", "-ufsaved.srec"});
  EXPECT_EQ(upload.exitStatus, 0) << upload.errorOutput;
  EXPECT_EQ(upload.output, readFile(dir.file("saved.hex")));
  EXPECT_NE(upload.errorOutput.find("Write Flash/EEPROM data to -\n"), std::string::npos);
  ProcessResult again = run({"-df-"}, readFile(dir.file("saved.srec")));
  EXPECT_EQ(again.exitStatus, 0) << again.errorOutput;
  EXPECT_NE(again.errorOutput.find("\nTarget matches -\n"), std::string::npos) << again.errorOutput;

  // Without "-" the console stays on standard output, and a file named "./-"
  // is a file.
  ProcessResult plain = run({"-uf./-"});
  EXPECT_EQ(plain.exitStatus, 0) << plain.output;
  EXPECT_EQ(plain.errorOutput, "");
  EXPECT_NE(plain.output.find("Write Flash/EEPROM data to ./-\n"), std::string::npos);
  EXPECT_EQ(readFile(dir.file("-")), readFile(dir.file("saved.hex")));
}

TEST_P(StandardStreams, AtThePromptStandardInputHoldsTheCommandsNotAFile) {
  const std::string refusal =
      "Standard input holds the commands here; a download from - works on the command line "
      "only\n";
  const bool tarnwick = GetParam() == Program::kTarnwick;
  ProcessResult prompt =
      run({}, std::string(tarnwick ? "dff-\n" : "") + "df-\nde-\nld-\nufafter.hex\n");
  EXPECT_EQ(prompt.exitStatus, 2) << prompt.output;
  EXPECT_EQ(prompt.output.find("Erase chip"), std::string::npos) << prompt.output;
  size_t refusals = 0;
  for (size_t at = prompt.output.find(refusal); at != std::string::npos;
       at = prompt.output.find(refusal, at + 1)) {
    ++refusals;
  }
  EXPECT_EQ(refusals, tarnwick ? 4u : 3u) << prompt.output;
  EXPECT_TRUE(fileExists(dir.file("after.hex")));

  // An upload to standard output there comes in its place among the console's
  // text, after the line that announces it.
  ProcessResult shown = run({}, "uf-\n");
  const size_t announced = shown.output.find("Write Flash/EEPROM data to -\n");
  ASSERT_NE(announced, std::string::npos) << shown.output;
  EXPECT_GT(shown.output.find(":00000001FF\n"), announced) << shown.output;
}

// At a terminal standard input holds only the user's typing: a download from
// it is refused at once instead of waiting in silence.
TEST(StandardStreamsAtATerminal, ADownloadFromTheTerminalIsRefused) {
  TempDir dir;
  writeCalibrationFor(Program::kPellory, dir.path());
  TerminalSession terminal;
  ASSERT_TRUE(terminal.start(builtProgram("pellory"), dir.path(),
                             simulatedCableEnvironment("ATmega168", dir.file("chip.state")),
                             {"--no-wait", "-df-"}));
  EXPECT_TRUE(
      terminal.waitFor("Standard input is a terminal; a download from - needs a file or "
                       "a pipe there"))
      << terminal.shown();
  EXPECT_EQ(terminal.finish(), 2) << terminal.shown();
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, StandardStreams,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
