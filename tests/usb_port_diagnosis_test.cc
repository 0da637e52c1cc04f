// What a user reads after a port error: the device and the reason, what to do,
// and the serial devices there are to pick from, against device folders of the
// test's own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "link_usb/port_diagnosis.h"
#include "tests/support/temp_dir.h"

namespace {

class PortDiagnosisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders.dev = dir.path();
    folders.proc = dir.file("no-proc");
  }

  // A machine with one Korvo on ttyUSB0, named by id, and one on ttyACM1.
  void plugInDevices() {
    ASSERT_EQ(mkdir(dir.file("serial").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("serial/by-id").c_str(), 0755), 0);
    for (const char* name : {"ttyUSB0", "ttyACM1", "ttyS0", "console"})
      writeFile(dir.file(name), "");
    ASSERT_EQ(symlink("../../ttyUSB0", dir.file("serial/by-id/usb-Korvo_ISP-if00").c_str()), 0);
  }

  TempDir dir;
  DeviceFolders folders;
};

TEST_F(PortDiagnosisTest, ListsByIdNamesWithTheirTtyThenUsbAndAcmDevices) {
  EXPECT_TRUE(serialDevicesPresent(folders).empty());
  plugInDevices();
  std::vector<std::string> expected = {
      dir.file("serial/by-id/usb-Korvo_ISP-if00") + " -> " + dir.file("ttyUSB0"),
      dir.file("ttyUSB0"),
      dir.file("ttyACM1"),
  };
  EXPECT_EQ(serialDevicesPresent(folders), expected);

  EXPECT_EQ(explainPortError("/dev/ttyS1", ENOENT, folders),
            "/dev/ttyS1: No such file or directory\n"
            "  Is the Korvo plugged in? Its device appears when it is.\n"
            "Serial devices present (choose one with --port DEVICE):\n"
            "  " +
                expected[0] + "\n  " + expected[1] + "\n  " + expected[2] + "\n");
}

TEST_F(PortDiagnosisTest, OnlyOneUsbSerialDeviceIsTakenForTheKorvo) {
  EXPECT_EQ(onlySerialDevice(folders), "");
  writeFile(dir.file("ttyS0"), "");
  writeFile(dir.file("ttyACM0"), "");
  EXPECT_EQ(onlySerialDevice(folders), dir.file("ttyACM0"));
  writeFile(dir.file("ttyUSB3"), "");
  EXPECT_EQ(onlySerialDevice(folders), "");
  // A by-id link stands for its tty: one link is one device, whatever else.
  ASSERT_EQ(mkdir(dir.file("serial").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("serial/by-id").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../../ttyUSB3", dir.file("serial/by-id/usb-Korvo_ISP-if00").c_str()), 0);
  EXPECT_EQ(onlySerialDevice(folders), dir.file("serial/by-id/usb-Korvo_ISP-if00"));
  std::vector<std::string> all = {dir.file("serial/by-id/usb-Korvo_ISP-if00"), dir.file("ttyUSB3"),
                                  dir.file("ttyACM0")};
  EXPECT_EQ(serialDevicePaths(folders), all);
  ASSERT_EQ(symlink("../../ttyACM0", dir.file("serial/by-id/usb-Other-if00").c_str()), 0);
  EXPECT_EQ(onlySerialDevice(folders), "");
}

TEST_F(PortDiagnosisTest, EachReasonGetsItsAdvice) {
  EXPECT_EQ(explainPortError("/dev/ttyUSB0", EACCES, folders),
            "/dev/ttyUSB0: Permission denied\n"
            "  Serial devices belong to the dialout group: add yourself with\n"
            "  'sudo usermod -aG dialout $USER', then log in again.\n"
            "No serial devices found (looked for " +
                dir.path() + "/serial/by-id/*, " + dir.path() + "/ttyUSB*, " + dir.path() +
                "/ttyACM*).\n");
  // A busy port whose holder cannot be seen, and a reason with no advice.
  std::string busy = explainPortError("/dev/ttyUSB0", EBUSY, folders);
  EXPECT_EQ(busy.rfind("/dev/ttyUSB0: Device or resource busy\n"
                       "  Another program holds it; close that program first.\n",
                       0),
            0u)
      << busy;
  std::string failed = explainPortError("/dev/ttyUSB0", EIO, folders);
  EXPECT_EQ(failed.rfind("/dev/ttyUSB0: Input/output error\nNo serial devices found", 0), 0u)
      << failed;
}

TEST_F(PortDiagnosisTest, ABusyPortNamesTheProcessHoldingIt) {
  std::string device = dir.file("ttyUSB0");
  writeFile(device, "");
  folders.proc = "/proc";
  EXPECT_TRUE(portHolders(device, folders).empty());

  int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<std::string> holders = portHolders(device, folders);
  // Through a symbolic link too: the holder's descriptor names the target.
  std::string alias = dir.file("korvo");
  ASSERT_EQ(symlink(device.c_str(), alias.c_str()), 0);
  std::string explained = explainPortError(alias, EBUSY, folders);
  close(fd);

  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].rfind(std::to_string(getpid()) + " (", 0), 0u) << holders[0];
  EXPECT_NE(explained.find("  It is held by " + holders[0] + "; close that program first.\n"),
            std::string::npos)
      << explained;
}

}  // namespace
