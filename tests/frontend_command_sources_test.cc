// The three ways commands arrive: the command line, the prompt and script files,
// with the transcripts they print and the exit status they leave.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/command_interpreter.h"
#include "frontend/help_text.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega168Row = 2;

class SourceTest : public ::testing::Test {
 protected:
  explicit SourceTest(const Profile& profile = tarnwickProfile()) : harness(profile) {
    dir.enter();
    harness.identifyAs(kAtmega168Row);
    session().target.targetReleased = true;
  }

  Session& session() { return harness.session; }
  std::string output() const { return harness.console.output(); }

  int commandLine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "program");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return runCommandLine(session(), static_cast<int>(arguments.size()), argv.data());
  }

  int prompt(const std::string& typed) {
    harness.console.addInput(typed);
    return runPrompt(session());
  }

  static std::string helpText(const Profile& profile) {
    ScriptedConsole console;
    printHelp(profile, console);
    return console.output();
  }

  TempDir dir;
  EngineHarness harness;
};

class PellorySourceTest : public SourceTest {
 protected:
  PellorySourceTest() : SourceTest(pelloryProfile()) {}
};

// --- Command line ------------------------------------------------------------

TEST_F(SourceTest, CommandLineRunsDashArgumentsSilentlyAndSkipsTheRest) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(commandLine({"h", "-sf12", "prog.hex", "-nv"}), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarnwick: ignored: h, commands begin with -\n"
            "tarnwick: ignored: prog.hex, commands begin with -\n");
  EXPECT_EQ(output(), "Fill char=12\n");
  EXPECT_EQ(session().settings.verifyMode, 'n');
}

// A typo in a makefile must not pass as success: the console says nothing of
// a word that runs nothing, as it always has, but standard error does, every
// other command still runs, and the status tells.
TEST_F(SourceTest, UnknownWordsOnTheCommandLineAndInScriptsFailTheRun) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(commandLine({"-x", "-sf1", "-pf", "-"}), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarnwick: unknown command -x\n"
            "tarnwick: unknown command -pf\n"
            "tarnwick: unknown command -\n");
  EXPECT_EQ(output(), "Fill char=1\n");

  writeFile(dir.file("steps.txt"), "sf2 blink.hex sf3\n");
  session().commandFailed = false;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(commandLine({"-fsteps.txt"}), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarnwick: unknown command blink.hex\n");

  // Known words alone leave standard error empty and the status 0.
  session().commandFailed = false;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(commandLine({"-sf4", "-nv", "-t2"}), kExitOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SourceTest, AtThePromptAnUnknownWordStaysSilent) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(prompt("xyz sf5"), kExitOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(output(), "\n--Fill char=5\n-");

  // A script named at the prompt is a script all the same.
  writeFile(dir.file("typo.txt"), "sf6 xyz");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(prompt("ftypo.txt"), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarnwick: unknown command xyz\n");
}

TEST_F(SourceTest, DashHPrintsTheHelp) {
  EXPECT_EQ(commandLine({"-h"}), kExitOk);
  EXPECT_EQ(output(), helpText(tarnwickProfile()));
}

TEST_F(PellorySourceTest, PelloryEchoesEachCommandBeforeItRuns) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(commandLine({"-sf12", "skipped", "-xyz"}), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "pellory: ignored: skipped, commands begin with -\n"
            "pellory: unknown command -xyz\n");
  EXPECT_EQ(output(), "\n-sf12Fill char=12\n\n-xyz");
}

TEST_F(SourceTest, CommandLineStatusTellsWhetherEveryCommandSucceeded) {
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(32, 1)));
  // The scripted target holds nothing, so the read-back differs.
  EXPECT_EQ(commandLine({"-dfprog.hex", "-sf00"}), kExitCommandFailed);
  EXPECT_NE(output().find("ERROR - Target does not match prog.hex"), std::string::npos);
  EXPECT_NE(output().find("Fill char=0\n"), std::string::npos);  // the run went on
}

TEST_F(SourceTest, ExitOnTheCommandLineStopsThereWithItsOwnStatus) {
  EXPECT_EQ(commandLine({"-sf1", "-e", "-sf2"}), kExitCommand);
  EXPECT_EQ(output(), "Fill char=1\n");
}

TEST_F(SourceTest, CommandLineRunsScriptFiles) {
  writeFile(dir.file("steps.txt"), "sf1\nnv\n");
  EXPECT_EQ(commandLine({"-fsteps.txt"}), kExitOk);
  EXPECT_EQ(output(), "\n-sf1\nFill char=1\n-nv\n-");
  EXPECT_EQ(commandLine({"-fmissing.txt"}), kExitCommandFailed);
}

