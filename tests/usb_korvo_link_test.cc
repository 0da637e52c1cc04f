// The Korvo link against a scripted Korvo on a pseudo-terminal: the bytes of
// every frame and command, how replies are read, and how a silent or vanished
// programmer ends the wait.

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "engine/isp_instructions.h"
#include "engine/programming_mode.h"
#include "frontend/profile.h"
#include "link_usb/device_names.h"
#include "link_usb/korvo_link.h"
#include "run/console.h"
#include "run/session.h"
#include "sim/avr_target.h"
#include "tests/support/pty_korvo.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

const char kPortError[] =
    "\nERROR: Com port id maybe wrong or in use by another application\n"
    "       Select another com port or clear conflict - : %d\n\n";

std::string portErrorFor(int error) {
  char text[256];
  std::snprintf(text, sizeof text, kPortError, error);
  return text;
}

// The port error comes first; the lines after it name the device and reason.
bool startsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

// Short limits so the silent-Korvo cases finish quickly.
constexpr KorvoTimings kTestTimings{300, 150};

class KorvoLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLoopsPerMicrosecond(1);
    session.settings.comDevicePath = korvo.devicePath();
    ASSERT_EQ(link.openProgrammerPort(), 1) << console.output();
  }

  std::string lostMessage(void (*action)(KorvoLink&)) {
    try {
      action(link);
    } catch (const LinkLostError& lost) {
      return lost.what();
    }
    return "(no error)";
  }

  PtyKorvo korvo;
  ScriptedConsole console;
  Session session{tarnwickProfile(), console};
  KorvoLink link{session, kTestTimings};
};

TEST_F(KorvoLinkTest, InstructionsTravelAsFramesOfOneWriteEach) {
  korvo.reply(std::string("\x1e\x96\x0a\x53", 4));
  const uint8_t expected[3] = {0x1e, 0x96, 0x0a};
  for (uint8_t n = 0; n < 3; ++n) {
    size_t writesBefore = link.portWriteCalls();
    EXPECT_EQ(link.queryInstruction(IspInstruction{{0x30, 0x00, n, 0x00}}), expected[n]);
    EXPECT_EQ(link.portWriteCalls() - writesBefore, 1u);
  }
  EXPECT_EQ(hexBytes(korvo.wire(15)), "34 30 00 00 00 34 30 00 01 00 34 30 00 02 00");

  size_t writesBefore = link.portWriteCalls();
  link.sendInstruction(IspInstruction{{0xAC, 0x80, 0x00, 0x00}});
  EXPECT_EQ(link.enableProgramming(), 0x53);
  EXPECT_EQ(link.portWriteCalls() - writesBefore, 2u);
  EXPECT_EQ(hexBytes(korvo.wire(10)), "77 ac 80 00 00 33 ac 53 00 00");
}

TEST_F(KorvoLinkTest, RunsOfQueriesKeepAWindowInFlightThatSlidesAsAnswersArrive) {
  // Reading memory back: 200 queries, with a known-answer check after every
  // 56 and one at the end, against a Korvo that answers only when the test
  // lets it. The first 160 frames go out before any answer, then one more
  // frame for each answer; every frame still gets exactly one byte.
  constexpr size_t kCount = 200;
  IspInstruction reads[kCount];
  std::string answers;
  std::string expectedWire;
  const std::string check("\x34\x30\x00\x00\x00", 5);
  for (size_t k = 0; k < kCount; ++k) {
    const uint8_t low = static_cast<uint8_t>(k);
    reads[k] = IspInstruction{{0xA0, 0x00, low, 0x00}};
    // 0x80 ^ low keeps every answer distinct from its neighbours.
    answers.push_back(static_cast<char>(0x80 ^ low));
    expectedWire += std::string("\x34\xa0\x00", 3) + static_cast<char>(low) + std::string(1, '\0');
    if (k % 56 == 55 || k == kCount - 1) {
      answers.push_back('\x1e');
      expectedWire += check;
    }
  }
  uint8_t results[kCount] = {};
  std::thread reader([&] { link.queryInstructions(reads, kCount, results); });
  std::string wire = korvo.wire(160 * 5);
  EXPECT_EQ(wire.size(), 800u);
  EXPECT_EQ(korvo.wire(1, 50), "");  // the window is full until an answer comes
  korvo.reply(answers.substr(0, 1));
  wire += korvo.wire(5);
  EXPECT_EQ(korvo.wire(1, 50), "");
  korvo.reply(answers.substr(1, 10));
  wire += korvo.wire(50);
  EXPECT_EQ(korvo.wire(1, 50), "");
  korvo.reply(answers.substr(11));
  reader.join();
  wire += korvo.wire(expectedWire.size() - wire.size());
  EXPECT_EQ(hexBytes(wire), hexBytes(expectedWire));
  for (size_t k = 0; k < kCount; ++k) EXPECT_EQ(results[k], 0x80 ^ k) << k;
}

