// The bash completion as a user's shell runs it: the file sourced into bash,
// its function called with the words typed so far, what it offers read back.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kCompletion = AVRISP_SOURCE_DIR "/scripts/completion/avrisp.bash";

class ShellCompletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
    for (const char* program : {"tarnwick", "pellory"}) {
      ASSERT_EQ(
          symlink(builtProgram(program).c_str(), dir.file(std::string("bin/") + program).c_str()),
          0)
          << program;
    }
    ASSERT_EQ(symlink(builtProgram("sim/korvo-sim").c_str(), dir.file("bin/korvo-sim").c_str()), 0);
  }

  // A program on PATH in place of the built one: it answers --list-parts (and
  // whatever `extra` names) itself and hands everything else on.
  void standIn(const std::string& program, const std::string& extra = "") {
    std::string real = readLink(dir.file("bin/" + program));
    std::remove(dir.file("bin/" + program).c_str());
    writeFile(dir.file("bin/" + program), "#!/bin/sh\n" + extra +
                                              "if [ \"$1\" = --list-parts ]; then\n"
                                              "  printf 'Part        Signature  Flash\\n'\n"
                                              "  printf 'ATmega48    1e 92 05   4096\\n'\n"
                                              "  printf 'ATmega644/ATmega644P 1e 96 0a 65536\\n'\n"
                                              "  printf 'ATmega2560  1e 98 01   262144\\n'\n"
                                              "  exit 0\n"
                                              "fi\n"
                                              "exec '" +
                                              real + "' \"$@\"\n");
    ASSERT_EQ(chmod(dir.file("bin/" + program).c_str(), 0755), 0);
  }

  static std::string readLink(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : path;
  }

  // What the completion offers for `line`, the cursor at its end, one a line.
  std::vector<std::string> complete(const std::string& line) {
    std::string script = "source '" + kCompletion +
                         "'\n"
                         "COMP_LINE=\"$1\"; COMP_POINT=${#COMP_LINE}\n"
                         "read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
                         "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                         "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                         "_avrisp \"${COMP_WORDS[0]}\" \"${COMP_WORDS[COMP_CWORD]}\" "
                         "\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                         "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment["PATH"] = dir.file("bin") + ":/usr/bin:/bin";
    options.environment["TARNWICK_DEV_ROOT"] = dir.file("dev");
    ProcessResult run = runProcess("/bin/bash", {"-c", script, "bash", line}, options);
    EXPECT_EQ(run.exitStatus, 0) << run.errorOutput;
    std::vector<std::string> offered;
    std::istringstream lines(run.output);
    for (std::string word; std::getline(lines, word);) {
      if (!word.empty()) offered.push_back(word);
    }
    return offered;
  }

  static bool has(const std::vector<std::string>& offered, const std::string& word) {
    for (const std::string& each : offered) {
      if (each == word) return true;
    }
    return false;
  }

  TempDir dir;
};

TEST_F(ShellCompletionTest, LongOptionsComeFromEachProgramsHelp) {
  std::vector<std::string> offered = complete("tarnwick --");
  for (const char* option : {"--help", "--version", "--port", "--no-wait", "--list-ports"}) {
    EXPECT_TRUE(has(offered, option)) << option;
  }
  for (const std::string& word : offered) EXPECT_EQ(word.rfind("--", 0), 0u) << word;
  EXPECT_EQ(complete("tarnwick --p"), std::vector<std::string>{"--port"});
  EXPECT_TRUE(has(complete("pellory --"), "--port"));
  EXPECT_FALSE(has(complete("pellory --"), "--list-ports"));
  std::vector<std::string> simulator = complete("korvo-sim --");
  for (const char* option : {"--link", "--part", "--time-scale", "--help"}) {
    EXPECT_TRUE(has(simulator, option)) << option;
  }
  // An option the program gains is offered without the completion changing.
  standIn("tarnwick",
          "if [ \"$1\" = --help ]; then echo '  --brand-new     what it does'; exit 0; fi\n");
  EXPECT_EQ(complete("tarnwick --b"), std::vector<std::string>{"--brand-new"});
}

