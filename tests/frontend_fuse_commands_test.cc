// What a user types for the fuse and lock bytes, and the words and comments
// around them: a value that is not one byte is refused whole, a word that only
// starts like a command does nothing, and '#' comments are left out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/command_interpreter.h"
#include "frontend/profile.h"
#include "tests/support/engine_harness.h"
#include "tests/support/shared_folder.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega644pRow = 6;

class FuseCommandTest : public ::testing::TestWithParam<const Profile*> {
 protected:
  FuseCommandTest() : harness(*GetParam()) {
    dir.enter();
    harness.identifyAs(kAtmega644pRow);
    harness.session.target.targetReleased = true;
  }

  int commandLine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "program");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return runCommandLine(harness.session, static_cast<int>(arguments.size()), argv.data());
  }

  int prompt(const std::string& typed) {
    harness.console.addInput(typed);
    return runPrompt(harness.session);
  }

  // pellory echoes each command-line token before it runs.
  static std::string echoed(const std::string& token) {
    return GetParam()->echoCommandLine ? "\n-" + token : "";
  }

  size_t writes() { return harness.link.instructionsWith(0xAC).size(); }
  std::string output() const { return harness.console.output(); }
  bool printed(const std::string& text) const { return output().find(text) != std::string::npos; }

  TempDir dir;
  EngineHarness harness;
};

}  // namespace

TEST_P(FuseCommandTest, ValuesThatAreNotOneByteAreRefusedAndWriteNothing) {
  for (const char* token : {"pf1e200", "pf1-1", "pf2d9x", "pf10xe2", "pf3 f", "pf1", "pf2100"}) {
    harness.console.clearOutput();
    harness.session.commandFailed = false;
    EXPECT_EQ(commandLine({std::string("-") + token}), kExitCommandFailed) << token;
    EXPECT_EQ(output(), echoed(token) + "Fuse value must be a hexadecimal byte, as in pf1e2\n")
        << token;
  }
  for (const char* token : {"pfa620,d9,ff", "pfa62,d9,ff0", "pfa62,d9x,ff", "pfa0x62,d9,ff"}) {
    harness.console.clearOutput();
    harness.session.commandFailed = false;
    EXPECT_EQ(commandLine({std::string("-") + token}), kExitCommandFailed) << token;
    EXPECT_EQ(output(),
              echoed(token) + "Fuse values must be three hexadecimal bytes, as in pfa62,d9,ff\n")
        << token;
  }
  EXPECT_EQ(writes(), 0u);
  EXPECT_EQ(harness.link.fuseLow, 0xE4);  // the scripted target's own bytes
}

TEST_P(FuseCommandTest, WordsThatStartLikeALockCommandDoNotArmIt) {
  // Each a run of its own: after a failure, a run's later writes are left out.
  for (const char* word : {"please", "place"}) {
    harness.console.clearOutput();
    harness.session.commandFailed = false;
    EXPECT_EQ(commandLine({std::string("-") + word}), kExitCommandFailed);
    EXPECT_EQ(output(), echoed(word) + "Lock byte value must be a hexadecimal byte, as in pl3c\n");
  }
  EXPECT_EQ(harness.session.settings.lockArmCount, 0);
  harness.session.commandFailed = false;
  EXPECT_EQ(commandLine({"-plfc"}), kExitOk);  // still the first entry
  EXPECT_EQ(writes(), 0u);
  EXPECT_EQ(commandLine({"-plfc"}), kExitOk);  // now written
  EXPECT_EQ(writes(), 1u);
  EXPECT_EQ(harness.link.lockBits, 0xFC);
}

TEST_P(FuseCommandTest, WordsThatOnlyStartLikeACommandDoNothing) {
  EXPECT_NE(commandLine({"-apply", "-all", "-erase", "-Auto", "-gf"}), kExitCommand);
  EXPECT_EQ(writes(), 0u);
  EXPECT_TRUE(printed("Fuse bytes: ff d9 e4\n")) << output();  // "-erase" did not end the run
  EXPECT_EQ(commandLine({"-E"}), kExitCommand);
}

TEST_P(FuseCommandTest, ScriptCommentsRunToTheEndOfTheirLine) {
  writeFile(dir.file("settings.txt"),
            "# apply settings later\n"
            "gf1 # then a, and e\n"
            "   #e\n"
            "gf2#a\n"
            "#\n"
            "gf3");
  EXPECT_NE(prompt("fsettings.txt\n"), kExitCommand);
  EXPECT_EQ(writes(), 0u);
  EXPECT_EQ(output(),
            "\n-\n-gf1\nFuse byte 1: e4\n-gf2\nFuse byte 2: d9\n-gf3\nFuse byte 3: ff\n-");
}

TEST_P(FuseCommandTest, PromptCommentsRunToTheEndOfTheirLine) {
  EXPECT_NE(prompt("gf1 # a e\n#e\ngf2#e a\n  gf3\n"), kExitCommand);
  EXPECT_EQ(writes(), 0u);
  EXPECT_EQ(output(), "\n-Fuse byte 1: e4\n-Fuse byte 2: d9\n-Fuse byte 3: ff\n-");
}

TEST_P(FuseCommandTest, ALockoutWriteIsConfirmedByTheSameCommandNext) {
  // The ATmega644P's SPIEN is bit 5 of the high fuse.
  EXPECT_EQ(commandLine({"-pf2f9"}), kExitCommandFailed);
  EXPECT_EQ(writes(), 0u);
  harness.session.commandFailed = false;
  EXPECT_EQ(commandLine({"-gf2", "-pf2f9", "-PF2F9"}), kExitOk);  // asked, then confirmed
  EXPECT_EQ(writes(), 1u);
  EXPECT_EQ(harness.link.fuseHigh, 0xF9);
  // A prompt entry between breaks the confirmation.
  harness.link.fuseHigh = 0xD9;
  harness.session.commandFailed = false;
  EXPECT_EQ(prompt("pf2f9 gf2 pf2f9\n"), kExitCommandFailed);
  EXPECT_EQ(harness.link.fuseHigh, 0xD9);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, FuseCommandTest,
                         ::testing::Values(&tarnwickProfile(), &pelloryProfile()),
                         [](const auto& info) { return std::string(info.param->programName); });
