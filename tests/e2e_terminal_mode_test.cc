// tarnwick's terminal mode at a real terminal, talking to korvo-sim: keys go
// to the Korvo, its answers show, Escape leaves, and the terminal is left as
// it was found.

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal_session.h"

namespace {

constexpr tcflag_t kLineModes = ICANON | ECHO | ISIG;

// tarnwick at its prompt in a terminal, with korvo-sim behind it.
class TerminalModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeRealCalibration(dir.path());
    ASSERT_TRUE(korvo.start(dir.file("ttyKorvo1"), {"--time-scale", "0.001"})) << korvo.error();
    ASSERT_TRUE(terminal.start(builtProgram("tarnwick"), dir.path(),
                               {{"TARNWICK_TTY_PREFIX", dir.file("ttyKorvo")}}));
    before = terminal.settings();
    ASSERT_TRUE(terminal.waitFor("responding")) << terminal.shown();
    ASSERT_TRUE(terminal.waitFor("\n-")) << terminal.shown();
  }

  void enterTerminalMode() {
    terminal.type("t\n");
    ASSERT_TRUE(terminal.waitFor("Terminal mode - all characters sent to serial port"))
        << terminal.shown();
    ASSERT_TRUE(terminal.waitFor(":")) << terminal.shown();
  }

  TempDir dir;
  KorvoSimProcess korvo;
  TerminalSession terminal;
  struct termios before {};
};

TEST_F(TerminalModeTest, InterruptAndQuitKeysGoToTheKorvoAsBytes) {
  enterTerminalMode();
  // Ctrl-C and Ctrl-\ would end the program if the terminal still made
  // signals of them; the Korvo echoes them like any other key.
  terminal.type("\x03\x1cz");
  EXPECT_TRUE(terminal.waitFor("\x03\x1cz")) << terminal.shown();
  terminal.type("\x1b");
  EXPECT_TRUE(terminal.waitFor("Exiting terminal mode")) << terminal.shown();
  terminal.type("e\n");
  EXPECT_EQ(terminal.finish(), 1) << terminal.shown();
  EXPECT_EQ(terminal.settings().c_lflag & kLineModes, before.c_lflag & kLineModes);
}

TEST_F(TerminalModeTest, AQuitSignalInTerminalModeStillRestoresTheTerminal) {
  enterTerminalMode();
  terminal.signal(SIGQUIT);
  EXPECT_EQ(terminal.finish(), -1) << terminal.shown();
  EXPECT_EQ(terminal.settings().c_lflag & kLineModes, before.c_lflag & kLineModes);
}

TEST_F(TerminalModeTest, KeysReachTheKorvoAndEscapeRestoresTheTerminal) {
  enterTerminalMode();
  // Outside a programming sequence the Korvo echoes what it gets: what shows
  // is its answer, since the terminal itself no longer echoes.
  terminal.type("hi");
  EXPECT_TRUE(terminal.waitFor("hi")) << terminal.shown();
  terminal.type("3");
  EXPECT_TRUE(terminal.waitFor("[3 received]")) << terminal.shown();
  terminal.type("\x1b");
  EXPECT_TRUE(terminal.waitFor("Exiting terminal mode")) << terminal.shown();

  terminal.type("e\n");
  EXPECT_EQ(terminal.finish(), 1) << terminal.shown();
  EXPECT_EQ(terminal.settings().c_lflag & kLineModes, before.c_lflag & kLineModes);
}

}  // namespace
