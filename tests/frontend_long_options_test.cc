// Options in the Linux manner, read before start-up: which arguments they take
// from the command line, what they refuse, and what --help and --version print.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/help_text.h"
#include "frontend/long_options.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

// An argv the way main receives it.
class Arguments {
 public:
  explicit Arguments(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& word : words_) pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
  }
  int count() const { return static_cast<int>(words_.size()); }
  char** vector() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

LongOptions read(const Profile& profile, std::vector<std::string> words) {
  static std::vector<Arguments> kept;  // the options point into them
  kept.emplace_back(std::move(words));
  return readLongOptions(profile, kept.back().count(), kept.back().vector());
}

std::vector<std::string> commands(const LongOptions& options) {
  std::vector<std::string> words;
  for (int i = 0; i < options.commandCount(); ++i) words.push_back(options.commandArguments[i]);
  return words;
}

TEST(LongOptions, AreTakenOutAndTheCommandsLeftInOrder) {
  LongOptions options =
      read(tarnwickProfile(), {"tarnwick", "--no-wait", "-i", "--port", "/dev/ttyUSB0", "stray",
                               "-dfa.hex", "--port=COM3"});
  EXPECT_TRUE(options.refusal.empty()) << options.refusal;
  EXPECT_FALSE(options.endRun());
  EXPECT_TRUE(options.noWait);
  EXPECT_EQ(options.port, "COM3");  // the last one counts
  EXPECT_EQ(commands(options), (std::vector<std::string>{"tarnwick", "-i", "stray", "-dfa.hex"}));
  EXPECT_EQ(options.commandVector()[options.commandCount()], nullptr);

  // Only long options: no command, so the prompt runs.
  EXPECT_EQ(read(tarnwickProfile(), {"tarnwick", "--port", "COM1"}).commandCount(), 1);
  // A single dash is a command, however it is spelt.
  EXPECT_EQ(commands(read(pelloryProfile(), {"pellory", "-help", "-"})),
            (std::vector<std::string>{"pellory", "-help", "-"}));
}

TEST(LongOptions, RefusalsEndTheRunWithStatusTwoAndAHint) {
  struct Case {
    const Profile* profile;
    std::vector<std::string> words;
    std::string refusal;
  };
  const Case cases[] = {
      {&tarnwickProfile(), {"tarnwick", "-i", "--frob"}, "unknown option '--frob'"},
      {&tarnwickProfile(), {"tarnwick", "--help=all"}, "unknown option '--help=all'"},
      {&tarnwickProfile(), {"tarnwick", "--port"}, "option '--port' needs a value"},
      {&tarnwickProfile(), {"tarnwick", "--port="}, "option '--port' needs a value"},
      {&pelloryProfile(), {"pellory", "--port", "0x27g"}, "'0x27g' is not a port for --port"},
      {&pelloryProfile(), {"pellory", "--port", "10000"}, "'10000' is not a port for --port"},
      {&pelloryProfile(), {"pellory", "--port", "-278"}, "'-278' is not a port for --port"},
      // The control register, two above the data register, must stay below 10000.
      {&pelloryProfile(), {"pellory", "--port", "fffe"}, "'fffe' is not a port for --port"},
      {&pelloryProfile(), {"pellory", "--port=FFFF"}, "'FFFF' is not a port for --port"},
      {&tarnwickProfile(), {"tarnwick", "--port", "COM0"}, "'COM0' is not a port for --port"},
      {&tarnwickProfile(), {"tarnwick", "--port", "com-1"}, "'com-1' is not a port for --port"},
      {&tarnwickProfile(), {"tarnwick", "--port=COM1x"}, "'COM1x' is not a port for --port"},
      {&tarnwickProfile(), {"tarnwick", "--port", "COM"}, "'COM' is not a port for --port"},
      {&pelloryProfile(),
       {"pellory", "--decode-fuses", "ATmega8", "e1", "d9", "ff", "00"},
       "option '--decode-fuses' takes at most three fuse bytes; '00' is one too many"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.back());
    LongOptions options = read(*c.profile, c.words);
    EXPECT_EQ(options.refusal, c.refusal);
    EXPECT_TRUE(options.endRun());

    ScriptedConsole console;
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(answerLongOptions(*c.profile, options, console, errors), kExitCommandFailed);
    std::rewind(errors);
    char text[256] = {};
    size_t got = std::fread(text, 1, sizeof text - 1, errors);
    std::fclose(errors);
    std::string name = c.profile->programName;
    EXPECT_EQ(std::string(text, got),
              name + ": " + c.refusal + "\nTry '" + name + " --help' for more information.\n");
    EXPECT_EQ(console.output(), "");
  }
  EXPECT_EQ(read(pelloryProfile(), {"pellory", "--port", "0x278"}).port, "0x278");
  EXPECT_EQ(read(pelloryProfile(), {"pellory", "--port=278"}).port, "278");
  EXPECT_EQ(read(pelloryProfile(), {"pellory", "--port", "fffd"}).port, "fffd");
  EXPECT_EQ(read(tarnwickProfile(), {"tarnwick", "--port", "./COM0"}).port, "./COM0");
  EXPECT_EQ(read(tarnwickProfile(), {"tarnwick", "--port", "combo"}).port, "combo");
  EXPECT_EQ(read(tarnwickProfile(), {"tarnwick", "--port", "com11"}).port, "com11");
}