TEST_F(SourceTest, OverlongArgumentIsRefused) {
  EXPECT_EQ(commandLine({"-sf" + std::string(198, '1')}), kExitCommandFailed);
  EXPECT_EQ(output(), "Command too long\n");
}

// --- Prompt ------------------------------------------------------------------

TEST_F(SourceTest, PromptRunsEveryTokenOfALineInOrder) {
  EXPECT_EQ(prompt("sf1 nv\n  sf2\n"), kExitOk);
  EXPECT_EQ(output(), "\n-Fill char=1\n--Fill char=2\n-");  // and nothing is run again
  EXPECT_EQ(session().settings.verifyMode, 'n');
}

TEST_F(SourceTest, PromptEndsThroughExitWithoutReadingFurther) {
  EXPECT_EQ(prompt("sf1 E sf2"), kExitCommand);
  EXPECT_EQ(output(), "\n-Fill char=1\n-");
}

TEST_F(SourceTest, SpaceAfterACommandWordMakesTwoTokens) {
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(16, 2)));
  EXPECT_EQ(prompt("df prog.hex"), kExitCommandFailed);
  EXPECT_EQ(output(), "\n-Can't open download file\n   : No such file or directory\n--");
}

TEST_F(PellorySourceTest, EndOfInputReleasesATargetNoCommandReleased) {
  session().target.targetReleased = false;
  EXPECT_EQ(prompt(""), kExitOk);
  EXPECT_EQ(harness.link.transcript(), "leave\n");
}

TEST_F(SourceTest, PromptRefusesOverlongTokensAndGoesOn) {
  EXPECT_EQ(prompt(std::string(200, 'f') + " sf3"), kExitCommandFailed);
  EXPECT_EQ(output(), "\n-Command too long\n-Fill char=3\n-");
}

// --- Faults inside a command --------------------------------------------------

TEST_F(SourceTest, ACommandThatThrowsFailsAloneAndTheRunGoesOn) {
  // The first fuse read throws, as a fault deep inside a command would.
  bool thrown = false;
  harness.link.onQuery = [&thrown](const IspInstruction& instruction) -> uint8_t {
    if (instruction.bytes[0] == 0x50 && !thrown) {
      thrown = true;
      throw std::runtime_error("injected fault");
    }
    return 0x11;
  };
  EXPECT_EQ(commandLine({"-gf1", "-gf2"}), kExitCommandFailed);
  EXPECT_EQ(output(),
            "\nError - command not completed: injected fault\n"
            "Fuse byte 2: 11\n");
  // Each command, the failed one included, let the target run again at its end.
  EXPECT_EQ(harness.link.count(LinkEvent::kLeave), 2);
}

TEST_F(SourceTest, RunningOutOfMemoryInACommandIsReportedAtThePrompt) {
  harness.link.onQuery = [](const IspInstruction&) -> uint8_t { throw std::bad_alloc(); };
  EXPECT_EQ(prompt("gc sf4"), kExitCommandFailed);
  EXPECT_EQ(output(), "\n-\nError - command not completed: out of memory\n-Fill char=4\n-");
}

TEST_F(SourceTest, ALostLinkStillEndsTheRun) {
  harness.link.onQuery = [](const IspInstruction&) -> uint8_t { throw LinkLostError("gone"); };
  EXPECT_THROW(commandLine({"-gc", "-sf4"}), LinkLostError);
  EXPECT_EQ(output(), "");
}

// --- Script files --------------------------------------------------------------

TEST_F(SourceTest, ScriptFileEchoesAndRunsEachToken) {
  writeFile(dir.file("Setup.txt"), "sf5\n\n  t2 mfm.txt");
  EXPECT_EQ(prompt("FSetup.txt sf6"), kExitOk);
  EXPECT_EQ(output(),
            "\n-"
            "\n-sf5\nFill char=5\n-t2\n-mfm.txt\nMismatch filename=m.txt\n-"
            "Fill char=6\n-");
}

TEST_F(SourceTest, MissingScriptFileIsReportedAndThePromptGoesOn) {
  EXPECT_EQ(prompt("fnothere.txt sf7"), kExitCommandFailed);
  EXPECT_EQ(output(),
            "\n-Can't open file named: nothere.txt\n   nothere.txt: No such file or directory\n"
            "\n-Fill char=7\n-");
}

