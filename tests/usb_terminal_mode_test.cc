// Terminal mode against a scripted Korvo: keys go down the wire untouched, what
// the Korvo sends is shown, and the console is put back however the mode ends.

#include <gtest/gtest.h>

#include <string>

#include "frontend/profile.h"
#include "link_usb/korvo_link.h"
#include "link_usb/terminal_mode.h"
#include "run/console.h"
#include "run/session.h"
#include "tests/support/pty_korvo.h"

namespace {

const std::string kOpening = "Terminal mode - all characters sent to serial port\n:";
const std::string kClosing = "\nExiting terminal mode\n";

// Keys typed by a user who may wait for the Korvo's answer before typing, and
// whose input may simply end the way a closed standard input does.
class TypingConsole : public ScriptedConsole {
 public:
  explicit TypingConsole(std::string keys) : ScriptedConsole(std::move(keys)) {}

  // Holds the keys back until `text` has been shown (or a bounded number of
  // looks, so a Korvo that never answers cannot hang the test).
  void typeAfterSeeing(std::string text) { waitFor_ = std::move(text); }
  void endInputAfterKeys() { endIsNews_ = true; }

  bool keyWaiting() override {
    if (!waitFor_.empty() && output().find(waitFor_) == std::string::npos && ++looks_ < 500) {
      return false;
    }
    return ScriptedConsole::keyWaiting() || endIsNews_;
  }
  void beginKeyMode() override { ++keyModeBegun; }
  void endKeyMode() override { ++keyModeEnded; }

  int keyModeBegun = 0;
  int keyModeEnded = 0;

 private:
  std::string waitFor_;
  int looks_ = 0;
  bool endIsNews_ = false;
};

class TerminalModeTest : public ::testing::Test {
 protected:
  void open() {
    session.settings.comDevicePath = korvo.devicePath();
    ASSERT_EQ(link.openProgrammerPort(), 1);
    session.link = &link;
  }

  PtyKorvo korvo;
  TypingConsole console{""};
  Session session{tarnwickProfile(), console};
  KorvoLink link{session, KorvoTimings{300, 150}};
};

TEST_F(TerminalModeTest, EscapeFirstSendsNothing) {
  console.addInput(
      "\x1b"
      "abc");
  open();
  size_t writesBefore = link.portWriteCalls();
  runTerminalMode(session);
  EXPECT_EQ(console.output(), kOpening + kClosing);
  EXPECT_EQ(link.portWriteCalls(), writesBefore);
  EXPECT_EQ(console.keyModeBegun, 1);
  EXPECT_EQ(console.keyModeEnded, 1);
}

TEST_F(TerminalModeTest, KeysReachTheKorvoAndOnlyThreeIsAcknowledged) {
  console.addInput(std::string("a3\x01\xe0H\x1b", 6));
  open();
  runTerminalMode(session);
  EXPECT_EQ(hexBytes(korvo.wire(5)), "61 33 01 e0 48");
  EXPECT_EQ(console.output(), kOpening + "[3 received]" + kClosing);
}

TEST_F(TerminalModeTest, KorvoOutputIsShownExceptNul) {
  console.typeAfterSeeing("!");
  console.addInput("\x1b");
  open();  // drops what was waiting, so the Korvo talks once it is open
  korvo.reply(std::string("ok\0\xff!", 5));
  runTerminalMode(session);
  EXPECT_EQ(console.output(), kOpening + "ok\xff!" + kClosing);
}

TEST_F(TerminalModeTest, EndOfInputLeavesAsEscapeDoes) {
  console.addInput("v");
  console.endInputAfterKeys();
  open();
  runTerminalMode(session);
  EXPECT_EQ(korvo.wire(1), "v");
  EXPECT_EQ(console.output(), kOpening + kClosing);
  EXPECT_EQ(console.keyModeEnded, 1);
}

TEST_F(TerminalModeTest, LostKorvoStillRestoresTheConsole) {
  open();
  korvo.hangUp();
  console.addInput("x");
  EXPECT_THROW(runTerminalMode(session), LinkLostError);
  EXPECT_EQ(console.keyModeBegun, 1);
  EXPECT_EQ(console.keyModeEnded, 1);
}

TEST_F(TerminalModeTest, OnlyAKorvoHasATerminalMode) {
  console.addInput("\x1b");
  runTerminalMode(session);  // no link at all
  EXPECT_EQ(console.output(), "");
}

}  // namespace