TEST(LongOptions, HelpIsTheCommandHelpThenTheLongOptionsAndVersionIsOneLine) {
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    SCOPED_TRACE(profile->programName);
    ScriptedConsole help;
    printHelp(*profile, help);
    const std::string commandHelp = help.output();

    ScriptedConsole console;
    EXPECT_EQ(answerLongOptions(*profile, read(*profile, {"x", "-i", "--help"}), console, stderr),
              kExitOk);
    const std::string& shown = console.output();
    EXPECT_EQ(shown.rfind(commandHelp, 0), 0u) << shown;
    for (const char* text :
         {"--help", "--version", "--port", profile->configFileName, "/etc/", "gcal.txt"}) {
      EXPECT_NE(shown.find(text, commandHelp.size()), std::string::npos) << text;
    }
    // Only tarnwick waits for a key at the end.
    EXPECT_EQ(shown.find("--no-wait") != std::string::npos, profile->waitForKeyAtEnd);
    // Only tarnwick has serial devices to list.
    EXPECT_EQ(shown.find("--list-ports") != std::string::npos, profile->link == LinkKind::kKorvo);
    // The calibration's own folder, not the current directory alone.
    EXPECT_NE(shown.find(calibrationPlaces(profile->programName).cacheFolder + "/\n"),
              std::string::npos)
        << shown;

    ScriptedConsole version;
    EXPECT_EQ(answerLongOptions(*profile, read(*profile, {"x", "--version"}), version, stderr),
              kExitOk);
    EXPECT_EQ(version.output(), std::string(profile->programName) + " " + AVRISP_VERSION + "\n");
  }
}

}  // namespace

TEST(FuseOptions, AreTakenApartFromTheCommands) {
  LongOptions options =
      read(tarnwickProfile(), {"tarnwick", "--force-fuses", "-pf2f9", "--explain-fuses", "-gf"});
  EXPECT_TRUE(options.forceFuses);
  EXPECT_TRUE(options.explainFuses);
  EXPECT_FALSE(options.endRun());
  EXPECT_EQ(commands(options), (std::vector<std::string>{"tarnwick", "-pf2f9", "-gf"}));

  LongOptions decode =
      read(pelloryProfile(), {"pellory", "--decode-fuses", "ATmega2560", "62", "d9", "-gf"});
  EXPECT_TRUE(decode.endRun());
  EXPECT_TRUE(decode.refusal.empty());
  EXPECT_EQ(decode.decodeArguments, (std::vector<std::string>{"ATmega2560", "62", "d9"}));

  for (std::vector<std::string> shortOfBytes :
       {std::vector<std::string>{"tarnwick", "--decode-fuses"},
        std::vector<std::string>{"tarnwick", "--decode-fuses", "ATmega2560", "62"},
        std::vector<std::string>{"tarnwick", "--decode-fuses", "ATmega2560", "62", "-gf"}}) {
    EXPECT_FALSE(read(tarnwickProfile(), shortOfBytes).refusal.empty());
  }
}