// A script must be a regular file: a folder, an endless device and a FIFO
// that nobody writes to are refused at once with their reason, as a missing
// script is, instead of failing part way, reading without end or blocking.
TEST_F(SourceTest, ScriptsThatAreNoRegularFileAreRefusedAndThePromptGoesOn) {
  ::mkdir(dir.file("scripts").c_str(), 0755);
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  EXPECT_EQ(prompt("fscripts f/dev/zero fpipe sf7"), kExitCommandFailed);
  EXPECT_EQ(output(),
            "\n-Can't open file named: scripts\n   scripts: Not a regular file\n"
            "\n-Can't open file named: /dev/zero\n   /dev/zero: Not a regular file\n"
            "\n-Can't open file named: pipe\n   pipe: Not a regular file\n"
            "\n-Fill char=7\n-");
}

// A regular file that goes on and on still stops at the bound instead of
// growing one token until memory runs out.
TEST_F(SourceTest, AnOverlargeScriptIsRefused) {
  writeFile(dir.file("huge.txt"), std::string((size_t{16} << 20) + 1, 'x'));
  EXPECT_EQ(prompt("fhuge.txt"), kExitCommandFailed);
  EXPECT_EQ(output(),
            "\n-Can't open file named: huge.txt\n"
            "   huge.txt: File too large (more than 16 MiB)\n"
            "\n-");
}

TEST_F(SourceTest, AnOverlongScriptTokenIsRefusedWhole) {
  writeFile(dir.file("long.txt"), "sf" + std::string(5000, '1') + " sf2");
  EXPECT_EQ(prompt("flong.txt"), kExitCommandFailed);
  EXPECT_NE(output().find("Command too long\n-sf2\nFill char=2\n"), std::string::npos) << output();
}

TEST_F(SourceTest, ScriptFilesDoNotNest) {
  writeFile(dir.file("outer.txt"), "finner.txt sf1");
  writeFile(dir.file("inner.txt"), "sf2");
  // The inner name runs nothing, so it is reported as any such word is.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(prompt("fouter.txt"), kExitCommandFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarnwick: unknown command finner.txt\n");
  EXPECT_EQ(output(), "\n-\n-finner.txt\n-sf1\nFill char=1\n-");
}

TEST_F(SourceTest, ExitInsideAScriptEndsTheRun) {
  writeFile(dir.file("bye.txt"), "sf1 e sf2");
  EXPECT_EQ(prompt("fbye.txt sf3"), kExitCommand);
  EXPECT_EQ(output(), "\n-\n-sf1\nFill char=1\n-e\n");
}

}  // namespace

namespace {

// After a failure on the command line or in a script, the commands that write
// to the target are named and left out; reads still run, a held fuse write's
// confirmation still runs, and the prompt runs everything.
struct WriteStopCase {
  std::vector<std::string> commandLine;  // empty: `typed` goes to the prompt
  const char* typed;
  const char* script;  // s.txt
  std::vector<std::string> notRun;
  int status = kExitCommandFailed;
};

class WriteStopTest : public SourceTest, public ::testing::WithParamInterface<WriteStopCase> {};

TEST_P(WriteStopTest, WritesAfterAFailureAreNamedAndLeftOut) {
  const WriteStopCase& c = GetParam();
  writeFile(dir.file("s.txt"), c.script);
  const int status = c.commandLine.empty() ? prompt(c.typed) : commandLine(c.commandLine);
  EXPECT_EQ(status, c.status);
  std::vector<std::string> notRun;
  const std::string suffix = " not run: an earlier command failed, so nothing more is written";
  for (size_t at = output().find(suffix); at != std::string::npos;
       at = output().find(suffix, at + 1)) {
    const size_t start = output().rfind('\n', at) + 1;
    notRun.push_back(output().substr(start, at - start));
  }
  EXPECT_EQ(notRun, c.notRun) << output();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, WriteStopTest,
    ::testing::Values(
        WriteStopCase{{"-dfnone.hex", "-pfaff,de,fd", "-pf1e2", "-plfc", "-a", "-denone.hex",
                       "-dffast.hex", "-gl"},
                      "",
                      "",
                      {"-pfaff,de,fd", "-pf1e2", "-plfc", "-a", "-denone.hex", "-dffast.hex"}},
        WriteStopCase{{"-pf2f9", "-pf2f9", "-pf1e2"}, "", "", {}, kExitOk},  // held, confirmed
        WriteStopCase{{"-pf2f9", "-gl", "-pf1e2"}, "", "", {"-pf1e2"}},      // held, not confirmed
        WriteStopCase{{}, "dfnone.hex pf1e2\n", "", {}},
        WriteStopCase{{}, "dfnone.hex fs.txt\n", "pf1e2 dfnone.hex gl pl3c", {"pl3c"}},
        WriteStopCase{{"-dfnone.hex", "-fs.txt"}, "", "gl pf1e2", {"pf1e2"}}));

}  // namespace
