// A target that does not echo Programming Enable when a command brings it
// back into programming mode: whatever the signature read then returns is not
// the target's, so the command does not run, and the run's status says so.

#include <gtest/gtest.h>

#include <string>

#include "frontend/command_interpreter.h"
#include "frontend/profile.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega168Row = 2;

class UnresponsiveTarget : public ::testing::Test {
 protected:
  UnresponsiveTarget() {
    dir.enter();
    harness.identifyAs(kAtmega168Row);
    harness.session.target.targetReleased = true;
  }
  std::string run(const std::string& token) {
    harness.console.clearOutput();
    harness.link.clearEvents();
    EXPECT_EQ(executeCommand(harness.session, token), CommandOutcome::kContinue);
    return harness.console.output();
  }
  TempDir dir;
  EngineHarness harness;
};

TEST_F(UnresponsiveTarget, ACommandWithoutTheEnableEchoDoesNotRun) {
  writeFile(dir.file("kept.hex"), "an earlier upload\n");
  harness.link.enableEchoes = {0xFF};
  EXPECT_EQ(run("ufkept.hex"), "Target not responding - command not run\n");
  EXPECT_TRUE(harness.session.commandFailed);
  EXPECT_EQ(harness.link.instructionsWith(0x20).size(), 0u);  // no flash read
  EXPECT_EQ(readFile(dir.file("kept.hex")), "an earlier upload\n");
  // The target is released again, as after any command.
  EXPECT_TRUE(harness.session.target.targetReleased);

  // The same command runs once the target answers.
  harness.session.commandFailed = false;
  harness.link.enableEchoes = {0x53};
  EXPECT_EQ(run("i").rfind("Signature bytes: ", 0), 0u);
  EXPECT_FALSE(harness.session.commandFailed);
}

TEST_F(UnresponsiveTarget, CommandsThatLeaveTheTargetAloneStillRun) {
  harness.link.enableEchoes = {0xFF};
  EXPECT_EQ(run("sf1"), "Fill char=1\n");
  EXPECT_FALSE(harness.session.commandFailed);
}

}  // namespace
