// The prompt's lines kept between runs: read back at the next start, the
// newest thousand only, in a file a user can read.

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>

#include "frontend/prompt_history.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(PromptHistory, LinesTypedInOneRunAreThereInTheNext) {
  TempDir dir;
  const std::string file = dir.file("state/tarnwick/history");
  PromptHistory first(file);
  EXPECT_TRUE(first.load().empty());
  EXPECT_TRUE(first.add("dfblink.hex nv\n"));
  EXPECT_TRUE(first.add("gf\r\n"));
  EXPECT_FALSE(first.add("\n"));
  EXPECT_EQ(readFile(file), "dfblink.hex nv\ngf\n");

  PromptHistory second(file);
  std::deque<std::string> expected = {"dfblink.hex nv", "gf"};
  EXPECT_EQ(second.load(), expected);
}

TEST(PromptHistory, OnlyTheNewestThousandLinesAreKept) {
  TempDir dir;
  const std::string file = dir.file("history");
  std::string text;
  for (int i = 1; i <= 1200; ++i) text += "sf" + std::to_string(i) + "\n";
  writeFile(file, text);
  PromptHistory history(file);
  ASSERT_EQ(history.load().size(), 1000u);
  EXPECT_EQ(history.lines().front(), "sf201");
  history.add("i");
  PromptHistory reread(file);
  ASSERT_EQ(reread.load().size(), 1000u);
  EXPECT_EQ(reread.lines().front(), "sf202");
  EXPECT_EQ(reread.lines().back(), "i");
}

TEST(PromptHistory, TheFileLivesInTheStateFolder) {
  std::string saved = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
  setenv("XDG_STATE_HOME", "/var/state/ann", 1);
  EXPECT_EQ(PromptHistory::fileFor("pellory"), "/var/state/ann/pellory/history");
  if (saved.empty()) {
    unsetenv("XDG_STATE_HOME");
  } else {
    setenv("XDG_STATE_HOME", saved.c_str(), 1);
  }
}

}  // namespace
