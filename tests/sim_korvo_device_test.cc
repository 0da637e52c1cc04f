// The Korvo's command protocol, driven byte by byte without a terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/avr_target.h"
#include "sim/korvo_device.h"
#include "sim/korvo_trace.h"
#include "sim/sim_parts.h"

namespace {

// Records what the Korvo did on its wires; answers each SPI byte with the
// previous one (the AVR echo), except for the ready poll's fourth byte, which
// says busy for as many polls as the test asks.
class WireRecorder : public KorvoTarget {
 public:
  void setResetLow(bool low) override { resets.push_back(low); }
  uint8_t exchange(uint8_t mosi) override {
    uint8_t out = previous;
    if (spi.size() % 4 == 3 && spi[spi.size() - 3] == 0xF0) out = busyPolls-- > 0 ? 0x01 : 0x00;
    spi.push_back(mosi);
    previous = mosi;
    return out;
  }

  // A part without Poll RDY/BSY: busy for this many checks, -1 for a part
  // that answers the poll.
  int timedBusy() override { return timedChecks < 0 ? -1 : timedChecks-- > 0 ? 1 : 0; }

  std::vector<bool> resets;
  std::vector<uint8_t> spi;
  uint8_t previous = 0xFF;
  int busyPolls = 0;
  int timedChecks = -1;
};

std::string text(const KorvoBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class KorvoDeviceTest : public ::testing::Test {
 protected:
  explicit KorvoDeviceTest(KorvoSettings settings = {}) : device(wires, settings) {
    device.setTraceSink(
        [this](const KorvoBytes& bytes) { trace.push_back(formatTraceLine(bytes)); });
  }

  std::string send(const std::string& bytes, int64_t now = 0) {
    KorvoBytes out;
    for (char c : bytes) device.receive(static_cast<uint8_t>(c), now, out);
    return text(out);
  }
  std::string frame(char kind, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    return send(std::string{kind, static_cast<char>(b1), static_cast<char>(b2),
                            static_cast<char>(b3), static_cast<char>(b4)});
  }
  void enterSequence() {
    KorvoBytes signOn;
    device.hostOpened(signOn);
    ASSERT_EQ(send("p2\r").back(), 'a');
  }

  WireRecorder wires;
  KorvoDevice device;
  std::vector<std::string> trace;
};

TEST_F(KorvoDeviceTest, SignOnEachOpenEndsInPromptAndReleasesTarget) {
  for (int open = 0; open < 2; ++open) {
    KorvoBytes out;
    device.hostOpened(out);
    EXPECT_EQ(text(out), "\r\nKorvo USB ISP V2.3\r\n>");
  }
  EXPECT_EQ(wires.resets, (std::vector<bool>{false, false}));
}

TEST_F(KorvoDeviceTest, ModeRequestIsAcknowledgedWithNoEarlierA) {
  for (const char* request : {"p2\r", "p1\r"}) {
    const std::string reply = send(request);
    ASSERT_FALSE(reply.empty());
    // The host drops everything up to the first 'a', so only the last may be one.
    EXPECT_EQ(reply.find('a'), reply.size() - 1) << reply;
  }
  EXPECT_TRUE(device.inProgrammingSequence());
}

TEST_F(KorvoDeviceTest, ResetFollowsRlAndRhAndIsReleasedByE) {
  enterSequence();
  wires.resets.clear();
  EXPECT_EQ(send("rlrhrl"), "");
  EXPECT_EQ(send("e"), "");
  EXPECT_EQ(wires.resets, (std::vector<bool>{true, false, true, false}));
  EXPECT_FALSE(device.inProgrammingSequence());
}

TEST_F(KorvoDeviceTest, FramesShiftFourBytesAndReplyWithTheAskedByte) {
  enterSequence();
  EXPECT_EQ(frame('w', 0x40, 0x00, 0x01, 0xAB), "");
  // The recorder echoes the previous byte, so the third output is b2 and the
  // fourth b3.
  EXPECT_EQ(frame('3', 0xAC, 0x53, 0x00, 0x00), "\x53");
  EXPECT_EQ(frame('4', 0x30, 0x00, 0x02, 0x00), "\x02");
  EXPECT_EQ(wires.spi, (std::vector<uint8_t>{0x40, 0x00, 0x01, 0xAB, 0xAC, 0x53, 0x00, 0x00, 0x30,
                                             0x00, 0x02, 0x00}));
  EXPECT_EQ(device.frames(), 3u);
}

TEST_F(KorvoDeviceTest, BusyWaitStreamsProgressThenReady) {
  enterSequence();
  wires.busyPolls = 3;
  KorvoBytes out;
  device.receive('b', 0, out);
  EXPECT_EQ(text(out), ".");
  // Nothing new before the next poll is due; bytes sent meanwhile wait.
  device.advance(999, out);
  device.receive('4', 999, out);
  for (uint8_t b : {0x30, 0x00, 0x00, 0x00}) device.receive(b, 999, out);
  EXPECT_EQ(text(out), ".");
  for (int64_t t = 1000; device.busyWaiting(); t += 1000) device.advance(t, out);
  EXPECT_EQ(text(out), std::string("...0") + '\x00');
  // Every poll was a ready poll, the held frame came after them.
  EXPECT_EQ(wires.spi.size(), 4u * 4 + 4);
  EXPECT_EQ(wires.spi[wires.spi.size() - 4], 0x30);
}

// On a part whose answer to F0 means nothing, "b" keeps the part's own write
// time and sends no poll.
TEST_F(KorvoDeviceTest, BusyWaitOnAPartWithoutReadyPollSendsNoPoll) {
  enterSequence();
  wires.timedChecks = 2;
  KorvoBytes out;
  device.receive('b', 0, out);
  for (int64_t t = 1000; device.busyWaiting(); t += 1000) device.advance(t, out);
  EXPECT_EQ(text(out), "..0");
  EXPECT_TRUE(wires.spi.empty());
}

TEST_F(KorvoDeviceTest, BusyWaitGivesUpWithOneAtItsLimit) {
  enterSequence();
  wires.busyPolls = 1'000'000;
  KorvoBytes out;
  device.receive('b', 0, out);
  for (int64_t t = 0; device.busyWaiting() && t <= 3'000'000; t += 1000) device.advance(t, out);
  EXPECT_FALSE(device.busyWaiting());
  EXPECT_EQ(out.back(), '1');
  EXPECT_EQ(std::count(out.begin(), out.end(), '.'), 2000);
}

TEST_F(KorvoDeviceTest, OutsideCommandsBytesAreEchoed) {
  // Before a mode request the Korvo is a plain terminal: even "rl" is text.
  EXPECT_EQ(send("rl3x"), "rl3x");
  EXPECT_TRUE(wires.resets.empty());
  EXPECT_EQ(send("px"), "px");
  EXPECT_EQ(send("p2x"), "p2x");
  enterSequence();
  EXPECT_EQ(send("?"), "?");
  EXPECT_EQ(send("rq"), "rq");
  send("e");
  EXPECT_EQ(send("w"), "w");
  EXPECT_TRUE(wires.spi.empty());
}

TEST_F(KorvoDeviceTest, TraceHasOneLinePerCommand) {
  enterSequence();
  trace.clear();
  send("rl");
  frame('4', 0x30, 0x00, 0x00, 0x00);
  send("b?e");
  EXPECT_EQ(trace, (std::vector<std::string>{"72 6C", "34 30 00 00 00", "62", "3F", "65"}));
}

KorvoSettings faults(uint64_t hangup, uint64_t silent) {
  KorvoSettings settings;
  settings.hangupAfterFrames = hangup;
  settings.silentAfterFrames = silent;
  return settings;
}

class KorvoFaultTest : public KorvoDeviceTest {
 protected:
  KorvoFaultTest() : KorvoDeviceTest(faults(2, 0)) {}
};

TEST_F(KorvoFaultTest, HangsUpAfterCountedFramesButAnswersTheLast) {
  enterSequence();
  send("rlrh");  // commands other than frames do not count
  frame('w', 0xAC, 0x53, 0x00, 0x00);
  EXPECT_FALSE(device.hungUp());
  EXPECT_EQ(frame('4', 0x30, 0x00, 0x01, 0x00), "\x01");
  EXPECT_FALSE(device.hungUp());
  EXPECT_EQ(frame('4', 0x30, 0x00, 0x02, 0x00), "");
}

class KorvoSilentTest : public KorvoDeviceTest {
 protected:
  KorvoSilentTest() : KorvoDeviceTest(faults(0, 1)) {}
};

TEST_F(KorvoSilentTest, StopsAnsweringEvenAfterReopen) {
  enterSequence();
  EXPECT_EQ(frame('3', 0xAC, 0x53, 0x00, 0x00), "\x53");
  EXPECT_TRUE(device.silent());
  EXPECT_EQ(frame('3', 0xAC, 0x53, 0x00, 0x00), "");
  EXPECT_EQ(send("hello"), "");
  KorvoBytes signOn;
  device.hostOpened(signOn);
  EXPECT_TRUE(signOn.empty());
}

TEST(KorvoDeviceSignOn, NoSignOnOptionSendsNothing) {
  WireRecorder wires;
  KorvoSettings settings;
  settings.signOn = false;
  KorvoDevice device(wires, settings);
  KorvoBytes out;
  device.hostOpened(out);
  EXPECT_TRUE(out.empty());
}

// The whole story against the target model: reset pulse, enable, signature,
// chip erase with the busy stream, on a clock the test moves by hand.
TEST(KorvoWithTargetModel, ReadsSignatureAndWaitsOutChipErase) {
  SimClock clock = SimClock::manual(1.0);
  AvrTarget target(*findSimPart("atmega2560"), clock);
  class Wires : public KorvoTarget {
   public:
    explicit Wires(AvrTarget& t) : t_(t) {}
    void setResetLow(bool low) override { t_.setResetLow(low); }
    uint8_t exchange(uint8_t mosi) override { return t_.exchange(mosi); }
    AvrTarget& t_;
  } wires(target);
  KorvoDevice device(wires, KorvoSettings{});
  KorvoBytes out;
  auto send = [&](std::initializer_list<uint8_t> bytes) {
    out.clear();
    for (uint8_t b : bytes) device.receive(b, clock.nowMicros(), out);
    return out;
  };
  device.hostOpened(out);
  send({'p', '2', '\r', 'r', 'l'});
  clock.advanceMicros(30'000);  // RESET low for at least 20 ms before the enable
  send({'r', 'h', 'r', 'l'});
  clock.advanceMicros(30'000);
  EXPECT_EQ(send({'3', 0xAC, 0x53, 0x00, 0x00}), KorvoBytes{0x53});
  KorvoBytes signature;
  for (uint8_t n = 0; n < 3; ++n) {
    signature.push_back(send({'4', 0x30, 0x00, n, 0x00}).at(0));
  }
  EXPECT_EQ(signature, (KorvoBytes{0x1E, 0x98, 0x01}));

  send({'w', 0xAC, 0x80, 0x00, 0x00, 'b'});
  EXPECT_EQ(out, KorvoBytes{'.'});
  while (device.busyWaiting()) {
    clock.advanceMicros(1'000);
    device.advance(clock.nowMicros(), out);
  }
  EXPECT_EQ(out.back(), '0');
  EXPECT_GT(out.size(), 2u);
  EXPECT_EQ(target.stats().violations(), 0u);
}

}  // namespace