TEST_F(KorvoLinkTest, SplitWaitSendsTheBusyCommandAndReadsItsOutcomeLater) {
  // A page write's wait goes out at once; the next page's loads follow it
  // before its replies are read, and the outcome is still the replies' own.
  EXPECT_TRUE(link.sendWaitReady());
  link.sendInstruction(IspInstruction{{0x40, 0x00, 0x00, 0x12}});
  EXPECT_EQ(hexBytes(korvo.wire(6)), "62 77 40 00 00 12");
  korvo.reply("..0");
  EXPECT_EQ(link.collectWaitReady(), 0);
  EXPECT_TRUE(link.sendWaitReady());
  korvo.reply(".1M");
  EXPECT_EQ(link.collectWaitReady(), -1);
  EXPECT_EQ(link.programmerReadByte(), 'M');
  EXPECT_EQ(korvo.wire(1), "b");

  // A target that stays busy must not overflow the Korvo's receive queue:
  // after 180 frames behind the busy command the link waits for the outcome.
  EXPECT_TRUE(link.sendWaitReady());
  int outcome = 1;
  std::thread loader([&] {
    for (int k = 0; k < 200; ++k) link.sendInstruction(IspInstruction{{0x40, 0x00, 0x00, 0x34}});
    outcome = link.collectWaitReady();
  });
  EXPECT_EQ(korvo.wire(1 + 180 * 5).size(), 901u);
  EXPECT_EQ(korvo.wire(1, 50), "");
  korvo.reply("...1");
  EXPECT_EQ(korvo.wire(20 * 5).size(), 100u);
  loader.join();
  EXPECT_EQ(outcome, -1);

  // The fast download never reads busy replies: it cannot split its waits.
  session.settings.noBusyWait = true;
  EXPECT_FALSE(link.sendWaitReady());
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(korvo.wire(1), "b");
}

TEST_F(KorvoLinkTest, ProgrammingModeSequenceDropsChatterBeforeTheAcceptance) {
  session.settings.outputMode = 'v';
  korvo.reply("stale bytes\r\np2 ok a");
  link.enterProgrammingMode();
  EXPECT_EQ(korvo.wire(9), "p2\rrlrhrl");
  EXPECT_EQ(console.output(), "");  // the chatter is not shown, even in verbose mode

  link.leaveProgrammingMode();
  EXPECT_EQ(korvo.wire(3), "rhe");

  korvo.reply("a");
  link.enterProgrammingMode('1');
  EXPECT_EQ(korvo.wire(9), "p1\rrlrhrl");

  link.pulseReset(100);
  EXPECT_EQ(korvo.wire(4), "rhrl");
  size_t writesBefore = link.portWriteCalls();
  link.programmerSendText("");
  EXPECT_EQ(link.portWriteCalls(), writesBefore);
}

TEST_F(KorvoLinkTest, WaitReadyFollowsTheBusyReplies) {
  // Two "still busy" replies, then ready; the byte after it is left alone.
  korvo.reply("xy0M");
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(link.programmerReadByte(), 'M');

  korvo.reply("1M");
  EXPECT_EQ(link.waitReady(), -1);
  EXPECT_EQ(link.programmerReadByte(), 'M');
  EXPECT_EQ(korvo.wire(2), "bb");

  // The fast download sends the busy command and reads nothing back.
  session.settings.noBusyWait = true;
  korvo.reply("M");
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(korvo.wire(1), "b");
  EXPECT_EQ(link.programmerReadByte(), 'M');
}

