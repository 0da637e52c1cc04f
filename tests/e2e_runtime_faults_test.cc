// Whole runs when the surroundings are wrong: a closed standard input, a
// device on the port that never stops talking, a target that never answered.
// Each must end the run, with the status its cause gives, and change nothing.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/pty_korvo.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal_session.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

size_t linesStartingWith(const std::string& text, const std::string& start) {
  size_t count = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, start.size(), start) == 0) ++count;
    at = end + 1;
  }
  return count;
}

// The time limits below only keep a faulty program from hanging the tests;
// the runs themselves end in seconds.
constexpr int kGenerousSeconds = 90;

class TarnwickFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { writeRealCalibration(dir.path()); }

  void startKorvo() {
    ASSERT_TRUE(korvo.start(dir.file("ttyKorvo1"), {"--time-scale", "0.001"})) << korvo.error();
  }

  ProcessResult runTarnwick(const std::vector<std::string>& arguments,
                            ProcessOptions options = {}) {
    options.workingDirectory = dir.path();
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    options.timeLimitSeconds = kGenerousSeconds;
    return runProcess(builtProgram("tarnwick"), arguments, options);
  }

  TempDir dir;
  KorvoSimProcess korvo;
};

class PelloryFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { writeFastCalibration(dir.path()); }

  ProcessResult runPellory(const std::vector<std::string>& arguments, ProcessOptions options = {}) {
    options.workingDirectory = dir.path();
    auto cable = simulatedCableEnvironment("ATmega644P", dir.file("chip.state"));
    options.environment.insert(cable.begin(), cable.end());
    options.timeLimitSeconds = kGenerousSeconds;
    return runProcess(builtProgram("pellory"), arguments, options);
  }

  TempDir dir;
};

// --- A closed standard input ----------------------------------------------------

TEST_F(TarnwickFaultTest, AClosedStandardInputEndsThePromptInsteadOfReadingThePort) {
  startKorvo();
  ProcessOptions options;
  options.closeStandardInput = true;
  ProcessResult run = runTarnwick({}, options);
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_TRUE(contains(run.output, "Target ATmega644P responding")) << run.output;
  EXPECT_TRUE(endsWith(run.output, "\n-\nProgram finished - hit any key to exit!\n")) << run.output;
}

TEST_F(PelloryFaultTest, AClosedStandardInputEndsThePrompt) {
  ProcessOptions options;
  options.closeStandardInput = true;
  options.environment["PELLORY_SIM_TRACE"] = dir.file("trace");
  ProcessResult run = runPellory({}, options);
  ASSERT_FALSE(run.timedOut) << run.output;
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_TRUE(endsWith(run.output, "\n-\nProgram finished!\n")) << run.output;
}

// --- A device that never stops talking --------------------------------------------

TEST_F(TarnwickFaultTest, ADeviceThatNeverStopsSendingEndsTheRun) {
  // Its text never holds the sign-on's ">": not a Korvo.
  PtyKorvo chatter;
  writeFile(dir.file("sfconfig.txt"), "comchannel " + chatter.devicePath() + "\n");
  chatter.sendForever("login: ");
  ProcessResult run = runTarnwick({"-i"});
  EXPECT_TRUE(chatter.stopSending());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3) << run.output;
  EXPECT_TRUE(contains(run.output,
                       "\nError - the device on the port keeps sending without a Korvo sign-on\n"
                       "\nKorvo not installed\n"))
      << run.output;

  // A sign-on, then talk that never holds the "a" accepting programming mode.
  PtyKorvo signsOnThenChatters;
  writeFile(dir.file("sfconfig.txt"), "comchannel " + signsOnThenChatters.devicePath() + "\n");
  signsOnThenChatters.sendForever("\r\nKorvo USB ISP V2.3\r\n>busy ");
  run = runTarnwick({"-i"});
  EXPECT_TRUE(signsOnThenChatters.stopSending());
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 4) << run.output;
  EXPECT_TRUE(contains(run.output, "\nError - no valid reply from Korvo\n") ||
              contains(run.output, "\nError - no reply from Korvo\n"))
      << run.output;
}

// --- A port in use ---------------------------------------------------------------------

TEST_F(TarnwickFaultTest, ASecondTarnwickLeavesAPortInUseAlone) {
  startKorvo();
  std::string locks = dir.file("locks");
  ASSERT_EQ(mkdir(locks.c_str(), 0755), 0);
  writeFile(dir.file("big.hex"), intelHexText(randomBytes(65536, 12)));
  const std::map<std::string, std::string> environment = {
      {"TARNWICK_TTY_PREFIX", dir.file("ttyKorvo")}, {"TARNWICK_LOCK_DIR", locks}};

  TerminalSession first;
  ASSERT_TRUE(first.start(builtProgram("tarnwick"), dir.path(), environment));
  ASSERT_TRUE(first.waitFor("responding")) << first.shown();
  ASSERT_TRUE(first.waitFor("\n-")) << first.shown();
  first.type("dfbig.hex\n");
  ASSERT_TRUE(first.waitFor("Programming")) << first.shown();

  // While the first one writes, a second one is started on the same port.
  ProcessOptions options;
  options.environment = environment;
  ProcessResult second = runTarnwick({"-i"}, options);
  ASSERT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitStatus, 3) << second.output;
  EXPECT_TRUE(contains(second.output, " is in use by process ")) << second.output;
  EXPECT_TRUE(contains(second.output, "\nKorvo not installed\n")) << second.output;

  EXPECT_TRUE(first.waitFor("Target matches big.hex", 60)) << first.shown();
  first.type("e\n");
  EXPECT_EQ(first.finish(), 1) << first.shown();
  // The lock went with the run that held it; the next run takes the port.
  ProcessResult third = runTarnwick({"-i"}, options);
  EXPECT_EQ(third.exitStatus, 0) << third.output;
  EXPECT_TRUE(contains(third.output, "Signature bytes: 1e 96 a")) << third.output;
}

// --- pellory's start-up --------------------------------------------------------------

TEST_F(PelloryFaultTest, UploadFromATargetThatNeverAnsweredIsRefusedAndKeepsTheFile) {
  writeFile(dir.file("b.hex"), ":00000001FF\n");
  ProcessOptions options;
  options.environment["PELLORY_SIM_FAULT"] = "target-absent";
  ProcessResult run = runPellory({"-ufb.hex"}, options);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 2) << run.output;
  EXPECT_TRUE(contains(run.output, "-ufb.hexTarget processor not recognized - command not run\n"))
      << run.output;
  EXPECT_EQ(readFile(dir.file("b.hex")), ":00000001FF\n");
}

TEST_F(PelloryFaultTest, StartUpReadsEachFuseOnce) {
  ProcessOptions options;
  options.environment["PELLORY_SIM_TRACE"] = dir.file("trace");
  ProcessResult run = runPellory({"no-command"}, options);
  ASSERT_FALSE(run.timedOut);
  EXPECT_TRUE(contains(run.output, "Target ATmega644P responding - default fuses not set\n"))
      << run.output;
  std::string trace = readFile(dir.file("trace"));
  EXPECT_EQ(linesStartingWith(trace, "50 00"), 1u) << trace;  // low fuse
  EXPECT_EQ(linesStartingWith(trace, "58 08"), 1u) << trace;  // high fuse
  EXPECT_EQ(linesStartingWith(trace, "50 08"), 1u) << trace;  // extended fuse
}

}  // namespace
