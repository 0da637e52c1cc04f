// Whole runs of both programs on simulated chips: fuse writes that would end
// serial programming wait for the same command again, every write is read
// back, values that are not one byte and words that only start like a command
// write nothing, and fuse bytes are decoded without any hardware.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Parts whose high fuse holds SPIEN at bit 5, each with the high fuse its
// simulated chip leaves the factory with; the second list has RSTDISBL at bit 7
// and DWEN at bit 6 as well.
struct GuardedPart {
  const char* name;
  const char* factoryHigh;
};

const GuardedPart kGuardedParts[] = {
    {"ATmega644P", "99"},
    {"ATmega168", "df"},
    {"ATmega328P", "d9"},
};

const GuardedPart kResetDisableParts[] = {
    {"ATmega168", "df"},
    {"ATmega328P", "d9"},
};

class FuseSafetyRun : public ::testing::TestWithParam<std::tuple<Program, GuardedPart>> {
 protected:
  void SetUp() override { writeCalibrationFor(program(), dir.path()); }

  Program program() const { return std::get<0>(GetParam()); }
  const GuardedPart& part() const { return std::get<1>(GetParam()); }

  ProcessResult run(const std::vector<std::string>& arguments) {
    ProcessResult result = runOnSimulatedPart(program(), part().name, dir.path(), arguments);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  std::string highFuse() { return run({"-gf2"}).output; }

  TempDir dir;
};

}  // namespace

TEST_P(FuseSafetyRun, UnprogrammingSpienNeedsTheSameCommandTwice) {
  ProcessResult once = run({"-pf2f9"});
  EXPECT_EQ(once.exitStatus, 2);
  EXPECT_TRUE(contains(once.output,
                       "SPIEN would be unprogrammed: serial programming stops "
                       "working; only a high-voltage programmer can undo this\n"))
      << once.output;
  EXPECT_FALSE(contains(once.output, "Write fuse byte")) << once.output;
  EXPECT_TRUE(contains(highFuse(), std::string("Fuse byte 2: ") + part().factoryHigh + "\n"));

  ProcessResult twice = run({"-pf2f9", "-pf2f9"});
  EXPECT_EQ(twice.exitStatus, 0) << twice.output;
  EXPECT_TRUE(contains(twice.output, "Write fuse byte 2: f9\n")) << twice.output;
  EXPECT_FALSE(contains(twice.output, "Error")) << twice.output;
  EXPECT_TRUE(contains(highFuse(), "Fuse byte 2: f9\n"));

  ProcessResult safe = run({"-pf2d9"});
  EXPECT_EQ(safe.exitStatus, 0) << safe.output;
  EXPECT_TRUE(contains(safe.output, "Write fuse byte 2: d9\n")) << safe.output;
  EXPECT_FALSE(contains(safe.output, "would be")) << safe.output;
  EXPECT_TRUE(contains(highFuse(), "Fuse byte 2: d9\n"));
}

class ResetDisableRun : public FuseSafetyRun {};

TEST_P(ResetDisableRun, ProgrammingRstdisblOrDwenNeedsTheSameCommandTwiceOrForce) {
  ProcessResult once = run({"-pf259"});
  EXPECT_EQ(once.exitStatus, 2);
  EXPECT_TRUE(contains(once.output, "RSTDISBL would be programmed")) << once.output;
  EXPECT_TRUE(contains(highFuse(), std::string("Fuse byte 2: ") + part().factoryHigh + "\n"));

  ProcessResult twice = run({"-pf259", "-pf259"});
  EXPECT_EQ(twice.exitStatus, 0) << twice.output;
  EXPECT_TRUE(contains(highFuse(), "Fuse byte 2: 59\n"));

  ProcessResult forced = run({"--force-fuses", "-pf258"});
  EXPECT_EQ(forced.exitStatus, 0) << forced.output;
  EXPECT_FALSE(contains(forced.output, "would be")) << forced.output;
  EXPECT_TRUE(contains(highFuse(), "Fuse byte 2: 58\n"));

  ProcessResult dwen = run({"-pf299"});
  EXPECT_EQ(dwen.exitStatus, 2);
  EXPECT_TRUE(contains(dwen.output, "DWEN would be programmed")) << dwen.output;
}

std::string runName(const ::testing::TestParamInfo<std::tuple<Program, GuardedPart>>& info) {
  std::string name = std::get<0>(info.param) == Program::kTarnwick ? "tarnwick_" : "pellory_";
  return name + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Parts, FuseSafetyRun,
                         ::testing::Combine(::testing::Values(Program::kTarnwick,
                                                              Program::kPellory),
                                            ::testing::ValuesIn(kGuardedParts)),
                         runName);
INSTANTIATE_TEST_SUITE_P(Parts, ResetDisableRun,
                         ::testing::Combine(::testing::Values(Program::kTarnwick,
                                                              Program::kPellory),
                                            ::testing::ValuesIn(kResetDisableParts)),
                         runName);

