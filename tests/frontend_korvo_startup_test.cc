// tarnwick's start-up against a scripted Korvo: the channel prompt, the
// sign-on, identification and the report, compared as whole transcripts along
// with the exact traffic on the wire.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "frontend/profile.h"
#include "frontend/startup.h"
#include "run/console.h"
#include "run/session.h"
#include "tests/support/korvo_transcripts.h"
#include "tests/support/pty_korvo.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

using korvo_text::kHints;
using korvo_text::kPrompt;
using korvo_text::kSignOnHeading;

// What the Korvo answers to the frames of one identification: the enable
// echo, three signature bytes and the fuses in the order they are read (low,
// high, extended).
std::string identificationReplies(uint8_t echo, const char signature[3], uint8_t low, uint8_t high,
                                  uint8_t extended) {
  std::string replies;
  replies += static_cast<char>(echo);
  replies.append(signature, 3);
  replies += static_cast<char>(low);
  replies += static_cast<char>(high);
  replies += static_cast<char>(extended);
  return replies;
}

const char kAtmega644P[3] = {'\x1e', '\x96', '\x0a'};
const char kAtmega32[3] = {'\x1e', '\x95', '\x02'};
// A signature no row holds (the ATmega328P's is in the catalogue now).
const char kUnknownPart[3] = {'\x1e', '\x95', '\x77'};

class KorvoStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLoopsPerMicrosecond(1);
    const char* prefix = std::getenv("TARNWICK_TTY_PREFIX");
    if (prefix != nullptr) savedPrefix_ = prefix;
    hadPrefix_ = prefix != nullptr;
    // Channel n is the device <dir>/ttyKorvo<n>; none exists until a test links one.
    setenv("TARNWICK_TTY_PREFIX", dir.file("ttyKorvo").c_str(), 1);
    // The serial devices listed after a port error: none.
    setenv("TARNWICK_DEV_ROOT", dir.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadPrefix_) {
      setenv("TARNWICK_TTY_PREFIX", savedPrefix_.c_str(), 1);
    } else {
      unsetenv("TARNWICK_TTY_PREFIX");
    }
    unsetenv("TARNWICK_DEV_ROOT");
  }

  void korvoOnChannel(int channel) {
    ASSERT_EQ(
        symlink(korvo.devicePath().c_str(), dir.file("ttyKorvo" + std::to_string(channel)).c_str()),
        0);
  }

  std::unique_ptr<IspLink> start() { return startKorvo(session); }

  // The port error for channel index `channel`, whose device is missing.
  std::string portMissing(int channel) const {
    return korvo_text::missingPortError(dir.file("ttyKorvo" + std::to_string(channel)), dir.path());
  }

  TempDir dir;
  PtyKorvo korvo;
  ScriptedConsole console;
  Session session{tarnwickProfile(), console};

 private:
  std::string savedPrefix_;
  bool hadPrefix_ = false;
};

// Mode request, RESET low, the reset pulse, enable, the signature reads, the
// fuse reads (low, high, extended) and the release of the target.
const std::string kIdentificationWire =
    "70 32 0d 72 6c 72 68 72 6c "
    "33 ac 53 00 00 "
    "34 30 00 00 00 34 30 00 01 00 34 30 00 02 00 "
    "34 50 00 00 00 34 58 08 00 00 34 50 08 00 00 "
    "72 68 65";

TEST_F(KorvoStartupTest, DefaultPortShowsTheSignOnAndIdentifiesTheTarget) {
  korvoOnChannel(1);
  korvo.play("Korvo V1.3\r\n>", identificationReplies(0x53, kAtmega644P, 0xE7, 0xD9, 0xFF));
  auto link = start();
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(session.link, link.get());
  EXPECT_TRUE(session.target.targetReleased);
  EXPECT_EQ(console.output(), kSignOnHeading + "Korvo V1.3\r\n>" + "\n\n" +
                                  "Target ATmega644P responding - default fuses set\n");
  EXPECT_EQ(hexBytes(korvo.stopPlaying()), kIdentificationWire);
}

TEST_F(KorvoStartupTest, ReportShowsFusesThatDifferFromTheDefaults) {
  korvoOnChannel(1);
  korvo.play(">", identificationReplies(0x53, kAtmega644P, 0x62, 0xD9, 0xFF));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(console.output(), kSignOnHeading + ">\n\n" +
                                  "Target ATmega644P responding - default fuses not set\n"
                                  "   Default fuses: ff d9 e7    Target fuses: ff d9 62\n");
}

