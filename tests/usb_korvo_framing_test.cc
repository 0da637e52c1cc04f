// Keeping the Korvo's answers in step with the questions: reads of memory
// against a Korvo on a pseudo-terminal that answers every frame and, when a
// test asks it to, loses an answer, doubles one or adds a stray byte; stale
// bytes from earlier runs and commands; busy outcomes still owed; and the
// edge of the sign-on's length limit.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/isp_instructions.h"
#include "frontend/profile.h"
#include "link_usb/korvo_link.h"
#include "run/console.h"
#include "run/session.h"
#include "tests/support/pty_korvo.h"
#include "timing/delay.h"

namespace {

constexpr KorvoTimings kTestTimings{300, 150, 5000, 4096, 30};

// What an EEPROM byte of the test's chip holds.
uint8_t storedByte(uint16_t address) {
  return static_cast<uint8_t>(address * 13 + (address >> 8) + 5);
}

// A Korvo that answers each frame as it arrives: "4" frames with the stored
// byte (0x1E for signature byte 0), "3" with the enable echo, "b" with a busy
// stream. `deliver` may change the bytes that go back for the n-th "4" frame
// (counted from 1), as a faulty line would.
class AnsweringKorvo {
 public:
  using Delivery = std::function<std::string(size_t n, const std::string& answer)>;

  explicit AnsweringKorvo(PtyKorvo& pty) : pty_(pty) {}
  ~AnsweringKorvo() { stop(); }

  void start(Delivery deliver = nullptr, std::string busyStream = "0") {
    deliver_ = std::move(deliver);
    busyStream_ = std::move(busyStream);
    thread_ = std::thread([this] { serve(); });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Every byte the link sent, once stopped.
  const std::string& wire() const { return wire_; }
  size_t queries() const { return queries_; }

 private:
  void serve() {
    std::string frame;
    while (!stop_) {
      std::string byte = pty_.wire(1, 20);
      if (byte.empty()) continue;
      wire_ += byte;
      if (frame.empty() && byte[0] == 'b') {
        pty_.reply(busyStream_);
        continue;
      }
      if (frame.empty() && byte[0] != '4' && byte[0] != '3' && byte[0] != 'w') continue;
      frame += byte;
      if (frame.size() < 5) continue;
      if (frame[0] == '3') pty_.reply("\x53");
      if (frame[0] == '4') pty_.reply(answer(frame));
      frame.clear();
    }
  }

  std::string answer(const std::string& frame) {
    const auto b = [&](int i) { return static_cast<uint8_t>(frame[static_cast<size_t>(i)]); };
    uint8_t value = 0xFF;
    if (b(1) == 0x30 && b(3) == 0x00) value = 0x1E;
    if (b(1) == 0xA0) value = storedByte(static_cast<uint16_t>(b(2) << 8 | b(3)));
    const std::string plain(1, static_cast<char>(value));
    ++queries_;
    return deliver_ ? deliver_(queries_, plain) : plain;
  }

  PtyKorvo& pty_;
  Delivery deliver_;
  std::string busyStream_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string wire_;
  size_t queries_ = 0;
};

class KorvoFramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLoopsPerMicrosecond(1);
    session.settings.comDevicePath = pty.devicePath();
    ASSERT_EQ(link.openProgrammerPort(), 1) << console.output();
  }

  // Reads `count` EEPROM bytes from `first` in one run; the error text when
  // the link gave up, "" otherwise.
  std::string readRun(uint16_t first, size_t count) {
    got.assign(count, 0);
    try {
      ispReadEepromBytes(link, first, count, got.data());
    } catch (const LinkLostError& lost) {
      return lost.what();
    }
    return "";
  }
  void expectStoredBytes(uint16_t first) {
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i], storedByte(static_cast<uint16_t>(first + i))) << "byte " << i;
    }
  }

  PtyKorvo pty;
  AnsweringKorvo korvo{pty};
  ScriptedConsole console;
  Session session{tarnwickProfile(), console};
  KorvoLink link{session, kTestTimings};
  std::vector<uint8_t> got;
};

const char kOutOfStep[] = "\nError - replies from Korvo out of step, read abandoned\n";

std::string frame(uint8_t b1, uint8_t b2, uint8_t b3) {
  return std::string{'4', static_cast<char>(b1), static_cast<char>(b2), static_cast<char>(b3),
                     '\0'};
}

TEST_F(KorvoFramingTest, ARunCarriesAKnownAnswerQueryAfterEveryFiftySixReadsAndAtItsEnd) {
  korvo.start();
  ASSERT_EQ(readRun(0, 120), "");
  korvo.stop();
  expectStoredBytes(0);
  std::string expected;
  for (uint16_t a = 0; a < 120; ++a) {
    expected += frame(0xA0, 0, static_cast<uint8_t>(a));
    if (a == 55 || a == 111 || a == 119) expected += frame(0x30, 0, 0);
  }
  EXPECT_EQ(hexBytes(korvo.wire()), hexBytes(expected));
}

