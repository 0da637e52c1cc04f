// The programs' own waits against a chip keeping its datasheet times: each run
// calibrates its delay loop itself, as on a first start, the simulators run at
// time scale 1, and fuse writes, an erase, page writes and EEPROM bytes must all
// end before the next instruction. A count measured by another process, at
// another moment, could be off by more than the waits' margins.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kFirmware = std::string(AVRISP_SOURCE_DIR) + "/examples/prebuilt/atmega644p/";
const std::vector<std::string> kCommands = {"-a", "-dfblink.hex", "-desettings.hex"};

class RealTimingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir_.file("blink.hex"), readFile(kFirmware + "blink.hex"));
    writeFile(dir_.file("settings.hex"), readFile(kFirmware + "eeprom_data.eep.hex"));
    options_.workingDirectory = dir_.path();
    options_.timeLimitSeconds = 300;
  }

  void expectProgrammed(const ProcessResult& run) {
    ASSERT_FALSE(run.timedOut);
    EXPECT_NE(run.output.find("\nCalibrating delay .............\n"), std::string::npos);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("\nTarget matches blink.hex\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Target matches settings.hex\n"), std::string::npos) << run.output;
  }

  TempDir dir_;
  ProcessOptions options_;
};

TEST_F(RealTimingTest, TarnwickWaitsLongEnoughForAChipAtDatasheetSpeed) {
  KorvoSimProcess korvo;
  ASSERT_TRUE(korvo.start(dir_.file("ttyKorvo1"), {"--part", "ATmega644P", "--time-scale", "1"}))
      << korvo.error();
  options_.environment["TARNWICK_TTY_PREFIX"] = dir_.file("ttyKorvo");
  ProcessResult run = runProcess(builtProgram("tarnwick"), kCommands, options_);
  korvo.stop();
  expectProgrammed(run);
  std::string summary = readFile(korvo.logPath());
  EXPECT_NE(summary.find(", 0 violations"), std::string::npos) << summary;
}

// The ATmega644P is the part pellory waits a fixed time for instead of polling;
// the ATmega168 is polled.
TEST_F(RealTimingTest, PelloryWaitsLongEnoughForAChipAtDatasheetSpeed) {
  for (const char* part : {"ATmega644P", "ATmega168"}) {
    SCOPED_TRACE(part);
    options_.environment = simulatedCableEnvironment(part, "");
    options_.environment["PELLORY_SIM_TIME_SCALE"] = "1";
    options_.environment["PELLORY_SIM_STATS"] = dir_.file("stats.txt");
    std::remove(dir_.file("stats.txt").c_str());
    std::remove(dir_.file(".cache/pellory/gcal.txt").c_str());
    ProcessResult run = runProcess(builtProgram("pellory"), kCommands, options_);
    expectProgrammed(run);
    std::string summary = readFile(dir_.file("stats.txt"));
    EXPECT_NE(summary.find(", 0 violations"), std::string::npos) << summary;
  }
}

}  // namespace
