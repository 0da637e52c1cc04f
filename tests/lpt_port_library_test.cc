// Binding the port-I/O library: the real one is found and bound, and a
// missing or incomplete library is refused with the loader's reason, so no
// port access can go through an empty entry point.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "link_lpt/port_library.h"

namespace {

const std::string kRealLibrary = std::string(AVRISP_BINARY_DIR) + "/lib/libio.so";

class PortLibraryTest : public ::testing::Test {
 protected:
  ~PortLibraryTest() override {
    unbindPortLibrary();
    unsetenv("PELLORY_PORT_LIBRARY");
  }
  static bool anySlotFilled() {
    for (int i = 0; i < 13; ++i) {
      if (portLibrarySlotFilled(i)) return true;
    }
    return false;
  }
};

TEST_F(PortLibraryTest, TheRealLibraryBindsEveryEntryPointAndRegistersOneExitHandler) {
  ASSERT_EQ(bindPortLibraryFrom(kRealLibrary), 0) << portLibraryError();
  for (int i = 0; i < 13; ++i) EXPECT_TRUE(portLibrarySlotFilled(i)) << kPortIoNames[i];
  EXPECT_TRUE(boundPortBits().complete());
  EXPECT_EQ(portLibraryExitRegistrations(), 1);

  ASSERT_EQ(bindPortLibraryFrom(kRealLibrary), 0);
  EXPECT_EQ(portLibraryExitRegistrations(), 1);

  unbindPortLibrary();
  EXPECT_FALSE(anySlotFilled());
  EXPECT_FALSE(boundPortBits().setBit);
  unbindPortLibrary();  // the exit handler may follow an explicit release
}

// pellory shortens its waits only for a chip that runs faster than the
// datasheet, and only the simulated cable can say so: the real library must
// leave every wait at full length.
TEST_F(PortLibraryTest, OnlyTheSimulatedCableDeclaresAFasterChip) {
  EXPECT_EQ(portLibraryTimeScale(), 1.0);
  ASSERT_EQ(bindPortLibraryFrom(kRealLibrary), 0) << portLibraryError();
  EXPECT_EQ(portLibraryTimeScale(), 1.0);

  setenv("PELLORY_SIM_TIME_SCALE", "0.25", 1);
  ASSERT_EQ(bindPortLibraryFrom(std::string(AVRISP_BINARY_DIR) + "/sim/libio.so"), 0)
      << portLibraryError();
  unsetenv("PELLORY_SIM_TIME_SCALE");
  EXPECT_EQ(portLibraryTimeScale(), 0.25);
  unbindPortLibrary();
  EXPECT_EQ(portLibraryTimeScale(), 1.0);
}

TEST_F(PortLibraryTest, AMissingLibraryIsReportedWithTheLoadersReason) {
  int registrations = portLibraryExitRegistrations();
  EXPECT_EQ(bindPortLibraryFrom("/nonexistent/libio.so"), 1);
  EXPECT_NE(portLibraryError().find("/nonexistent/libio.so"), std::string::npos)
      << portLibraryError();
  EXPECT_FALSE(anySlotFilled());
  EXPECT_FALSE(boundPortBits().complete());
  EXPECT_EQ(portLibraryExitRegistrations(), registrations);
}

TEST_F(PortLibraryTest, ALibraryWithoutTheBitOperationsIsRefused) {
  int registrations = portLibraryExitRegistrations();
  // Any shared library that is not a port library will do.
  EXPECT_EQ(bindPortLibraryFrom("libm.so.6"), 1);
  EXPECT_NE(portLibraryError().find("SetPortBit"), std::string::npos) << portLibraryError();
  EXPECT_FALSE(anySlotFilled());
  EXPECT_EQ(portLibraryExitRegistrations(), registrations);
}

TEST_F(PortLibraryTest, AFailedRebindLeavesNothingBound) {
  ASSERT_EQ(bindPortLibraryFrom(kRealLibrary), 0);
  EXPECT_EQ(bindPortLibraryFrom("/nonexistent/libio.so"), 1);
  EXPECT_FALSE(anySlotFilled());
}

TEST_F(PortLibraryTest, TheEnvironmentCanNameTheLibrary) {
  setenv("PELLORY_PORT_LIBRARY", "/nonexistent/elsewhere.so", 1);
  EXPECT_EQ(bindPortLibrary(), 1);
  EXPECT_NE(portLibraryError().find("elsewhere.so"), std::string::npos) << portLibraryError();
  setenv("PELLORY_PORT_LIBRARY", kRealLibrary.c_str(), 1);
  EXPECT_EQ(bindPortLibrary(), 0) << portLibraryError();
}

}  // namespace
