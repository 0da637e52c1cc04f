// The Marlow link as the engine uses it: instructions as SPI bytes, the
// programming-mode sequences on RESET and the enable lines, and the wait for a
// self-timed write.

#include <gtest/gtest.h>

#include "frontend/profile.h"
#include "link_lpt/marlow_link.h"
#include "run/session.h"
#include "tests/support/fake_parallel_port.h"
#include "timing/delay.h"

namespace {

class MarlowLinkTest : public ::testing::Test {
 protected:
  MarlowLinkTest() : session_(pelloryProfile(), console_), link_(session_, fake_.bits()) {
    setLoopsPerMicrosecond(1);
  }
  // Poll answers: busy (bit 0 set) for the first `busyPolls` polls, then ready.
  void answerPollsBusyFor(size_t busyPolls) {
    fake_.answer = [busyPolls](size_t byteIndex) {
      bool resultByte = byteIndex % 4 == 3;
      if (!resultByte) return uint8_t{0x00};
      return byteIndex / 4 < busyPolls ? uint8_t{0xFF} : uint8_t{0xFE};
    };
  }
  size_t pollsSent() const {
    std::vector<uint8_t> bytes = fake_.bytesOut();
    size_t polls = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      if (bytes[i] == 0xF0 && bytes[i + 1] == 0 && bytes[i + 2] == 0 && bytes[i + 3] == 0) ++polls;
    }
    return polls;
  }

  ScriptedConsole console_;
  Session session_;
  FakeParallelPort fake_;
  MarlowLink link_;
};

TEST_F(MarlowLinkTest, QueryReturnsWhatTheTargetShiftsOutDuringTheFourthByte) {
  fake_.answer = [](size_t byteIndex) { return byteIndex == 3 ? uint8_t{0x1E} : uint8_t{0x55}; };
  EXPECT_EQ(link_.queryInstruction({{0x30, 0x00, 0x00, 0x00}}), 0x1E);
  link_.sendInstruction({{0xAC, 0x80, 0x00, 0x00}});
  EXPECT_EQ(fake_.bytesOut(),
            (std::vector<uint8_t>{0x30, 0x00, 0x00, 0x00, 0xAC, 0x80, 0x00, 0x00}));
  EXPECT_EQ(fake_.misoSamples(), 8u);
}

TEST_F(MarlowLinkTest, EnableEntersProgrammingModeAndReturnsTheThirdByteEcho) {
  session_.target.targetReleased = true;
  fake_.answer = [](size_t byteIndex) { return byteIndex == 2 ? uint8_t{0x53} : uint8_t{0xFF}; };
  EXPECT_EQ(link_.enableProgramming(), 0x53);
  EXPECT_EQ(fake_.bytesOut(), (std::vector<uint8_t>{0xAC, 0x53, 0x00, 0x00}));
  EXPECT_FALSE(session_.target.targetReleased);
  // RESET bit 7 high, MOSI high, SCK low, enable lines 3 then 2, then RESET
  // low with bit 6 first; the SPI clocking follows.
  EXPECT_EQ(fake_.dataChangeText().rfind("+7 +5 -4 -3 -2 -6 -7 -4 ", 0), 0u)
      << fake_.dataChangeText();
}

TEST_F(MarlowLinkTest, LeavingRaisesResetBeforeReleasingTheEnableLines) {
  link_.leaveProgrammingMode();
  EXPECT_EQ(fake_.dataChangeText(), "+7 +6 +3 +2");
  EXPECT_TRUE(session_.target.targetReleased);
}

TEST_F(MarlowLinkTest, LinesFollowTheConfiguredPortAddress) {
  session_.settings.lptDataPort = 0x278;
  session_.settings.lptStatusPort = 0x279;
  FakeParallelPort moved(0x278, 0x279);
  MarlowLink link(session_, moved.bits());
  link.enterProgrammingMode();
  link.queryInstruction({{0x50, 0x00, 0x00, 0x00}});
  EXPECT_EQ(moved.strayAccesses(), 0u);
  EXPECT_EQ(moved.misoSamples(), 8u);
}

TEST_F(MarlowLinkTest, TheFixedWaitPartIsNeverPolled) {
  session_.target.processorIndex = kFixedWaitRow;
  EXPECT_EQ(link_.waitReady(), 0);
  EXPECT_TRUE(fake_.changes().empty());
}

TEST_F(MarlowLinkTest, OtherPartsArePolledUntilReady) {
  session_.target.processorIndex = 0;
  answerPollsBusyFor(3);
  EXPECT_EQ(link_.waitReady(), 0);
  EXPECT_EQ(pollsSent(), 4u);

  session_.target.processorIndex = -1;  // an unknown part is polled as well
  FakeParallelPort again;
  again.answer = [](size_t) { return uint8_t{0x00}; };
  MarlowLink link(session_, again.bits());
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(again.bytesOut().size(), 4u);
}

TEST_F(MarlowLinkTest, ATargetBusyForeverFailsAtTheBusyAnswerAfterTheFirst5001) {
  session_.target.processorIndex = 3;
  answerPollsBusyFor(5001);
  EXPECT_EQ(link_.waitReady(), 0) << "ready on the 5002nd poll is still in time";

  FakeParallelPort stuck;
  stuck.answer = [](size_t) { return uint8_t{0xFF}; };
  MarlowLink link(session_, stuck.bits());
  EXPECT_EQ(link.waitReady(), -1);
  std::vector<uint8_t> bytes = stuck.bytesOut();
  EXPECT_EQ(bytes.size(), 5002u * 4);
}

}  // namespace
