// A Linux user with a USB Korvo and no sfconfig.txt: the one serial device
// there is gets used, the channel prompt offers the devices there are, and
// --list-ports names them. The device folder is a stand-in of the test's own,
// its by-id links pointing at korvo-sim's pseudo-terminal.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kPrompt = "Enter new com channel [1,2,3,4,5,6,7,8,e]: ";

class FindingTheKorvoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeRealCalibration(dir.path());
    ASSERT_EQ(mkdir(dir.file("dev").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("dev/serial").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("dev/serial/by-id").c_str(), 0755), 0);
  }

  void plugInKorvo() {
    ASSERT_TRUE(korvo.start(dir.file("pty-korvo"), {"--time-scale", "0.001"})) << korvo.error();
    ASSERT_EQ(symlink(dir.file("pty-korvo").c_str(), byId("usb-Korvo_ISP_K1-if00").c_str()), 0);
  }
  std::string byId(const std::string& name) const { return dir.file("dev/serial/by-id/" + name); }

  ProcessResult runTarnwick(const std::vector<std::string>& arguments,
                            const std::string& input = "") {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    // COM1 to COM9 lead nowhere: only the device folder can find the Korvo.
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("no-such-ttyS");
    options.environment["TARNWICK_DEV_ROOT"] = dir.file("dev");
    options.standardInput = input;
    return runProcess(builtProgram("tarnwick"), arguments, options);
  }

  TempDir dir;
  KorvoSimProcess korvo;
};

TEST_F(FindingTheKorvoTest, TheOnlyUsbSerialDeviceIsTheKorvo) {
  plugInKorvo();
  ProcessResult run = runTarnwick({"--no-wait", "-i"});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.output.rfind("Korvo ISP Programming Utility V1.05\n"
                             "Default com channel is " +
                                 byId("usb-Korvo_ISP_K1-if00") + ", baud rate 115200\n",
                             0),
            0u)
      << run.output;
  EXPECT_EQ(run.output.find(kPrompt), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Target ATmega644P responding"), std::string::npos) << run.output;
}

// What the user put in a file, or gave for this run, is never overruled.
TEST_F(FindingTheKorvoTest, AConfiguredOrGivenPortIsKeptAndTwoDevicesAreNotGuessedBetween) {
  plugInKorvo();
  writeFile(dir.file("sfconfig.txt"), "comchannel com3\n");
  ProcessResult run = runTarnwick({"-i"}, "e\n");
  EXPECT_NE(run.output.find("Default com channel is com3, baud rate 115200\n"), std::string::npos)
      << run.output;
  // A file that names only the rate leaves the port to be found.
  writeFile(dir.file("sfconfig.txt"), "baudrate 115200\n");
  run = runTarnwick({"--no-wait", "-i"});
  EXPECT_NE(run.output.find("Default com channel is " + byId("usb-Korvo_ISP_K1-if00")),
            std::string::npos)
      << run.output;
  std::remove(dir.file("sfconfig.txt").c_str());

  run = runTarnwick({"--port", "COM4", "-i"}, "e\n");
  EXPECT_NE(run.output.find("Default com channel is com4,"), std::string::npos) << run.output;

  // Two devices: no guess, and, away from a terminal, no prompt either.
  ASSERT_EQ(symlink("/nonexistent", byId("usb-Other_Adapter-if00").c_str()), 0);
  run = runTarnwick({"-i"}, "e\n");
  EXPECT_EQ(run.output,
            "Several USB serial devices and no port named:\n  1: " + byId("usb-Korvo_ISP_K1-if00") +
                "\n  2: " + byId("usb-Other_Adapter-if00") +
                "\nNo port chosen: name one with --port DEVICE\n");
  EXPECT_EQ(run.exitStatus, 2);
}

TEST_F(FindingTheKorvoTest, ThePromptNumbersTheDevicesPresentAndTakesANumberOrAPath) {
  plugInKorvo();
  ASSERT_EQ(symlink("/nonexistent", byId("usb-Other_Adapter-if00").c_str()), 0);
  // A configured port that will not open brings the channel prompt.
  writeFile(dir.file("sfconfig.txt"), "comchannel com3\n");
  const std::string list = kPrompt + "\n  1: " + byId("usb-Korvo_ISP_K1-if00") +
                           "\n  2: " + byId("usb-Other_Adapter-if00") +
                           "\nNumber of a device above, a device path, or e: ";
  ProcessResult run = runTarnwick({"--no-wait", "-i"}, "1\n");
  ASSERT_FALSE(run.timedOut);
  EXPECT_NE(run.output.find(list), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Connected to Korvo\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Target ATmega644P responding"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitStatus, 0) << run.output;

  run = runTarnwick({"--no-wait", "-i"}, "  " + dir.file("pty-korvo") + "\n");
  EXPECT_NE(run.output.find("Target ATmega644P responding"), std::string::npos) << run.output;
  EXPECT_EQ(run.exitStatus, 0) << run.output;

  // Past the list, a digit is the COM channel it always was.
  run = runTarnwick({"-i"}, "3\ne\n");
  EXPECT_NE(run.output.find("no-such-ttyS2: No such file or directory"), std::string::npos)
      << run.output;
}

TEST_F(FindingTheKorvoTest, ListPortsNamesTheDevicesOneALine) {
  ASSERT_EQ(symlink("/nonexistent", byId("usb-Korvo_ISP_K1-if00").c_str()), 0);
  writeFile(dir.file("dev/ttyACM0"), "");
  writeFile(dir.file("dev/ttyS0"), "");
  ProcessResult run = runTarnwick({"--list-ports"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output, byId("usb-Korvo_ISP_K1-if00") + "\n" + dir.file("dev/ttyACM0") + "\n");

  std::remove(byId("usb-Korvo_ISP_K1-if00").c_str());
  std::remove(dir.file("dev/ttyACM0").c_str());
  run = runTarnwick({"--list-ports"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errorOutput.find("No serial devices found"), std::string::npos);
}

}  // namespace
