// tarnwick's start-up as a user sees it, against korvo-sim on a real
// pseudo-terminal: finding the Korvo, its sign-on, the target report, and a
// Korvo that goes away or falls silent mid-run.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/korvo_transcripts.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

using korvo_text::kBanner;
using korvo_text::kHints;
using korvo_text::kPrompt;
const std::string& kSignOn = korvo_text::kSignOnHeading;

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class TarnwickStartupTest : public ::testing::Test {
 protected:
  void SetUp() override { writeRealCalibration(dir.path()); }

  // korvo-sim answering on channel index `channel` (1 is the default, COM2).
  void startKorvo(int channel, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.end(), {"--time-scale", "0.001", "--trace", dir.file("trace")});
    ASSERT_TRUE(korvo.start(dir.file("ttyKorvo" + std::to_string(channel)), arguments))
        << korvo.error();
  }

  ProcessResult runTarnwick(const std::string& input, std::vector<std::string> arguments = {}) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    options.environment["TARNWICK_DEV_ROOT"] = dir.path();
    options.standardInput = input;
    options.timeLimitSeconds = 60;
    return runProcess(builtProgram("tarnwick"), arguments, options);
  }

  // What korvo-sim printed as its sign-on, taken from the run's own output.
  static std::string startupReport(const std::string& output) {
    size_t start = output.find(kSignOn);
    size_t end = output.find('\n', output.find("Target "));
    if (start == std::string::npos || end == std::string::npos) return output;
    return output.substr(start, end + 1 - start);
  }

  // The default channel's device missing, as the run reports it.
  std::string defaultPortMissing() const {
    return korvo_text::missingPortError(dir.file("ttyKorvo1"), dir.path());
  }

  TempDir dir;
  KorvoSimProcess korvo;
};

TEST_F(TarnwickStartupTest, DefaultPortShowsTheSignOnAndTheTargetReport) {
  startKorvo(1);
  ProcessResult run = runTarnwick("");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  ASSERT_EQ(run.output.rfind(kBanner + kSignOn, 0), 0u) << run.output;
  std::string report = startupReport(run.output);
  EXPECT_NE(report.find(">\n\nTarget ATmega644P responding - default fuses"), std::string::npos)
      << report;
  EXPECT_EQ(run.output.find(kPrompt), std::string::npos);

  // The identification on the wire, then the release of the target. The
  // simulator may still be reading the last bytes when tarnwick has ended.
  korvo.stop();
  std::string trace = readFile(dir.file("trace"));
  EXPECT_EQ(trace.rfind("70 32 0D\n72 6C\n72 68\n72 6C\n33 AC 53 00 00\n"
                        "34 30 00 00 00\n34 30 00 01 00\n34 30 00 02 00\n"
                        "34 50 00 00 00\n34 58 08 00 00\n34 50 08 00 00\n"
                        "72 68\n65\n",
                        0),
            0u)
      << trace;
}

TEST_F(TarnwickStartupTest, ChosenChannelConnectsAfterTheDefaultFails) {
  startKorvo(4);
  ProcessResult run = runTarnwick("5\n");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output.rfind(kBanner + defaultPortMissing() + kPrompt + kHints +
                                 "Connected to Korvo\n\n\n" +
                                 "Target ATmega644P responding - default fuses",
                             0),
            0u)
      << run.output;
}

TEST_F(TarnwickStartupTest, GivingUpAtThePromptEndsWithKorvoNotInstalled) {
  ProcessResult run = runTarnwick("e\n");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.output, kBanner + defaultPortMissing() + kPrompt + kHints + kSignOn +
                            "\nKorvo not installed\n" +
                            "\nProgram finished - hit any key to exit!\n");
}

TEST_F(TarnwickStartupTest, UnknownPartAndAbsentTargetAreReported) {
  // Every catalogued part is simulated too: an unknown one is the simulator's
  // own, from a parts.txt that tarnwick does not read.
  writeFile(dir.file("sim-parts.txt"), "SimOnly 1E 95 77 32768 64 1024 3 62 D9 FF\n");
  startKorvo(1, {"--parts", dir.file("sim-parts.txt"), "--part", "SimOnly"});
  ProcessResult run = runTarnwick("");
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_NE(run.output.find(">\n\nTarget Processor Unrecognized but responding "
                            "- default fuses unknown\n   Target fuses: "),
            std::string::npos)
      << run.output;
  korvo.stop();

  startKorvo(1, {"--target-absent"});
  run = runTarnwick("");
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_NE(run.output.find(">\n\nTarget not responding to Enable Serial Programming command\n"),
            std::string::npos)
      << run.output;
}

TEST_F(TarnwickStartupTest, KorvoLostMidRunEndsWithStatusFour) {
  startKorvo(1, {"--hangup-after-frames", "3"});
  ProcessResult run = runTarnwick("");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 4) << run.output;
  EXPECT_TRUE(endsWith(run.output, "\nError - connection to Korvo lost\n")) << run.output;
  korvo.stop();

  startKorvo(1, {"--silent-after-frames", "3"});
  run = runTarnwick("");
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 4) << run.output;
  EXPECT_TRUE(endsWith(run.output, "\nError - no reply from Korvo\n")) << run.output;
}

}  // namespace
