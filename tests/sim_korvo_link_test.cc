// What korvo-sim makes of its command line and of the host's serial line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/korvo_link_pacing.h"
#include "sim/korvo_sim_options.h"
#include "sim/line_settings.h"

namespace {

bool parse(const std::vector<std::string>& args, KorvoSimOptions* options, std::string* error) {
  return parseKorvoSimOptions(args, options, error);
}

TEST(KorvoSimOptions, FullCommandLineIsTaken) {
  KorvoSimOptions options;
  std::string error;
  ASSERT_TRUE(parse({"--link", "/tmp/k", "--part", "atmega2560", "--time-scale", "0.001",
                     "--hangup-after-frames", "7", "--latency-us", "250", "--no-signon",
                     "--signon-gap-ms", "500", "--busy-forever", "--baud-pacing"},
                    &options, &error))
      << error;
  EXPECT_EQ(options.part, "ATmega2560");  // the table's spelling
  EXPECT_DOUBLE_EQ(options.timeScale, 0.001);
  EXPECT_EQ(options.hangupAfterFrames, 7u);
  EXPECT_EQ(options.latencyMicros, 250);
  EXPECT_EQ(options.signOnGapMillis, 500);
  EXPECT_FALSE(options.signOn);
  EXPECT_TRUE(options.busyForever && options.baudPacing);
}

TEST(KorvoSimOptions, BadArgumentsGiveOneLineReasons) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "--link PATH is required"},
      {{"--link"}, "option --link needs a value"},
      {{"--link", "k", "--part", "ATtiny13B"}, "unknown part 'ATtiny13B'"},
      {{"--link", "k", "--time-scale", "0"},
       "option --time-scale: '0' is not a number above 0 "
       "and up to 1000"},
      {{"--link", "k", "--time-scale", "nan"},
       "option --time-scale: 'nan' is not a number above 0 "
       "and up to 1000"},
      {{"--link", "k", "--latency-us", "-1"},
       "option --latency-us: '-1' is not a whole number from 0 to 3600000000"},
      {{"--link", "k", "--hangup-after-frames", "99999999999"},
       "option --hangup-after-frames: '99999999999' is not a whole number from 0 to 4294967295"},
      {{"--link", "k", "--signon-gap-ms", "5x"},
       "option --signon-gap-ms: '5x' is not a whole number from 0 to 3600000"},
      {{"--link", "k", "--verbose"}, "unknown option '--verbose' (try --help)"},
  };
  for (const auto& [args, expected] : cases) {
    KorvoSimOptions options;
    std::string error;
    EXPECT_FALSE(parse(args, &options, &error));
    EXPECT_EQ(error, expected);
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  KorvoSimOptions options;
  std::string error;
  EXPECT_TRUE(parse({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);
}

termios rawLine(speed_t speed) {
  termios settings{};
  cfmakeraw(&settings);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  return settings;
}

TEST(KorvoLineSettings, RawEightNoneOneIsRightAndEachFaultIsNamed) {
  const LineSettings good = judgeLineSettings(rawLine(B38400));
  EXPECT_EQ(good.problems, "");
  EXPECT_EQ(good.baud, 38400);
  EXPECT_FALSE(good.echoes);

  termios bad = rawLine(B110);
  bad.c_cflag = (bad.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB;
  bad.c_lflag |= ECHO;
  const LineSettings judged = judgeLineSettings(bad);
  EXPECT_EQ(judged.problems,
            "data bits are not 8; parity is on, expected none; two stop bits, expected one; "
            "baud rate 110 is outside 1200..115200; line not in raw mode (canonical input or echo "
            "on)");
  EXPECT_TRUE(judged.echoes);
  EXPECT_EQ(judgeLineSettings(rawLine(B0)).problems, "baud rate is 0 or unknown");
}

TEST(KorvoLinkPacing, BaudPacingSpacesBytesTenBitTimesApart) {
  KorvoLinkPacing pacing;
  pacing.setBaud(9600);  // 10 bits: 1042 us a byte, rounded up
  pacing.queueOutput({'a', 'b'}, 1000, 500);
  EXPECT_EQ(pacing.nextOutputDue(), 1000 + 500 + 1042);
  EXPECT_TRUE(pacing.peekDueOutput(2541).empty());
  EXPECT_EQ(pacing.peekDueOutput(2542), KorvoBytes{'a'});
  EXPECT_EQ(pacing.peekDueOutput(3584), (KorvoBytes{'a', 'b'}));
  pacing.dropOutput(1);
  EXPECT_EQ(pacing.nextOutputDue(), 3584);

  pacing.queueInput({'x', 'y'}, 0);
  uint8_t byte = 0;
  EXPECT_FALSE(pacing.takeDueInput(1041, &byte));
  EXPECT_TRUE(pacing.takeDueInput(1042, &byte));
  EXPECT_EQ(byte, 'x');
  EXPECT_FALSE(pacing.takeDueInput(2083, &byte));

  pacing.setBaud(0);
  pacing.clear();
  pacing.queueOutput({'z'}, 5, 0);
  EXPECT_EQ(pacing.peekDueOutput(5), KorvoBytes{'z'});
}

}  // namespace
