// The long options as a user meets them: --port to a simulated Korvo with no
// sfconfig.txt, a missing device that explains itself, --no-wait at a
// terminal, and options that end the run before any hardware is touched.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal_session.h"

namespace {

class LongOptionsRunTest : public ::testing::Test {
 protected:
  void SetUp() override { writeRealCalibration(dir.path()); }

  void startKorvo() { ASSERT_TRUE(korvo.start(link, {"--time-scale", "0.001"})) << korvo.error(); }

  ProcessResult run(const std::string& program, const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    // Nothing may be found by accident: no channel device, no serial devices.
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("nothing");
    options.environment["TARNWICK_DEV_ROOT"] = dir.path();
    options.environment["PELLORY_PORT_LIBRARY"] = dir.file("no-such-library.so");
    return runProcess(builtProgram(program), arguments, options);
  }

  TempDir dir;
  KorvoSimProcess korvo;
  const std::string link = dir.file("korvo");
};

TEST_F(LongOptionsRunTest, PortReachesTheSimulatedKorvoWithoutAConfigurationFile) {
  startKorvo();
  ProcessResult result = run("tarnwick", {"--port", link, "--no-wait", "-i"});
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_EQ(result.output.rfind("Korvo ISP Programming Utility V1.05\n"
                                "Default com channel is " +
                                    link +
                                    ", baud rate 115200\n"
                                    "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n"
                                    "Output Korvo Signon message:\n",
                                0),
            0u)
      << result.output;
  EXPECT_NE(result.output.find("Target ATmega644P responding"), std::string::npos) << result.output;
  EXPECT_FALSE(fileExists(dir.file("sfconfig.txt")));
}

TEST_F(LongOptionsRunTest, AMissingDeviceIsNamedWithTheReason) {
  ProcessResult result = run("tarnwick", {"--port", "/nonexistent/tty", "-i"});
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 3) << result.output;
  EXPECT_NE(result.output.find("Default com channel is /nonexistent/tty, baud rate"),
            std::string::npos);
  EXPECT_NE(result.output.find("clear conflict - : 2\n\n/nonexistent/tty: No such file or "
                               "directory\n  Is the Korvo plugged in?"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("\nKorvo not installed\n"), std::string::npos);
}

TEST_F(LongOptionsRunTest, HelpVersionAndRefusalsTouchNoHardware) {
  for (const char* program : {"tarnwick", "pellory"}) {
    SCOPED_TRACE(program);
    ProcessResult help = run(program, {"-i", "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.rfind("Command options:\n", 0), 0u) << help.output;
    EXPECT_NE(help.output.find("--version"), std::string::npos);
    // pellory would have said so had it tried its library.
    EXPECT_EQ(help.output.find("Can't load"), std::string::npos);

    ProcessResult version = run(program, {"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.output, std::string(program) + " " + AVRISP_VERSION + "\n");

    ProcessResult refused = run(program, {"-i", "--verbose"});
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_EQ(refused.output, "");  // not even the banner
    EXPECT_EQ(refused.errorOutput, std::string(program) + ": unknown option '--verbose'\nTry '" +
                                       program + " --help' for more information.\n");
  }
}

TEST_F(LongOptionsRunTest, NoWaitAtATerminalEndsWithoutAKey) {
  startKorvo();
  TerminalSession terminal;
  ASSERT_TRUE(terminal.start(builtProgram("tarnwick"), dir.path(), {},
                             {"--port", link, "--no-wait", "-i"}));
  EXPECT_TRUE(terminal.waitFor("Program finished - hit any key to exit!")) << terminal.shown();
  EXPECT_EQ(terminal.finish(), 0) << terminal.shown();
}

// A user at the prompt one day and again the next: the lines typed are in the
// history file, and the arrow key brings them back.
TEST_F(LongOptionsRunTest, PromptLinesAreKeptForTheNextRun) {
  startKorvo();
  {
    TerminalSession terminal;
    ASSERT_TRUE(terminal.start(builtProgram("tarnwick"), dir.path(), {}, {"--port", link}));
    ASSERT_TRUE(terminal.waitFor("Target ATmega644P responding")) << terminal.shown();
    terminal.type("h\n");
    ASSERT_TRUE(terminal.waitFor("Leave white space between commands.")) << terminal.shown();
    terminal.type("sf00   nv\n");
    terminal.type("e\n");
    EXPECT_EQ(terminal.finish(), 1) << terminal.shown();
  }
  EXPECT_EQ(readFile(dir.file(".local/state/tarnwick/history")),
            "# prompt history, one line each, newest last\nh\nsf00   nv\ne\n");

  TerminalSession again;
  ASSERT_TRUE(again.start(builtProgram("tarnwick"), dir.path(), {}, {"--port", link}));
  ASSERT_TRUE(again.waitFor("Target ATmega644P responding")) << again.shown();
  // Up three times: past "e" and "sf00   nv" to "h".
  again.type("\x1b[A\x1b[A\x1b[A\n");
  EXPECT_TRUE(again.waitFor("Leave white space between commands.")) << again.shown();
  again.type("e\n");
  EXPECT_EQ(again.finish(), 1) << again.shown();
}

// Input from a pipe or a file is no one's typing: nothing is kept.
TEST_F(LongOptionsRunTest, PipedPromptInputKeepsNoHistory) {
  startKorvo();
  ProcessOptions options;
  options.workingDirectory = dir.path();
  options.standardInput = "h\ne\n";
  ProcessResult result = runProcess(builtProgram("tarnwick"), {"--port", link}, options);
  EXPECT_EQ(result.exitStatus, 1) << result.output;
  EXPECT_FALSE(fileExists(dir.file(".local/state/tarnwick/history")));
}

}  // namespace
