// Both programs as a user starts them with no programmer attached: the banner,
// the verdict, the closing line and the exit status.

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST_F(ProgramFrameTest, FirstStartCalibratesAndKeepsTheCountInTheUserCache) {
  ProcessOptions options = inDir();
  options.environment["TARNWICK_TTY_PREFIX"] = "/nonexistent/ttyS";
  ProcessResult run = runProcess(builtProgram("tarnwick"), {}, options);
  EXPECT_NE(run.output.find("\nCalibrating delay .............\n"), std::string::npos)
      << run.output;
  EXPECT_FALSE(fileExists(dir_.file("gcal.txt")));
  std::string stored = readFile(dir_.file(".cache/tarnwick/gcal.txt"));
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored.find_first_not_of("0123456789"), std::string::npos) << stored;
}

// Projects in folders of their own, one of them read-only: the machine is
// measured once, and no folder is written to.
TEST_F(ProgramFrameTest, TwoRunsInTwoNewFoldersCalibrateOnceInAll) {
  int calibrations = 0;
  for (const char* project : {"blinker", "logger"}) {
    SCOPED_TRACE(project);
    std::string folder = dir_.file(project);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ProcessOptions options = inDir();
    options.workingDirectory = folder;
    options.environment["XDG_CACHE_HOME"] = dir_.file("cache");
    options.environment["PELLORY_SIM_FAULT"] = "no-cable";
    options.environment["LD_LIBRARY_PATH"] = builtProgram("sim");
    if (std::string(project) == "logger") chmod(folder.c_str(), 0555);
    ProcessResult run = runProcess(builtProgram("pellory"), {}, options);
    chmod(folder.c_str(), 0755);
    ASSERT_FALSE(run.timedOut);
    if (run.output.find("Calibrating delay") != std::string::npos) calibrations++;
    EXPECT_EQ(run.output.find("gcal.txt"), std::string::npos) << run.output;
    EXPECT_FALSE(fileExists(folder + "/gcal.txt"));
  }
  EXPECT_EQ(calibrations, 1);
  EXPECT_TRUE(fileExists(dir_.file("cache/pellory/gcal.txt")));
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