TEST_F(KorvoFramingTest, AShiftedAnswerIsCaughtAndTheRunReadAgain) {
  // Each fault once, in the first pass only: the run comes back right.
  struct Fault {
    const char* name;
    AnsweringKorvo::Delivery deliver;
  };
  const Fault faults[] = {
      {"an answer twice", [](size_t n, const std::string& a) { return n == 40 ? a + a : a; }},
      {"a stray byte first",
       [](size_t n, const std::string& a) { return n == 40 ? "\x3e" + a : a; }},
      {"an answer lost, another twice 43 later",
       [](size_t n, const std::string& a) {
         if (n == 20) return std::string();
         return n == 63 ? a + a : a;
       }},
      {"the last answer twice",
       [](size_t n, const std::string& a) { return n == 1043 ? a + a : a; }},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    PtyKorvo freshPty;
    AnsweringKorvo freshKorvo(freshPty);
    session.settings.comDevicePath = freshPty.devicePath();
    link.closePort();
    ASSERT_EQ(link.openProgrammerPort(), 1);
    freshKorvo.start(fault.deliver);
    EXPECT_EQ(readRun(100, 1024), "");
    freshKorvo.stop();
    expectStoredBytes(100);
    // After the first pass, cut short where the fault showed, one lone check
    // and the whole run of 1024 reads and 19 checks once more.
    EXPECT_GT(freshKorvo.queries(), 1043u + 1u + 56u);
  }
}

TEST_F(KorvoFramingTest, AShiftInTheSecondPassTooEndsTheRunWithoutData) {
  korvo.start([](size_t n, const std::string& a) { return n % 1000 == 10 ? a + a : a; });
  EXPECT_EQ(readRun(0, 1024), kOutOfStep);
}

TEST_F(KorvoFramingTest, AByteWaitingBeforeARunShowsAnEarlierExchangeWasOutOfStep) {
  korvo.start();
  ASSERT_EQ(readRun(0, 10), "");
  pty.reply("\x1e");
  EXPECT_EQ(readRun(0, 10), kOutOfStep);
}

TEST_F(KorvoFramingTest, StaleBytesNeverReachTheEnableOrTheAnswers) {
  // Bytes the line held before the port was opened are gone once it is.
  link.closePort();
  pty.reply("\x53\x1e\x96");
  ASSERT_EQ(link.openProgrammerPort(), 1);
  pty.reply("K");
  EXPECT_EQ(link.programmerReadByte(), 'K');

  // Answers left by an interrupted run, arriving with the acceptance and
  // after it (an "a" among them taken for it), are dropped before the enable.
  pty.reply(std::string("\x1e\x96\x0a") + "a" + "\x61\x30\xff");
  link.enterProgrammingMode();
  korvo.start();
  EXPECT_EQ(link.enableProgramming(), 0x53);
  EXPECT_EQ(readRun(0, 60), "");
  expectStoredBytes(0);
}

TEST_F(KorvoFramingTest, ABusyOutcomeOwedIsReadBeforeTheFirstQueryOfARun) {
  // A page write's wait sent, then the read-back: the busy stream comes first
  // and none of it is taken for memory.
  korvo.start(nullptr, "...0");
  ASSERT_TRUE(link.sendWaitReady());
  EXPECT_EQ(readRun(0, 30), "");
  expectStoredBytes(0);
  EXPECT_EQ(link.collectWaitReady(), 0);
}

TEST_F(KorvoFramingTest, SeveralOwedBusyOutcomesAreCollectedInTheOrderSent) {
  ASSERT_TRUE(link.sendWaitReady());
  ASSERT_TRUE(link.sendWaitReady());
  pty.reply("..0.1");
  EXPECT_EQ(link.collectWaitReady(), 0);
  EXPECT_EQ(link.collectWaitReady(), -1);
}

TEST_F(KorvoFramingTest, NoBusyOutcomeIsOwedAfterProgrammingModeIsEnteredAgain) {
  // A command that ended early left a split wait owed. Its stream goes with
  // the bytes dropped on entering programming mode, and the next read does
  // not wait for it.
  ASSERT_TRUE(link.sendWaitReady());
  pty.reply("..0a");
  link.enterProgrammingMode();
  pty.wire(64, 50);  // "b" and the mode sequence, answered above
  korvo.start();
  EXPECT_EQ(readRun(0, 30), "");
  expectStoredBytes(0);
}

TEST_F(KorvoFramingTest, EachOwedBusyReplyHasTheWholeReplyTime) {
  // Two busy streams owed by the fast download, each lasting more than half
  // the reply time: together longer than it, each well within it.
  KorvoTimings timings = kTestTimings;
  timings.replyTimeoutMs = 400;
  KorvoLink slowLink(session, timings);
  link.closePort();
  ASSERT_EQ(slowLink.openProgrammerPort(), 1);
  session.settings.noBusyWait = true;
  slowLink.waitReady();
  slowLink.waitReady();
  session.settings.noBusyWait = false;
  std::thread stream([&] {
    for (int wait = 0; wait < 2; ++wait) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(220);
      while (std::chrono::steady_clock::now() < end) pty.reply(".");
      pty.reply("0");
    }
    pty.reply("\x42");
  });
  uint8_t answer = 0;
  std::string lost;
  try {
    answer = slowLink.queryInstruction(IspInstruction{{0x30, 0, 0, 0}});
  } catch (const LinkLostError& error) {
    lost = error.what();
  }
  stream.join();
  EXPECT_EQ(lost, "");
  EXPECT_EQ(answer, 0x42);
}

TEST(KorvoSignOnLimit, HoldsAtItsExactEdge) {
  setLoopsPerMicrosecond(1);
  for (size_t extra : {0, 1}) {
    SCOPED_TRACE(extra);
    PtyKorvo pty;
    ScriptedConsole console;
    Session session(tarnwickProfile(), console);
    session.settings.comDevicePath = pty.devicePath();
    session.settings.outputMode = 'q';
    KorvoTimings timings = kTestTimings;
    timings.signOnTextLimit = 100;
    KorvoLink link(session, timings);
    ASSERT_EQ(link.openProgrammerPort(), 1);
    // The limit counts every byte of the sign-on, the prompt included.
    pty.reply(std::string(99 + extra, 'K') + ">");
    EXPECT_EQ(link.checkSignOn(), extra == 0);
  }
}

}  // namespace
