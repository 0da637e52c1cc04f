// The configuration files of both programs, read from the current directory.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "frontend/configuration.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/run_settings.h"
#include "run/session.h"
#include "tests/support/temp_dir.h"

namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.enter(); }

  // Reads `contents` as the program's configuration the way start-up does.
  RunSettings readKorvo(const std::string& contents) {
    writeFile("sfconfig.txt", contents);
    RunSettings settings;
    readConfiguration(tarnwickProfile(), settings, console_);
    return settings;
  }
  RunSettings readMarlow(const std::string& contents) {
    writeFile("pelloryconfig.txt", contents);
    RunSettings settings;
    readConfiguration(pelloryProfile(), settings, console_);
    return settings;
  }

  TempDir dir_;
  ScriptedConsole console_;
};

TEST_F(ConfigurationTest, NoFileKeepsTheDefaultsSilently) {
  RunSettings settings;
  EXPECT_EQ(readConfiguration(tarnwickProfile(), settings, console_), -1);
  EXPECT_EQ(settings.comChannel, 1);
  EXPECT_EQ(settings.baudCode, 9);
  EXPECT_EQ(console_.output(), "");
}

// A FIFO would block the start for ever and /dev/zero would be read without
// end: only a regular file is read, anything else is named and passed over
// like a missing file, for the next place to be tried.
TEST_F(ConfigurationTest, AConfigurationThatIsNoRegularFileIsPassedOver) {
  ASSERT_EQ(::mkfifo("sfconfig.txt", 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", "pelloryconfig.txt"), 0);
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    console_.clearOutput();
    RunSettings settings;
    EXPECT_EQ(readConfiguration(*profile, settings, console_), -1);
    EXPECT_EQ(console_.output(),
              "./" + std::string(profile->configFileName) + " is not a regular file - ignored\n");
  }
}

TEST_F(ConfigurationTest, KeysInAnyCaseAndOrder) {
  RunSettings settings = readKorvo("COMCHANNEL COM3\nBAUDRATE 19200\n");
  EXPECT_EQ(settings.comChannel, 2);
  EXPECT_EQ(settings.baudCode, 6);
  EXPECT_EQ(console_.output(), "");
}

TEST_F(ConfigurationTest, LastKeyWinsAndOtherWordsAreIgnored) {
  RunSettings settings = readKorvo("note comchannel com4 x comchannel com4\ncomchannel com5");
  EXPECT_EQ(settings.comChannel, 4);
}

TEST_F(ConfigurationTest, BaudTextsAreMatchedLetterForLetter) {
  EXPECT_EQ(readKorvo("baudrate 57200").baudCode, 8);
  EXPECT_EQ(console_.output(), "");
  EXPECT_EQ(readKorvo("baudrate 57601").baudCode, 7);
  EXPECT_EQ(console_.output(), "Unrecognized baud rate\n");
}

TEST_F(ConfigurationTest, TheRatesAUserWouldTypeAreAccepted) {
  EXPECT_EQ(readKorvo("baudrate 57600").baudCode, 8);
  EXPECT_EQ(readKorvo("baudrate 115200").baudCode, 9);
  EXPECT_EQ(readKorvo("baudrate 38400").baudCode, 7);
  EXPECT_EQ(readKorvo("baudrate 19200").baudCode, 6);
  EXPECT_EQ(readKorvo("baudrate 9600").baudCode, 5);
  EXPECT_EQ(console_.output(), "");
}

// What standard error received while `read` ran.
template <typename Read>
std::string errorsOf(Read read) {
  ::testing::internal::CaptureStderr();
  read();
  return ::testing::internal::GetCapturedStderr();
}

TEST_F(ConfigurationTest, AMisspeltKeyIsToldWithItsFileAndLineAndTheRunGoesOn) {
  RunSettings settings;
  std::string errors = errorsOf([&] {
    settings =
        readKorvo("# my Korvo\ncomchannel com3\n\nbaudrat 4800\r\nbaudrate 9600 trailing words\n");
  });
  EXPECT_EQ(errors, "sfconfig.txt:4: unknown key \"baudrat\" ignored\n");
  EXPECT_EQ(settings.comChannel, 2);
  EXPECT_EQ(settings.baudCode, 5);
  EXPECT_EQ(console_.output(), "");

  EXPECT_EQ(errorsOf([&] { readMarlow("LPTPORT 278\nlptport 3bc\n"); }),
            "pelloryconfig.txt:1: unknown key \"LPTPORT\" ignored\n");
}

TEST_F(ConfigurationTest, UnknownKeysAreToldOnceThoughTheFileIsReadAfterEveryTransfer) {
  Session session(tarnwickProfile(), console_);
  writeFile("sfconfig.txt", "comchanel com4\n");
  EXPECT_EQ(errorsOf([&] { restoreDefaultSettings(session); }),
            "sfconfig.txt:1: unknown key \"comchanel\" ignored\n");
  EXPECT_EQ(errorsOf([&] { restoreDefaultSettings(session); }), "");
}

TEST_F(ConfigurationTest, UnknownChannelFallsBackToCom1) {
  EXPECT_EQ(readKorvo("comchannel com12").comChannel, 0);
  EXPECT_EQ(console_.output(), "Unrecognized com channel: com12\n");
}

TEST_F(ConfigurationTest, ChannelMayNameADevicePath) {
  RunSettings settings = readKorvo("comchannel /dev/ttyACM0\r\n");
  EXPECT_EQ(settings.comDevicePath, "/dev/ttyACM0");
  EXPECT_EQ(settings.comChannel, 1);
}

TEST_F(ConfigurationTest, CrLfEndsAndAMissingFinalLineEndReadTheSame) {
  RunSettings a = readKorvo("comchannel com3\r\nbaudrate 9600\r\n");
  RunSettings b = readKorvo("comchannel com3\nbaudrate 9600");
  EXPECT_EQ(a.comChannel, 2);
  EXPECT_EQ(a.baudCode, 5);
  EXPECT_EQ(b.comChannel, 2);
  EXPECT_EQ(b.baudCode, 5);
}

TEST_F(ConfigurationTest, OverlongTokensAreSkippedAndOverlongValuesAreUnrecognised) {
  std::string huge(5000, 'x');
  RunSettings settings = readKorvo(huge + " comchannel com3 baudrate " + huge + "\n");
  EXPECT_EQ(settings.comChannel, 2);
  EXPECT_EQ(settings.baudCode, 7);
  EXPECT_EQ(console_.output(), "Unrecognized baud rate\n");
  console_.clearOutput();
  settings = readKorvo("comchannel " + std::string(100, 'c'));
  EXPECT_EQ(settings.comChannel, 0);
  EXPECT_EQ(console_.output(), "Unrecognized com channel: " + std::string(99, 'c') + "\n");
}

TEST_F(ConfigurationTest, BinaryJunkDoesNoHarm) {
  static const char kJunk[] = "\x01\xff\x00\x7f comchannel\tcom3 \x00\xfe baudrate\v4800";
  RunSettings settings = readKorvo(std::string(kJunk, sizeof kJunk - 1));
  EXPECT_EQ(settings.comChannel, 2);
  EXPECT_EQ(settings.baudCode, 4);
  // A NUL inside a value is part of it, not an end.
  static const char kEmbedded[] = "comchannel com3\x00x";
  EXPECT_EQ(readKorvo(std::string(kEmbedded, sizeof kEmbedded - 1)).comChannel, 0);
}

TEST_F(ConfigurationTest, KeyAtTheEndOfTheFileChangesNothing) {
  RunSettings settings = readKorvo("baudrate 4800 comchannel");
  EXPECT_EQ(settings.baudCode, 4);
  EXPECT_EQ(settings.comChannel, 1);
}

TEST_F(ConfigurationTest, LptPortMovesAllThreeRegisters) {
  for (const char* text : {"lptport 278", "lptport 0x278\r\n", "# moved\nlptport\n278"}) {
    SCOPED_TRACE(text);
    RunSettings settings = readMarlow(text);
    EXPECT_EQ(settings.lptDataPort, 0x278);
    EXPECT_EQ(settings.lptStatusPort, 0x279);
    EXPECT_EQ(settings.lptControlPort, 0x27A);
  }
  EXPECT_EQ(console_.output(), "");
  // The top of the range: the control register is the last address.
  RunSettings top = readMarlow("lptport fffd");
  EXPECT_EQ(top.lptControlPort, 0xFFFF);
  EXPECT_EQ(console_.output(), "");
}

TEST_F(ConfigurationTest, LptPortKeyIsCaseSensitive) {
  RunSettings settings = readMarlow("LPTPORT 278");
  EXPECT_EQ(settings.lptDataPort, 0x378);
  EXPECT_EQ(console_.output(), "");
}

TEST_F(ConfigurationTest, LptPortWithoutANumberKeepsTheAddresses) {
  RunSettings settings = readMarlow("lptport zz");
  EXPECT_EQ(settings.lptDataPort, 0x378);
  EXPECT_EQ(settings.lptStatusPort, 0x379);
  EXPECT_EQ(console_.output(), "Unrecognized lptport value: zz\n");
  console_.clearOutput();
  settings = readMarlow("lptport");
  EXPECT_EQ(settings.lptDataPort, 0x378);
  EXPECT_EQ(console_.output(), "Unrecognized lptport value\n");
  console_.clearOutput();
  // Beyond it, or the control register would wrap round to 0.
  for (const char* value : {"12345", "fffe", "FFFF"}) {
    console_.clearOutput();
    settings = readMarlow(std::string("lptport ") + value);
    EXPECT_EQ(settings.lptDataPort, 0x378);
    EXPECT_EQ(settings.lptControlPort, 0x37A);
    EXPECT_EQ(console_.output(), std::string("Unrecognized lptport value: ") + value + "\n");
  }
}

TEST_F(ConfigurationTest, ResetPutsTarnwickDefaultsBackBeforeReadingTheFileAgain) {
  Session session(tarnwickProfile(), console_);
  writeFile("sfconfig.txt", "comchannel com4");
  session.settings.comChannel = 7;
  session.settings.baudCode = 3;
  session.settings.verifyMode = 'n';
  session.settings.fillChar = 0x00;
  session.settings.downloadFileName = "prog.hex";
  session.settings.hexRecordType = 2;
  session.settings.lockArmCount = 1;
  restoreDefaultSettings(session);
  EXPECT_EQ(session.settings.comChannel, 3);
  EXPECT_EQ(session.settings.baudCode, 9);
  EXPECT_EQ(session.settings.verifyMode, 'v');
  EXPECT_EQ(session.settings.fillChar, 0xFF);
  EXPECT_EQ(session.settings.downloadFileName, "");
  // Outside the reset.
  EXPECT_EQ(session.settings.hexRecordType, 2);
  EXPECT_EQ(session.settings.lockArmCount, 1);
}

TEST_F(ConfigurationTest, ResetLeavesPelloryPortAddressesAlone) {
  Session session(pelloryProfile(), console_);
  session.settings.lptDataPort = 0x3BC;
  restoreDefaultSettings(session);
  EXPECT_EQ(session.settings.lptDataPort, 0x3BC);
}

TEST(ChannelTables, DigitsAndNames) {
  ScriptedConsole console;
  EXPECT_EQ(comChannelFromDigit('1', console), 0);
  EXPECT_EQ(comChannelFromDigit('9', console), 8);
  EXPECT_EQ(console.output(), "");
  EXPECT_EQ(comChannelFromDigit('x', console), 0);
  EXPECT_EQ(comChannelFromDigit('E', console), 0);
  EXPECT_EQ(console.output(), "Unrecognized com channel: comx\nUnrecognized com channel: comE\n");
  console.clearOutput();
  EXPECT_EQ(comChannelFromName("CoM11", console), 10);
  EXPECT_EQ(comChannelFromName("com1", console), 0);
  EXPECT_EQ(comChannelFromName("com01", console), 0);
  EXPECT_EQ(console.output(), "Unrecognized com channel: com01\n");
}

TEST(BaudTable, RatesPrintedForEveryCode) {
  const int expected[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57200, 115200};
  for (int code = 0; code < 10; ++code) EXPECT_EQ(baudRateFromCode(code), expected[code]);
}

}  // namespace