TEST_F(KorvoStartupTest, TwoFusePartReportsHighAndLow) {
  korvoOnChannel(1);
  session.settings.outputMode = 'q';
  korvo.play("quiet sign-on>", identificationReplies(0x53, kAtmega32, 0xE1, 0x99, 0xFF));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(console.output(), kSignOnHeading + "\n\n" +
                                  "Target ATmega32 responding - default fuses not set\n"
                                  "   Default fuses: d9 e4    Target fuses: 99 e1\n");
}

TEST_F(KorvoStartupTest, UnknownPartShowsItsFusesWithoutARowToCompare) {
  korvoOnChannel(1);
  korvo.play(">", identificationReplies(0x53, kUnknownPart, 0x62, 0xD9, 0xFF));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(session.target.processorIndex, -1);
  EXPECT_EQ(console.output(), kSignOnHeading + ">\n\n" +
                                  "Target Processor Unrecognized but responding "
                                  "- default fuses unknown\n"
                                  "   Target fuses: ff d9 62\n");
}

TEST_F(KorvoStartupTest, SilentTargetIsReportedAndTheRunGoesOn) {
  korvoOnChannel(1);
  korvo.play(">", identificationReplies(0xFF, "\xff\xff\xff", 0xFF, 0xFF, 0xFF));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(console.output(),
            kSignOnHeading + ">\n\nTarget not responding to Enable Serial Programming command\n");
  EXPECT_EQ(hexBytes(korvo.stopPlaying()), kIdentificationWire);
}

TEST_F(KorvoStartupTest, ChosenChannelConnectsWithoutWaitingForASignOn) {
  korvoOnChannel(8);
  console.addInput("x\nE\n9\n");
  // No sign-on: the Korvo was plugged in long ago.
  korvo.play("", identificationReplies(0x53, kAtmega644P, 0xE7, 0xD9, 0xFF));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(session.settings.comChannel, 8);
  EXPECT_EQ(console.output(), portMissing(1) + kPrompt + "Unrecognized com channel: comx\n" +
                                  portMissing(0) + kPrompt + "Unrecognized com channel: comE\n" +
                                  portMissing(0) + kPrompt + kHints + "Connected to Korvo\n" +
                                  "\n\n" + "Target ATmega644P responding - default fuses set\n");
}

TEST_F(KorvoStartupTest, GivingUpAtThePromptMeansNotInstalled) {
  console.addInput("e");
  EXPECT_EQ(start(), nullptr);
  EXPECT_EQ(session.link, nullptr);
  const std::string givenUp = portMissing(1) + kPrompt + kHints + kSignOnHeading;
  EXPECT_EQ(console.output(), givenUp);

  // The end of standard input gives up the same way.
  console.clearOutput();
  EXPECT_EQ(start(), nullptr);
  EXPECT_EQ(console.output(), givenUp);
}

TEST_F(KorvoStartupTest, NoSignOnOnTheDefaultPortMeansNotInstalled) {
  korvoOnChannel(1);
  korvo.play("Korv", "");  // then silence, longer than the sign-on allows
  EXPECT_EQ(start(), nullptr);
  EXPECT_EQ(session.link, nullptr);
  EXPECT_EQ(console.output(), kSignOnHeading + "Korv");
  EXPECT_EQ(korvo.stopPlaying(), "");  // the target was never addressed
}

// With two USB serial devices and no port named, the user picks one at a
// terminal; a pick of none ends the run. (Away from a terminal: e2e.)
TEST_F(KorvoStartupTest, SeveralUsbDevicesAreListedAndOneIsPickedAtATerminal) {
  struct TerminalConsole : ScriptedConsole {
    using ScriptedConsole::ScriptedConsole;
    bool isTerminal() const override { return true; }
  };
  writeFile(dir.file("ttyACM0"), "");
  writeFile(dir.file("ttyUSB0"), "");
  for (const auto& [typed, port] : std::vector<std::pair<std::string, std::string>>{
           {"2\n", dir.file("ttyACM0")}, {" /dev/ttyUSB7\n", "/dev/ttyUSB7"}, {"3\n", ""}}) {
    TerminalConsole terminal(typed);
    Session run(tarnwickProfile(), terminal);
    EXPECT_EQ(chooseSerialDevice(run), !port.empty());
    EXPECT_EQ(run.settings.portOption, port);
    EXPECT_EQ(terminal.output().rfind("Several USB serial devices and no port named:\n  1: " +
                                          dir.file("ttyUSB0") + "\n  2: " + dir.file("ttyACM0") +
                                          "\nNumber of a device above, a device path, or e: ",
                                      0),
              0u);
  }
}

}  // namespace
