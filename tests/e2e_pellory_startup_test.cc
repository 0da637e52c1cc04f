// pellory's start-up as a user sees it, with the simulated cable in front of
// the real port library: what it reports about the target it finds, and how
// it ends when there is no cable or no port library at all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const char kBanner[] =
    "Marlow Programming Utility V1.08\n"
    "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n";

class PelloryStartupTest : public ::testing::Test {
 protected:
  PelloryStartupTest() { writeFastCalibration(dir_.path()); }

  ProcessResult run(const std::string& part, const std::vector<std::string>& arguments,
                    const std::string& fault = "") {
    ProcessOptions options;
    options.workingDirectory = dir_.path();
    options.environment = simulatedCableEnvironment(part, dir_.file("chip.state"));
    if (!fault.empty()) options.environment["PELLORY_SIM_FAULT"] = fault;
    if (!simPartsFile_.empty()) options.environment["PELLORY_SIM_PARTS"] = simPartsFile_;
    options.standardInput = "";
    ProcessResult result = runProcess(builtProgram("pellory"), arguments, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  TempDir dir_;
  std::string simPartsFile_;  // parts only the simulated cable knows
};

TEST_F(PelloryStartupTest, AFactoryFreshChipIsReportedWithItsFusesAgainstTheDefaults) {
  ProcessResult fresh = run("ATmega644P", {"-i"});
  EXPECT_EQ(fresh.exitStatus, 0);
  EXPECT_EQ(fresh.output.rfind(std::string(kBanner) +
                                   "Target ATmega644P responding - default fuses not set\n"
                                   "   Default fuses: ff d9 e2    Target fuses: ff 99 62\n",
                               0),
            0u)
      << fresh.output;

  // Program the defaults; the next start finds them.
  ProcessResult written = run("ATmega644P", {"-a"});
  EXPECT_TRUE(contains(written.output, "Write fuse bytes: ff d9 e2\n")) << written.output;
  ProcessResult again = run("ATmega644P", {"-i"});
  EXPECT_TRUE(contains(again.output, std::string(kBanner) +
                                         "Target ATmega644P responding - default fuses set: "
                                         "ff d9 e2\n"))
      << again.output;
  EXPECT_EQ(again.exitStatus, 0);
}

TEST_F(PelloryStartupTest, TheTwoFusePartAndAnUnknownPartGetTheirOwnReportLines) {
  ProcessResult twoFuses = run("ATmega32", {"-i"});
  EXPECT_TRUE(contains(twoFuses.output,
                       "Target ATmega32 responding - default fuses not set\n"
                       "   Default fuses: d9 e4    Target fuses: 99 e1\n"))
      << twoFuses.output;

  // Every catalogued part is simulated too: an unknown one is the simulator's
  // own, from a parts.txt that pellory does not read.
  mkdir(dir_.file("sim").c_str(), 0755);
  simPartsFile_ = dir_.file("sim/parts.txt");
  writeFile(simPartsFile_, "SimOnly 1E 95 77 32768 64 1024 3 62 D9 FF\n");
  ProcessResult unknown = run("SimOnly", {"-i"});
  EXPECT_TRUE(contains(unknown.output,
                       "Target Processor Unrecognized but responding - default fuses unknown\n"
                       "   Target fuses: ff d9 62\n"))
      << unknown.output;
  EXPECT_EQ(unknown.exitStatus, 0);
}

TEST_F(PelloryStartupTest, ASilentTargetGetsFourAttemptsThenTheCommandsStillRun) {
  ProcessResult absent = run("ATmega644P", {"-i"}, "target-absent");
  EXPECT_TRUE(
      contains(absent.output, std::string(kBanner) +
                                  "enable attempt 1  inbyte=ff\n"
                                  "enable attempt 2  inbyte=ff\n"
                                  "enable attempt 3  inbyte=ff\n"
                                  "enable attempt 4  inbyte=ff\n"
                                  "Target not responding to Enable Serial Programming command\n"
                                  "Check that the parallel port default address is correct on this "
                                  "computer\n"))
      << absent.output;
  EXPECT_TRUE(contains(absent.output, "Signature bytes: ff ff ff")) << absent.output;
  EXPECT_EQ(absent.exitStatus, 0);
}

TEST_F(PelloryStartupTest, WithoutTheCableNothingElseHappens) {
  ProcessResult noCable = run("ATmega644P", {"-i"}, "no-cable");
  EXPECT_EQ(noCable.output, std::string(kBanner) + "\nMarlow not installed\n\nProgram finished!\n");
  EXPECT_EQ(noCable.exitStatus, 3);
}

TEST_F(PelloryStartupTest, WithoutAPortLibraryTheLoadersReasonIsShown) {
  // A copy of the program has no lib/ beside it, and the search path holds
  // nothing but an empty folder.
  std::string copy = dir_.file("pellory");
  std::filesystem::copy_file(builtProgram("pellory"), copy);
  mkdir(dir_.file("empty").c_str(), 0755);
  ProcessOptions options;
  options.workingDirectory = dir_.path();
  options.environment["LD_LIBRARY_PATH"] = dir_.file("empty");
  ProcessResult missing = runProcess(copy, {"-i"}, options);
  EXPECT_EQ(missing.exitStatus, 3);
  EXPECT_EQ(missing.output, std::string(kBanner) +
                                "Can't load port I/O library: libio.so: cannot open shared "
                                "object file: No such file or directory\n"
                                "\nMarlow not installed\n\nProgram finished!\n");
}

}  // namespace