TEST_F(KorvoLinkTest, FastDownloadRepliesAreNotTakenForTheNextAnswer) {
  // Two page writes of a fast download, then the verification's first read:
  // the busy streams still owed come first and must not be read as data.
  session.settings.noBusyWait = true;
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(link.waitReady(), 0);
  session.settings.noBusyWait = false;
  korvo.reply(std::string("...0.1\x42", 7));
  EXPECT_EQ(link.queryInstruction(IspInstruction{{0x20, 0x00, 0x00, 0x00}}), 0x42);
  EXPECT_EQ(hexBytes(korvo.wire(7)), "62 62 34 20 00 00 00");

  // Owed streams are settled before a later busy wait reads its own answer.
  session.settings.noBusyWait = true;
  link.waitReady();
  session.settings.noBusyWait = false;
  korvo.reply("..0.0");
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(korvo.wire(2), "bb");
}

TEST_F(KorvoLinkTest, WaitReadyGivesUpAfterTheBusyLimit) {
  // 5001 busy replies are tolerated; ready after them still counts.
  std::string tolerated(5001, '.');
  std::thread feed([&] { korvo.reply(tolerated + "0M"); });
  EXPECT_EQ(link.waitReady(), 0);
  feed.join();
  EXPECT_EQ(link.programmerReadByte(), 'M');

  // The reply after those 5001 ends the wait, and nothing beyond it is read.
  std::thread feedMore([&] { korvo.reply(tolerated + ".M"); });
  EXPECT_EQ(link.waitReady(), -1);
  feedMore.join();
  EXPECT_EQ(link.programmerReadByte(), 'M');
}

TEST_F(KorvoLinkTest, SilentKorvoEndsTheWaitWithNoReply) {
  const std::string noReply = "\nError - no reply from Korvo\n";
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.programmerReadByte(); }), noReply);
  EXPECT_EQ(lostMessage([](KorvoLink& l) {
              l.queryInstruction(IspInstruction{{0x30, 0x00, 0x00, 0x00}});
            }),
            noReply);
  // The wait for the mode acceptance "a" is bounded too.
  korvo.reply("p2 but no reply of its own");
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.enterProgrammingMode(); }), noReply);
  // A busy stream that simply stops.
  korvo.reply("...");
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.waitReady(); }), noReply);
}

TEST_F(KorvoLinkTest, HungUpKorvoEndsTheRunAsConnectionLost) {
  const std::string lost = "\nError - connection to Korvo lost\n";
  korvo.hangUp();
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.programmerReadByte(); }), lost);
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.waitReady(); }), lost);
  EXPECT_EQ(lostMessage([](KorvoLink& l) { l.checkSignOn(); }), lost);
}

TEST_F(KorvoLinkTest, SignOnIsShownUpToThePromptUnlessQuiet) {
  korvo.reply("Korvo V2.1\r\n>rest");
  EXPECT_TRUE(link.checkSignOn());
  EXPECT_EQ(console.output(), "Korvo V2.1\r\n>");
  EXPECT_EQ(link.programmerReadByte(), 'r');

  console.clearOutput();
  session.settings.outputMode = 'q';
  korvo.reply("Korvo V2.1\r\n>");
  EXPECT_TRUE(link.checkSignOn());
  EXPECT_EQ(console.output(), "");

  // After the channel prompt nothing is awaited and nothing is read.
  link.setAwaitSignOn(false);
  korvo.reply("K");
  EXPECT_FALSE(link.checkSignOn());
  EXPECT_EQ(link.programmerReadByte(), 'K');
}

TEST_F(KorvoLinkTest, SignOnGapMarksTheLogOnlyWhileLogging) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  session.logStream = log;

  korvo.reply("Korvo");
  EXPECT_EQ(link.waitForPrompt('>'), -1);
  EXPECT_EQ(console.output(), "Korvo");

  session.settings.logEnabled = true;
  EXPECT_EQ(link.waitForPrompt('>'), -1);

  std::rewind(log);
  char logged[64] = {};
  size_t got = std::fread(logged, 1, sizeof logged - 1, log);
  EXPECT_EQ(std::string(logged, got), "break lockup");
}

// --- A device that never stops talking ---------------------------------------

