// tarnwick's terminal mode at a real terminal, talking to korvo-sim: keys go
// to the Korvo, its answers show, Escape leaves, and the terminal is left as
// it was found.

#include <gtest/gtest.h>

#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal_session.h"

namespace {

TEST(TerminalModeAtATerminal, KeysReachTheKorvoAndEscapeRestoresTheTerminal) {
  TempDir dir;
  writeRealCalibration(dir.path());
  KorvoSimProcess korvo;
  ASSERT_TRUE(korvo.start(dir.file("ttyKorvo1"), {"--time-scale", "0.001"})) << korvo.error();

  TerminalSession terminal;
  ASSERT_TRUE(terminal.start(builtProgram("tarnwick"), dir.path(),
                             {{"TARNWICK_TTY_PREFIX", dir.file("ttyKorvo")}}));
  const struct termios before = terminal.settings();
  ASSERT_TRUE(terminal.waitFor("responding")) << terminal.shown();
  ASSERT_TRUE(terminal.waitFor("\n-")) << terminal.shown();

  terminal.type("t\n");
  ASSERT_TRUE(terminal.waitFor("Terminal mode - all characters sent to serial port"))
      << terminal.shown();
  ASSERT_TRUE(terminal.waitFor(":")) << terminal.shown();
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
  const struct termios after = terminal.settings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
}

}  // namespace
