// The real console's tokens from standard input: capped as a script's are, so
// endless input (`tarnwick </dev/zero`) is never held whole, while a token too
// long for any command stays too long to be mistaken for a shorter one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "frontend/command_interpreter.h"
#include "frontend/logged_console.h"
#include "frontend/stdio_console.h"
#include "tests/support/temp_dir.h"

namespace {

// Standard input read from a file for the life of the object.
class InputFromFile {
 public:
  explicit InputFromFile(const std::string& path) : saved_(dup(STDIN_FILENO)) {
    int fd = open(path.c_str(), O_RDONLY);
    dup2(fd, STDIN_FILENO);
    close(fd);
  }
  ~InputFromFile() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

TEST(StdioConsole, AnOverlongTokenIsCutJustBeyondTheLongestCommand) {
  TempDir dir;
  const std::string endless(size_t{4} << 20, 'x');
  writeFile(dir.file("input"),
            "sf1 " + endless + "\n" + std::string(kCommandTokenRoom, 'y') + " sf2");
  InputFromFile input(dir.file("input"));
  StdioConsole console;
  std::string token;
  ASSERT_TRUE(console.readToken(token));
  EXPECT_EQ(token, "sf1");
  ASSERT_TRUE(console.readToken(token));
  EXPECT_EQ(token, std::string(kCommandTokenRoom + 1, 'x'));
  // The longest a command may be comes through whole.
  ASSERT_TRUE(console.readToken(token));
  EXPECT_EQ(token, std::string(kCommandTokenRoom, 'y'));
  ASSERT_TRUE(console.readToken(token));
  EXPECT_EQ(token, "sf2");
  EXPECT_FALSE(console.readToken(token));
}

// While a log is open, every finished line goes to it too; a progress line
// only as it finally stands, and a line break sent apart from its carriage
// return (the Korvo's sign-on comes a byte at a time) still ends its line.
TEST(LoggedConsole, CopiesEachFinishedLineWhileALogIsOpen) {
  ScriptedConsole inner;
  LoggedConsole console(inner);
  std::FILE* log = nullptr;
  console.copyLinesTo(&log);
  console.write("before\n");
  TempDir dir;
  log = std::fopen(dir.file("run.log").c_str(), "w");
  for (const char* piece :
       {"Bytes: 2\r", "Bytes: 4\r", "Bytes written 4\n", "USB\r", "\n", "no end"}) {
    console.write(piece);
  }
  std::fclose(log);
  log = nullptr;
  console.write("after\n");
  EXPECT_EQ(readFile(dir.file("run.log")), "Bytes written 4\nUSB\n");
  EXPECT_EQ(inner.output(), "before\nBytes: 2\rBytes: 4\rBytes written 4\nUSB\r\nno endafter\n");
}

}  // namespace
