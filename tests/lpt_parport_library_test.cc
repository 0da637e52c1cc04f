// Our libio.so on Linux: which /dev/parportN serves an I/O address, and what
// a user sees when the port cannot be reached (as on a machine without one).

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "link_lpt/parport_map.h"
#include "link_lpt/port_library.h"
#include "link_lpt/spi_bitbang.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kLibrary = std::string(AVRISP_BINARY_DIR) + "/lib/libio.so";

class ParportTree : public ::testing::Test {
 protected:
  ParportTree() {
    mkdir(dir_.file("proc").c_str(), 0755);
    mkdir(dir_.file("proc/sys").c_str(), 0755);
    mkdir(dir_.file("proc/sys/dev").c_str(), 0755);
    mkdir(dir_.file("proc/sys/dev/parport").c_str(), 0755);
    mkdir(dir_.file("dev").c_str(), 0755);
  }
  ~ParportTree() override {
    unbindPortLibrary();
    unsetenv("LIBIO_PROC_ROOT");
    unsetenv("LIBIO_DEV_ROOT");
  }
  // A port as the kernel lists it: "base\tecp-base" in base-addr.
  void addPort(const std::string& name, const std::string& baseAddr) {
    std::string folder = dir_.file("proc/sys/dev/parport/" + name);
    mkdir(folder.c_str(), 0755);
    writeFile(folder + "/base-addr", baseAddr);
  }
  std::string proc() const { return dir_.file("proc"); }
  std::string dev() const { return dir_.file("dev"); }
  void pointLibraryHere() {
    setenv("LIBIO_PROC_ROOT", proc().c_str(), 1);
    setenv("LIBIO_DEV_ROOT", dev().c_str(), 1);
    ASSERT_EQ(bindPortLibraryFrom(kLibrary), 0) << portLibraryError();
  }

  TempDir dir_;
};

TEST_F(ParportTree, EachRegisterAddressFindsTheDeviceWhoseBaseItBelongsTo) {
  addPort("parport0", "888\t1912\n");  // 0x378
  addPort("parport1", "632\t1656\n");  // 0x278
  addPort("parport2", "junk\n");
  mkdir(dir_.file("proc/sys/dev/parport/default").c_str(), 0755);

  ParportMatch match;
  ASSERT_TRUE(findParportDevice(proc(), "/dev", 0x378, match));
  EXPECT_EQ(match.device, "/dev/parport0");
  EXPECT_EQ(match.registerOffset, 0);
  ASSERT_TRUE(findParportDevice(proc(), "/dev", 0x27A, match));
  EXPECT_EQ(match.device, "/dev/parport1");
  EXPECT_EQ(match.base, 0x278);
  EXPECT_EQ(match.registerOffset, 2);
  EXPECT_FALSE(findParportDevice(proc(), "/dev", 0x37B, match));
  EXPECT_FALSE(findParportDevice(proc(), "/dev", 0x3BC, match));
  EXPECT_FALSE(findParportDevice(dir_.file("nothing"), "/dev", 0x378, match));
}

TEST_F(ParportTree, AnAddressIsTheDataRegisterBeforeItIsAnotherPortsStatus) {
  addPort("parport0", "888\n");
  addPort("parport1", "889\n");
  ParportMatch match;
  ASSERT_TRUE(findParportDevice(proc(), "/dev", 0x379, match));
  EXPECT_EQ(match.device, "/dev/parport1");
  EXPECT_EQ(match.registerOffset, 0);
}

TEST_F(ParportTree, WithoutAParallelPortOneLineSaysSoAndTheCableIsNotFound) {
  pointLibraryHere();
  MarlowPort port{boundPortBits(), 0x378, 0x379};
  void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto isDriverInstalled =
      reinterpret_cast<IsDriverInstalledFn>(dlsym(library, "IsDriverInstalled"));
  dlclose(library);
  ASSERT_NE(isDriverInstalled, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(isDriverInstalled(), 0);
  bool found = cablePresent(port);
  EXPECT_EQ(port.bits.getBit(0x379, 6), -1) << "an unreachable port reads as 0xFF";
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(found);
  EXPECT_EQ(errors, "libio: no parallel port at 0x378 (no " + dev() +
                        "/parport* with that base address; is the ppdev module loaded?)\n");
}

TEST_F(ParportTree, ADeviceThatCannotBeClaimedIsNamedWithTheReason) {
  addPort("parport1", "888\t1912\n");
  writeFile(dir_.file("dev/parport1"), "");  // a plain file takes no ioctl
  pointLibraryHere();
  PortBits bits = boundPortBits();
  testing::internal::CaptureStderr();
  bits.setBit(0x378, 0);
  bits.clearBit(0x378, 0);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors, "libio: can't claim " + dev() +
                        "/parport1 for port 0x378: Inappropriate ioctl for device\n");
}

TEST(ParportMessages, AMissingPermissionPointsAtTheLpGroup) {
  std::string line = parportFailureMessage("open", "/dev/parport0", 0x378, EACCES);
  EXPECT_EQ(line,
            "libio: can't open /dev/parport0 for port 0x378: Permission denied "
            "(the user must be in the 'lp' group)");
}

}  // namespace