TEST_F(KorvoLinkTest, WaitsForTheModeAndForOwedBusyRepliesEndWhileTheDeviceTalks) {
  // The wait ends while the device is still talking. Which of the two reply
  // messages it gives depends on whether the talk had a lull near the end.
  auto endsTheRun = [](const std::string& message) {
    return message == "\nError - no valid reply from Korvo\n" ||
           message == "\nError - no reply from Korvo\n";
  };
  // Bytes that are never the awaited "a" do not keep the wait for it alive.
  korvo.sendForever("Korvo? ");
  std::string mode = lostMessage([](KorvoLink& k) { k.enterProgrammingMode('2'); });
  EXPECT_TRUE(endsTheRun(mode)) << mode;
  EXPECT_TRUE(korvo.stopSending());

  // A busy reply owed by the fast download whose stream never ends.
  session.settings.noBusyWait = true;
  EXPECT_EQ(link.waitReady(), 0);
  session.settings.noBusyWait = false;
  korvo.sendForever(".");
  std::string owed = lostMessage([](KorvoLink& k) {
    k.queryInstruction(IspInstruction{{0x30, 0, 0, 0}});
  });
  EXPECT_TRUE(endsTheRun(owed)) << owed;
  EXPECT_TRUE(korvo.stopSending());
}

TEST(KorvoEndlessSignOn, EndsAtItsLengthOrItsTimeWhicheverComesFirst) {
  setLoopsPerMicrosecond(1);
  const std::string kMessage =
      "\nError - the device on the port keeps sending without a Korvo sign-on\n";
  for (bool byLength : {true, false}) {
    SCOPED_TRACE(byLength ? "length" : "time");
    PtyKorvo korvo;
    ScriptedConsole console;
    Session session(tarnwickProfile(), console);
    session.settings.comDevicePath = korvo.devicePath();
    session.settings.outputMode = 'q';
    KorvoTimings timings = kTestTimings;
    if (byLength) {
      timings.signOnLimitMs = 600000;
    } else {
      timings.signOnTextLimit = static_cast<size_t>(-1);
      timings.signOnLimitMs = 300;
    }
    KorvoLink link(session, timings);
    ASSERT_EQ(link.openProgrammerPort(), 1) << console.output();
    korvo.sendForever("Korvo USB ISP ");
    EXPECT_FALSE(link.checkSignOn());
    EXPECT_TRUE(korvo.stopSending());
    EXPECT_EQ(console.output(), kMessage);
  }
}

TEST_F(KorvoLinkTest, PortIsHeldForExclusiveUse) {
  KorvoLink second(session, kTestTimings);
  EXPECT_EQ(second.openProgrammerPort(), -1);
  EXPECT_TRUE(startsWith(console.output(), portErrorFor(EBUSY))) << console.output();
  // The holder is this very process.
  EXPECT_NE(console.output().find(korvo.devicePath() + ": Device or resource busy\n" +
                                  "  It is held by " + std::to_string(getpid()) + " ("),
            std::string::npos)
      << console.output();
  EXPECT_FALSE(second.isOpen());

  // The exit command frees the port for others.
  session.link = &link;
  closeProgrammerPort(session);
  EXPECT_FALSE(link.isOpen());
  EXPECT_EQ(second.openProgrammerPort(), 1);
  session.link = nullptr;
  closeProgrammerPort(session);  // no link: nothing to do
}

TEST_F(KorvoLinkTest, LineIsRawEightBitsNoParityOneStopBit) {
  struct termios line;
  ASSERT_EQ(tcgetattr(korvo.portSide(), &line), 0);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));

  // Code 8 is printed as 57200 but opens the standard 57600.
  link.closePort();
  session.settings.baudCode = 8;
  ASSERT_EQ(link.openProgrammerPort(), 1);
  ASSERT_EQ(tcgetattr(korvo.portSide(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B57600));
}

TEST_F(KorvoLinkTest, TheOpenedPortStaysPutWhenSettingsChange) {
  std::string opened = link.devicePath();
  session.settings.comDevicePath.clear();
  session.settings.comChannel = 5;
  korvo.reply("0");
  EXPECT_EQ(link.waitReady(), 0);
  EXPECT_EQ(link.devicePath(), opened);
  EXPECT_EQ(korvo.wire(1), "b");
}