namespace {

class FuseInputRun : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  ProcessResult run(const std::string& part, const std::vector<std::string>& arguments,
                    const std::string& input = "") {
    ProcessOptions options;
    options.standardInput = input;
    ProcessResult result = runOnSimulatedPart(GetParam(), part, dir.path(), arguments, options);
    EXPECT_FALSE(result.timedOut);
    return result;
  }

  // The simulated ATmega644P leaves the factory with ff 99 62.
  void expectFactoryFuses() {
    ProcessResult shown = run("ATmega644P", {"-gf", "-gl"});
    EXPECT_TRUE(contains(shown.output, "Fuse bytes: ff 99 62\n")) << shown.output;
    EXPECT_TRUE(contains(shown.output, "Fuse lock byte ff\n")) << shown.output;
  }

  TempDir dir;
};

}  // namespace

TEST_P(FuseInputRun, ValuesThatAreNotOneByteFailAndWriteNothing) {
  for (const char* command : {"-pf1e200", "-pfa620,d9,ff", "-pf1-1", "-pf2d9x"}) {
    ProcessResult refused = run("ATmega644P", {command});
    EXPECT_EQ(refused.exitStatus, 2) << command;
    EXPECT_FALSE(contains(refused.output, "Write fuse")) << refused.output;
  }
  expectFactoryFuses();
}

// Whatever the interpreter takes between a held write and its repetition
// counts as a command, so the repetition confirms nothing; and a failure before
// the confirmation stays.
TEST_P(FuseInputRun, OnlyTheVeryNextEntryConfirmsAHeldWrite) {
  writeFile(dir.file("comment.txt"), "# nothing to run\n");
  const struct {
    std::vector<std::string> arguments;
    std::string input;
  } cases[] = {
      {{"-pf2f9", "-fnosuch.txt", "-pf2f9"}, ""},
      {{"-pf2f9", "-fcomment.txt", "-pf2f9"}, ""},
      {{"-pf2f9", "stray", "-pf2f9"}, ""},
      {{}, "pf2f9\nfnosuch.txt\npf2f9\n"},
      {{}, "pf2f9\nfcomment.txt\nnosuch\npf2f9\n"},
  };
  for (const auto& c : cases) {
    ProcessResult result = run("ATmega644P", c.arguments, c.input);
    EXPECT_EQ(result.exitStatus, 2) << c.input << result.output;
    EXPECT_FALSE(contains(result.output, "Write fuse byte")) << result.output;
  }
  expectFactoryFuses();
  // After a failure the command line writes nothing more, confirmed or not.
  ProcessResult after = run("ATmega644P", {"-fnosuch.txt", "-pf2f9", "-pf2f9"});
  EXPECT_EQ(after.exitStatus, 2) << after.output;
  EXPECT_FALSE(contains(after.output, "Write fuse byte")) << after.output;
  EXPECT_TRUE(contains(after.output, "-pf2f9 not run: an earlier command failed")) << after.output;
}

TEST_P(FuseInputRun, CommentsAndWordsThatOnlyStartLikeACommandWriteNothing) {
  ProcessResult typed = run("ATmega644P", {}, "# apply settings later\nplease place\nall\n");
  EXPECT_FALSE(contains(typed.output, "Write")) << typed.output;
  ProcessResult erase = run("ATmega644P", {"-erase", "-gf"});
  EXPECT_NE(erase.exitStatus, 1);  // not ended by an exit command
  EXPECT_TRUE(contains(erase.output, "Fuse bytes: ff 99 62\n")) << erase.output;  // ran on
  expectFactoryFuses();
}

TEST_P(FuseInputRun, DefaultsOnTheAtmega2560LeaveWdtonUnprogrammed) {
  ProcessResult written = run("ATmega2560", {"-a", "-gf2"});
  EXPECT_EQ(written.exitStatus, 0) << written.output;
  EXPECT_TRUE(contains(written.output, "Write fuse bytes: ff db cf\n")) << written.output;
  EXPECT_TRUE(contains(written.output, "Fuse byte 2: db\n")) << written.output;  // bit 4 set
}

// The ATmega169PA keeps RSTDISBL in bit 0 of its extended fuse, where the
// variants it shares a signature with have none: its row guards it all the same.
TEST_P(FuseInputRun, TheAtmega169paResetPinIsGuardedInItsJoinedRow) {
  ProcessResult once = run("ATmega169PA", {"-pf3fe"});
  EXPECT_EQ(once.exitStatus, 2) << once.output;
  EXPECT_TRUE(contains(once.output, "RSTDISBL (ATmega169/ATmega169P/ATmega169PA) would be programmed"))
      << once.output;
  EXPECT_FALSE(contains(once.output, "Write fuse")) << once.output;
  EXPECT_TRUE(contains(run("ATmega169PA", {"-gf3"}).output, "Fuse byte 3: ff\n"));
}

