// Whole runs of both programs against their simulators, with commands from the
// command line, from standard input and from script files: the console output
// (progress lines left out) and the exit status as a user sees them.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const char kTarnwickStart[] =
    "Korvo ISP Programming Utility V1.05\n"
    "Default com channel is com2, baud rate 115200\n"
    "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n"
    "Output Korvo Signon message:\n"
    "\r\nKorvo USB ISP V2.3\r\n>"
    "\n\n"
    "Target ATmega168 responding - default fuses not set\n"
    "   Default fuses: f9 df e2    Target fuses: f9 df 62\n";

const char kPelloryStart[] =
    "Marlow Programming Utility V1.08\n"
    "Type 'e' to exit, 'p' to pause, 'h' for help)\n\n"
    "Target ATmega168 responding - default fuses not set\n"
    "   Default fuses: f9 df e2    Target fuses: f9 df 62\n";

// Progress lines are rewritten in place with a bare carriage return; how many
// of them appear depends on the machine's speed, so they are left out.
std::string withoutProgressLines(const std::string& text) {
  std::string kept;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
      line.clear();
    } else {
      line.push_back(c);
      if (c == '\n') {
        kept += line;
        line.clear();
      }
    }
  }
  return kept + line;
}

class CommandRunTest : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  bool tarnwick() const { return GetParam() == Program::kTarnwick; }
  std::string start() const { return tarnwick() ? kTarnwickStart : kPelloryStart; }
  std::string end() const {
    return tarnwick() ? "\nProgram finished - hit any key to exit!\n" : "\nProgram finished!\n";
  }
  // pellory shows each command-line command before it runs.
  std::string echo(const std::string& command) const { return tarnwick() ? "" : "\n-" + command; }

  // One run of the program on an ATmega168 whose memories persist between runs.
  ProcessResult run(const std::vector<std::string>& arguments, const std::string& input = "") {
    ProcessOptions options;
    options.standardInput = input;
    return finish(runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments, options));
  }

  static ProcessResult finish(ProcessResult result) {
    EXPECT_FALSE(result.timedOut);
    result.output = withoutProgressLines(result.output);
    return result;
  }

  TempDir dir;
};

TEST_P(CommandRunTest, SettingsCommandsFromTheCommandLine) {
  ProcessResult result = run({"-sf1ff", "skipped", "-sfzz", "-t2x", "-gf4", "-pf4"});
  EXPECT_EQ(result.output, start() + echo("sf1ff") + "Fill char=ff\n" + echo("sfzz") +
                               "Fill char=ff\n" + echo("t2x") + echo("gf4") + echo("pf4") + end());
  // The console says nothing of the words that run nothing; standard error
  // does, and the status tells a makefile.
  const std::string program = tarnwick() ? "tarnwick" : "pellory";
  EXPECT_EQ(result.errorOutput, program + ": ignored: skipped, commands begin with -\n" +
                                    program + ": unknown command -t2x\n" + program +
                                    ": unknown command -gf4\n" + program +
                                    ": unknown command -pf4\n");
  EXPECT_EQ(result.exitStatus, 2);
}

TEST_P(CommandRunTest, DownloadThenUploadInALaterRun) {
  std::vector<uint8_t> data = randomBytes(1000, 11);
  writeFile(dir.file("prog.hex"), intelHexText(data));
  ProcessResult download = run({"-dfprog.hex"});
  EXPECT_NE(download.output.find("\nTarget matches prog.hex\n"), std::string::npos)
      << download.output;
  EXPECT_EQ(download.exitStatus, 0);

  ProcessResult upload = run({"-ufsaved.hex"});
  EXPECT_NE(upload.output.find("Last data value in buffer = 3e8 1000\n"
                               "Write Flash/EEPROM data to saved.hex\n"),
            std::string::npos)
      << upload.output;
  EXPECT_EQ(upload.exitStatus, 0);
  EXPECT_EQ(
      readFile(dir.file("saved.hex")).substr(0, 11), ":10000000" + [&] {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", data[0]);
        return std::string(b);
      }());
}

TEST_P(CommandRunTest, FailedCommandsAndTheExitCommandSetTheStatus) {
  ProcessResult missing = run({"-dfmissing.hex", "-sf1"});
  EXPECT_EQ(missing.output, start() + echo("dfmissing.hex") +
                                "Can't open download file\n   missing.hex: No such file or "
                                "directory\n" +
                                echo("sf1") + "Fill char=1\n" + end());
  EXPECT_EQ(missing.exitStatus, 2);

  ProcessResult exited = run({"-sf1", "-e", "-sf2"});
  EXPECT_EQ(exited.output,
            start() + echo("sf1") + "Fill char=1\n" + echo("e") + (tarnwick() ? "" : "\n"));
  EXPECT_EQ(exited.exitStatus, 1);
}

TEST_P(CommandRunTest, PromptReadsStandardInputAndScriptFiles) {
  writeFile(dir.file("steps.txt"), "sf12\nfnested.txt gf1\n");
  ProcessResult result = run({}, "sf1 df prog.hex\nfsteps.txt\nfnone.txt\nmfx.txt");
  EXPECT_EQ(result.output, start() + "\n-Fill char=1\n-Can't open download file\n" +
                               "   : No such file or directory\n--" +
                               "\n-sf12\nFill char=12\n-fnested.txt\n-gf1\nFuse byte 1: 62\n-" +
                               "Can't open file named: none.txt\n" +
                               "   none.txt: No such file or directory\n\n-" +
                               "Mismatch filename=x.txt\n-" + end());
  EXPECT_EQ(result.exitStatus, 2);
}

TEST_P(CommandRunTest, ScriptFileFromTheCommandLineAndExitFromTheScript) {
  writeFile(dir.file("steps.txt"), "sf3 e sf4");
  ProcessResult result = run({"-fsteps.txt"});
  EXPECT_EQ(result.output, start() + echo("fsteps.txt") + "\n-sf3\nFill char=3\n-e\n");
  EXPECT_EQ(result.exitStatus, 1);
}

// pellory with a pseudo-terminal for its console, as a user at a terminal runs
// it: lines are edited, with a history, and run command by command.
ProcessResult runAtTerminal(const std::string& directory, const std::string& typed) {
  std::map<std::string, std::string> environment =
      simulatedCableEnvironment("ATmega168", directory + "/chip.state");
  std::string program = builtProgram("pellory");
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ProcessResult result;
  if (child < 0) return result;
  // Typed ahead: the terminal keeps it until the program reads its first line.
  if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
    result.output = "<could not type>";
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  for (;;) {
    struct pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, 1000) > 0) {
      ssize_t got = read(master, buffer, sizeof buffer);
      if (got <= 0) break;  // EIO once the program has gone
      result.output.append(buffer, static_cast<size_t>(got));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(child, SIGKILL);
      break;
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(CommandRunAtTerminal, LinesRunCommandByCommandAndComeBackFromTheHistory) {
  TempDir dir;
  writeFastCalibration(dir.path());
  ProcessResult result = runAtTerminal(dir.path(), "sf1 sf2\nmfa.txt\n\033[A\ne\n");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 1);
  // The terminal echoes what was typed and ends lines with CR LF.
  EXPECT_NE(result.output.find("Fill char=1\r\n-Fill char=2\r\n-"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Mismatch filename=a.txt\r\n-"), std::string::npos) << result.output;
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, CommandRunTest,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
