// Both programs as a user starts them with no programmer attached: the banner,
// the verdict, the closing line and the exit status.

#include <gtest/gtest.h>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace {

class ProgramFrameTest : public ::testing::Test {
 protected:
  ProcessOptions inDir() {
    ProcessOptions options;
    options.workingDirectory = dir_.path();
    options.timeLimitSeconds = 30;
    return options;
  }
  TempDir dir_;
};

TEST_F(ProgramFrameTest, TarnwickWithNoPortEndsAsNotInstalled) {
  writeFile(dir_.file("gcal.txt"), "1");
  ProcessOptions options = inDir();
  options.environment["TARNWICK_TTY_PREFIX"] = "/nonexistent/ttyS";
  ProcessResult run = runProcess(builtProgram("tarnwick"), {}, options);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.output.rfind("Korvo ISP Programming Utility V1.05\n"
                             "Default com channel is com2, baud rate 115200\n"
                             "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n",
                             0),
            0u)
      << run.output;
  EXPECT_NE(run.output.find("\nKorvo not installed\n"), std::string::npos) << run.output;
  const std::string closing = "\nProgram finished - hit any key to exit!\n";
  ASSERT_GE(run.output.size(), closing.size());
  EXPECT_EQ(run.output.substr(run.output.size() - closing.size()), closing);
}

TEST_F(ProgramFrameTest, TarnwickBannerShowsTheConfiguredChannel) {
  writeFile(dir_.file("gcal.txt"), "1");
  writeFile(dir_.file("sfconfig.txt"), "comchannel com3\nbaudrate 19200\n");
  ProcessOptions options = inDir();
  options.environment["TARNWICK_TTY_PREFIX"] = "/nonexistent/ttyS";
  ProcessResult run = runProcess(builtProgram("tarnwick"), {}, options);
  EXPECT_NE(run.output.find("Default com channel is com3, baud rate 19200\n"), std::string::npos)
      << run.output;
}

TEST_F(ProgramFrameTest, FirstStartCalibratesAndWritesGcal) {
  ProcessOptions options = inDir();
  options.environment["TARNWICK_TTY_PREFIX"] = "/nonexistent/ttyS";
  ProcessResult run = runProcess(builtProgram("tarnwick"), {}, options);
  EXPECT_NE(run.output.find("\nCalibrating delay .............\n"), std::string::npos)
      << run.output;
  std::string stored = readFile(dir_.file("gcal.txt"));
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored.find_first_not_of("0123456789"), std::string::npos) << stored;
}

TEST_F(ProgramFrameTest, PelloryWithoutACableEndsAsNotInstalled) {
  writeFile(dir_.file("gcal.txt"), "1");
  ProcessOptions options = inDir();
  // An empty library folder first on the search path and the simulated cable's
  // no-cable fault: whichever library answers, no cable is seen.
  options.environment["LD_LIBRARY_PATH"] = builtProgram("sim");
  options.environment["PELLORY_SIM_FAULT"] = "no-cable";
  ProcessResult run = runProcess(builtProgram("pellory"), {}, options);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.output.rfind("Marlow Programming Utility V1.08\n"
                             "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n",
                             0),
            0u)
      << run.output;
  EXPECT_NE(run.output.find("\nMarlow not installed\n"), std::string::npos) << run.output;
  const std::string closing = "\nProgram finished!\n";
  ASSERT_GE(run.output.size(), closing.size());
  EXPECT_EQ(run.output.substr(run.output.size() - closing.size()), closing);
}

}  // namespace