TEST(KorvoPortOpen, FailuresReportTheSystemError) {
  ScriptedConsole console;
  Session session(tarnwickProfile(), console);
  KorvoLink link(session, kTestTimings);

  session.settings.comDevicePath = "/nonexistent/ttyKorvo";
  EXPECT_EQ(link.openProgrammerPort(), -1);
  EXPECT_TRUE(
      startsWith(console.output(),
                 portErrorFor(ENOENT) + "/nonexistent/ttyKorvo: No such file or directory\n"))
      << console.output();
  EXPECT_FALSE(link.isOpen());

  // A baud code outside the table is refused rather than guessed.
  PtyKorvo korvo;
  console.clearOutput();
  session.settings.comDevicePath = korvo.devicePath();
  session.settings.baudCode = 10;
  EXPECT_EQ(link.openProgrammerPort(), -1);
  EXPECT_TRUE(startsWith(console.output(),
                         portErrorFor(EINVAL) + korvo.devicePath() + ": Invalid argument\n"))
      << console.output();
}

TEST(KorvoDeviceNames, ChannelIndexPrefixAndConfiguredPath) {
  RunSettings settings;
  settings.comChannel = 0;
  EXPECT_EQ(programmerDevicePath(settings, nullptr), "/dev/ttyS0");
  EXPECT_EQ(programmerDevicePath(settings, ""), "/dev/ttyS0");
  settings.comChannel = 10;
  EXPECT_EQ(programmerDevicePath(settings, "/dev/ttyUSB"), "/dev/ttyUSB10");
  settings.comDevicePath = "/dev/serial/by-id/korvo";
  EXPECT_EQ(programmerDevicePath(settings, "/dev/ttyUSB"), "/dev/serial/by-id/korvo");
}

}  // namespace

namespace {

// Memory read back through korvo-sim answering every reply 3 ms late, as a
// USB round trip does: the window hands back exactly what one query at a time
// reads, byte for byte and in order, and what the chip holds.
TEST(KorvoQueryWindow, ReadsTheSameBytesAsSingleQueriesFromAKorvoThatAnswersLate) {
  TempDir dir;
  SimClock chipClock;
  AvrTarget chip(*findSimPart("ATmega644P"), chipClock);
  for (size_t i = 0; i < chip.eeprom().size(); ++i) {
    chip.eeprom()[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  }
  for (size_t i = 0; i < 4096; ++i) chip.flash()[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  ASSERT_TRUE(chip.saveState(dir.file("chip.state")));
  KorvoSimProcess korvo;
  ASSERT_TRUE(korvo.start(dir.file("ttyKorvo1"), {"--time-scale", "0.001", "--latency-us", "3000",
                                                  "--state", dir.file("chip.state")}))
      << korvo.error();

  ScriptedConsole console;
  Session session(tarnwickProfile(), console);
  session.settings.comDevicePath = dir.file("ttyKorvo1");
  KorvoLink link(session);
  ASSERT_EQ(link.openProgrammerPort(), 1) << console.output();
  ASSERT_TRUE(link.checkSignOn());
  session.link = &link;
  enterProgrammingMode(session);
  ASSERT_EQ(link.enableProgramming(), 0x53);

  constexpr size_t kBytes = 200;
  uint8_t single[kBytes];
  for (size_t i = 0; i < kBytes; ++i) {
    single[i] = ispReadEepromByte(link, static_cast<uint16_t>(1000 + i));
  }
  uint8_t windowed[kBytes];
  ispReadEepromBytes(link, 1000, kBytes, windowed);
  uint8_t flash[kIspReadRunBytes];
  ispLoadExtendedAddress(link, 0);
  ispReadFlashBytes(link, 1001, kIspReadRunBytes, flash);
  leaveProgrammingMode(session);
  link.closePort();
  korvo.stop();

  for (size_t i = 0; i < kBytes; ++i) {
    EXPECT_EQ(windowed[i], single[i]) << "EEPROM byte " << 1000 + i;
    EXPECT_EQ(single[i], chip.eeprom()[1000 + i]) << "EEPROM byte " << 1000 + i;
  }
  for (size_t i = 0; i < kIspReadRunBytes; ++i) {
    ASSERT_EQ(flash[i], chip.flash()[1001 + i]) << "flash byte " << 1001 + i;
  }
}

}  // namespace