TEST_F(ShellCompletionTest, PortOffersTheSerialDevicesPresent) {
  ASSERT_EQ(mkdir(dir.file("dev").c_str(), 0755), 0);
  writeFile(dir.file("dev/ttyUSB0"), "");
  writeFile(dir.file("dev/ttyACM1"), "");
  std::vector<std::string> both = {dir.file("dev/ttyUSB0"), dir.file("dev/ttyACM1")};
  EXPECT_EQ(complete("tarnwick --port "), both);
  EXPECT_EQ(complete("tarnwick -i --port " + dir.file("dev/ttyU")),
            std::vector<std::string>{dir.file("dev/ttyUSB0")});
  // pellory's port is an I/O address: nothing to offer.
  EXPECT_TRUE(complete("pellory --port ").empty());
}

TEST_F(ShellCompletionTest, PartArgumentsOfferEachNameOfEachPart) {
  standIn("tarnwick");
  std::vector<std::string> all = {"ATmega48", "ATmega644", "ATmega644P", "ATmega2560"};
  EXPECT_EQ(complete("tarnwick --decode-fuses "), all);
  EXPECT_EQ(complete("tarnwick --decode-fuses ATmega64"),
            (std::vector<std::string>{"ATmega644", "ATmega644P"}));
  // korvo-sim lists the parts it simulates itself.
  std::vector<std::string> simulated = complete("korvo-sim --link /tmp/k --part ATmega256");
  EXPECT_NE(std::find(simulated.begin(), simulated.end(), "ATmega2560"), simulated.end());
  for (const std::string& name : simulated) EXPECT_EQ(name.rfind("ATmega256", 0), 0u) << name;
  // Any letter case finds the name.
  EXPECT_EQ(complete("tarnwick --part atmega64"),
            (std::vector<std::string>{"ATmega644", "ATmega644P"}));
}

// Device names are whatever the device folder holds; none may run as shell
// text when offered, and each is offered as it is named.
TEST_F(ShellCompletionTest, HostileDeviceNamesAreOfferedAsTheyAreAndRunNothing) {
  ASSERT_EQ(mkdir(dir.file("dev").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("dev/serial").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("dev/serial/by-id").c_str(), 0755), 0);
  const std::vector<std::string> names = {"serial/by-id/usb-$(touch ran1)", "ttyUSB0;touch ran3",
                                          "ttyUSB`touch ran2`", "ttyACM$(touch${IFS}ran4)*"};
  std::vector<std::string> expected;
  for (const std::string& name : names) {
    writeFile(dir.file("dev/" + name), "");
    expected.push_back(dir.file("dev/" + name));
  }
  EXPECT_EQ(complete("tarnwick --port "), expected);  // the order --list-ports gives
  for (const char* trace : {"ran1", "ran2", "ran3", "ran4"}) {
    EXPECT_FALSE(fileExists(dir.file(trace))) << trace << " was run";
  }
}

// Command words come from the program; after a command that takes a file the
// file names follow it, the command's letters kept as typed.
TEST_F(ShellCompletionTest, CommandWordsAndTheFilesAfterThem) {
  writeFile(dir.file("blink.hex"), "");
  writeFile(dir.file("blink.eep"), "");
  writeFile(dir.file("firmware.hex"), "");
  struct Case {
    std::string line;
    std::vector<std::string> offered;
  } cases[] = {
      {"tarnwick -d", {"-dc", "-de", "-df", "-dff"}},
      {"pellory -d", {"-dc", "-de", "-df"}},
      {"pellory -C", {"-ce"}},
      {"tarnwick -dfblink.h", {"-dfblink.hex"}},
      {"tarnwick -DEblink.e", {"-DEblink.eep"}},
      {"pellory -fbl", {"-fblink.eep", "-fblink.hex"}},
      {"tarnwick -dffir", {}},  // the fast download of "ir..."
      {"pellory -dffir", {"-dffirmware.hex"}},
  };
  for (const Case& each : cases) {
    std::vector<std::string> offered = complete(each.line);
    std::sort(offered.begin(), offered.end());
    EXPECT_EQ(offered, each.offered) << each.line;
  }
}

}  // namespace