TEST_P(FuseInputRun, ExplainedReportsFollowTheFuseLines) {
  ProcessResult plain = run("ATmega644P", {"-gf1"});
  EXPECT_FALSE(contains(plain.output, "CKSEL")) << plain.output;
  ProcessResult explained = run("ATmega644P", {"--explain-fuses", "-gf1"});
  EXPECT_TRUE(contains(explained.output,
                       "Fuse byte 1: 62\nFuse byte 1 (low) = 62\n"
                       "  bit 7 CKDIV8     0 programmed\n"))
      << explained.output;
  EXPECT_TRUE(
      contains(explained.output, "  clock: CKSEL 0010, calibrated internal RC oscillator"))
      << explained.output;
  // The start-up report is explained too, before the first command's output.
  ProcessResult startup = run("ATmega644P", {"--explain-fuses", "-i"});
  const size_t high = startup.output.find("Fuse byte 2 (high) = 99\n");
  EXPECT_NE(high, std::string::npos) << startup.output;
  EXPECT_LT(high, startup.output.find("Signature bytes:")) << startup.output;
}

TEST_P(FuseInputRun, NothingIsWrittenToATargetThatDoesNotAnswer) {
  ProcessOptions options;
  options.standardInput = "";
  options.workingDirectory = dir.path();
  ProcessResult result;
  if (GetParam() == Program::kPellory) {
    options.environment = simulatedCableEnvironment("ATmega644P", dir.file("chip.state"));
    options.environment["PELLORY_SIM_FAULT"] = "target-absent";
    result = runProcess(builtProgram("pellory"), {"-pf1e2", "-pl3c", "-pl3c"}, options);
  } else {
    KorvoSimProcess korvo;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    ASSERT_TRUE(korvo.start(dir.file("ttyKorvo1"),
                            {"--part", "ATmega644P", "--state", dir.file("chip.state"),
                             "--time-scale", scale, "--target-absent"}))
        << korvo.error();
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    result = runProcess(builtProgram("tarnwick"), {"-pf1e2", "-pl3c", "-pl3c"}, options);
    korvo.stop();
  }
  EXPECT_EQ(result.exitStatus, 2) << result.output;
  EXPECT_FALSE(contains(result.output, "Write fuse byte 1")) << result.output;
  EXPECT_FALSE(contains(result.output, "Write lock byte")) << result.output;
  // tarnwick's re-identification before each command already stops it
  // ("command not run"); pellory, whose target stays held, reaches the guard.
  EXPECT_TRUE(contains(result.output, "Target not responding - nothing written\n") ||
              contains(result.output, "Target not responding - command not run\n"))
      << result.output;
}

TEST_P(FuseInputRun, DecodingNamesEveryBitWithoutHardware) {
  ProcessOptions options;
  options.workingDirectory = dir.path();
  const char* program = GetParam() == Program::kTarnwick ? "tarnwick" : "pellory";
  for (const char* part : {"ATmega2560", "atmega644p", "ATmega328P"}) {
    ProcessResult decoded =
        runProcess(builtProgram(program), {"--decode-fuses", part, "62", "D9", "FF"}, options);
    EXPECT_EQ(decoded.exitStatus, 0) << decoded.output;
    for (const char* line :
         {"Fuse byte 1 (low) = 62\n", "  bit 7 CKDIV8     0 programmed\n",
          "  bit 4 SUT0       0 programmed\n", "  bit 1 CKSEL1     1 unprogrammed\n",
          "  clock: CKSEL 0010, calibrated internal RC oscillator", "Fuse byte 2 (high) = d9\n",
          "  bit 5 SPIEN      0 programmed\n", "  bit 2 BOOTSZ1    0 programmed\n",
          "  bit 0 BOOTRST    1 unprogrammed\n", "Fuse byte 3 (extended) = ff\n"}) {
      EXPECT_TRUE(contains(decoded.output, line)) << part << ": " << line << decoded.output;
    }
    EXPECT_FALSE(contains(decoded.output, "Korvo")) << decoded.output;  // no start-up
  }
  // A part that parts.txt names is decoded as it is listed.
  writeFile(dir.file("parts.txt"), "Mine2560 1E 98 01 262144 128 4096 3 62 D9 FF\n");
  ProcessResult renamed =
      runProcess(builtProgram(program), {"--decode-fuses", "mine2560", "62", "D9"}, options);
  EXPECT_EQ(renamed.exitStatus, 0) << renamed.output;
  EXPECT_TRUE(contains(renamed.output, "Mine2560\nFuse byte 1 (low) = 62\n")) << renamed.output;
  std::remove(dir.file("parts.txt").c_str());
  ProcessResult unknown =
      runProcess(builtProgram(program), {"--decode-fuses", "ATmega9999", "62", "D9"}, options);
  EXPECT_EQ(unknown.exitStatus, 2);
  ProcessResult bad =
      runProcess(builtProgram(program), {"--decode-fuses", "ATmega2560", "620", "D9"}, options);
  EXPECT_EQ(bad.exitStatus, 2);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, FuseInputRun,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const auto& info) {
                           return std::string(info.param == Program::kTarnwick ? "tarnwick"
                                                                               : "pellory");
                         });
