// The Marlow link through the simulated cable library, bound the way pellory
// binds a port library: a chip answers its signature, and a chip that never
// finishes a write is given up on after the documented number of polls.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/isp_link.h"
#include "frontend/profile.h"
#include "link_lpt/marlow_link.h"
#include "link_lpt/port_library.h"
#include "run/session.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

class SimulatedCableLinkTest : public ::testing::Test {
 protected:
  ~SimulatedCableLinkTest() override {
    unbindPortLibrary();
    for (const char* name :
         {"PELLORY_SIM_PART", "PELLORY_SIM_FAULT", "PELLORY_SIM_TRACE", "PELLORY_SIM_TIME_SCALE"}) {
      unsetenv(name);
    }
  }
  // The library reads its configuration when it is loaded.
  void plugIn(const std::string& part, const std::string& fault) {
    writeFastCalibration(dir_.path());
    setLoopsPerMicrosecond(std::atoi(readFile(dir_.file("gcal.txt")).c_str()));
    setenv("PELLORY_SIM_PART", part.c_str(), 1);
    setenv("PELLORY_SIM_TIME_SCALE", std::to_string(kSimTimeScale).c_str(), 1);
    setenv("PELLORY_SIM_TRACE", dir_.file("trace.txt").c_str(), 1);
    if (!fault.empty()) setenv("PELLORY_SIM_FAULT", fault.c_str(), 1);
    ASSERT_EQ(bindPortLibraryFrom(std::string(AVRISP_BINARY_DIR) + "/sim/libio.so"), 0)
        << portLibraryError();
  }
  size_t tracedLines(const std::string& line) {
    unbindPortLibrary();  // closes the trace
    std::string trace = readFile(dir_.file("trace.txt"));
    size_t count = 0;
    for (size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) {
      ++count;
    }
    return count;
  }

  TempDir dir_;
  ScriptedConsole console_;
  Session session_{pelloryProfile(), console_};
};

TEST_F(SimulatedCableLinkTest, AChipInStepAnswersItsSignature) {
  plugIn("ATmega48", "");
  MarlowLink link(session_, boundPortBits());
  ASSERT_TRUE(cablePresent(link.port()));
  ASSERT_EQ(link.enableProgramming(), 0x53);
  uint8_t signature[3];
  for (uint8_t n = 0; n < 3; ++n) signature[n] = link.queryInstruction({{0x30, 0x00, n, 0x00}});
  EXPECT_EQ(signature[0], 0x1E);
  EXPECT_EQ(signature[1], 0x92);
  EXPECT_EQ(signature[2], 0x05);
  link.leaveProgrammingMode();
}

TEST_F(SimulatedCableLinkTest, AWriteThatNeverEndsFailsAfter5002Polls) {
  plugIn("ATmega48", "busy-forever");
  session_.target.processorIndex = 2;
  MarlowLink link(session_, boundPortBits());
  ASSERT_EQ(link.enableProgramming(), 0x53);
  link.sendInstruction({{0xAC, 0x80, 0x00, 0x00}});  // Chip Erase
  EXPECT_EQ(link.waitReady(), -1);
  EXPECT_EQ(tracedLines("F0 00 00 00"), 5002u);
}

}  // namespace
