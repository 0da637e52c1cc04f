// The prompt's lines kept between runs: read back at the next start, the
// newest thousand only, in a file a user can read.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>

#include "frontend/prompt_history.h"
#include "tests/support/shared_folder.h"
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
  EXPECT_EQ(readFile(file), std::string(PromptHistory::kMarker) + "\ndfblink.hex nv\ngf\n");

  PromptHistory second(file);
  std::deque<std::string> expected = {"dfblink.hex nv", "gf"};
  EXPECT_EQ(second.load(), expected);
}

TEST(PromptHistory, OnlyTheNewestThousandLinesAreKept) {
  TempDir dir;
  const std::string file = dir.file("history");
  std::string text = std::string(PromptHistory::kMarker) + "\n";
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

// Whatever stands in the history's place that the program did not write as
// its history is read at most, never waited on, and left exactly as it was.
TEST(PromptHistory, WhatIsNotItsOwnHistoryIsLeftAsItIs) {
  TempDir dir;
  // In a sticky world-writable folder, where another user may plant a link.
  ASSERT_TRUE(makeStickyFolder(dir.file("shared")));
  const std::string file = dir.file("shared/history");
  const std::string other = dir.file("ledger.txt");
  // A gigabyte on one line, as a sparse file: only its tail may be read.
  const off_t huge = off_t{1} << 30;
  struct Case {
    const char* name;
    std::function<void()> make;
    size_t linesRead;
    std::string note;
  } cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }, 0,
       file + ": Not a regular file - history not kept"},
      {"a link",
       [&] {
         writeFile(other, std::string(PromptHistory::kMarker) + "\nsf1\n");
         ASSERT_EQ(::symlink(other.c_str(), file.c_str()), 0);
       },
       1, file + " is a symbolic link - history read, not kept"},
      {"another user's link",
       [&] {
         writeFile(other, std::string(PromptHistory::kMarker) + "\nsf1\n");
         // Only root can give a link away; elsewhere it is the user's own.
         ASSERT_TRUE(runningAsRoot() ? plantLink(file, other, kOtherUser)
                                     : ::symlink(other.c_str(), file.c_str()) == 0);
       },
       runningAsRoot() ? 0u : 1u,
       runningAsRoot() ? file + ": a symbolic link in a shared sticky folder, owned by another "
                                "user; not followed - history not kept"
                       : file + " is a symbolic link - history read, not kept"},
      {"a file of the user's", [&] { writeFile(file, "gf\ni\n"); }, 2,
       file + " was not written as a prompt history - left alone, history not kept"},
      {"a huge one-line file",
       [&] {
         writeFile(file, "x");
         ASSERT_EQ(::truncate(file.c_str(), huge), 0);
       },
       0, file + " was not written as a prompt history - left alone, history not kept"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    std::remove(file.c_str());
    std::remove(other.c_str());
    each.make();
    struct stat before, after;
    ASSERT_EQ(::lstat(file.c_str(), &before), 0);
    const std::string otherBefore = fileExists(other) ? readFile(other) : "";
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    const long peakBefore = usage.ru_maxrss;
    PromptHistory history(file);
    EXPECT_EQ(history.load().size(), each.linesRead);
    EXPECT_EQ(history.note(), each.note);
    EXPECT_FALSE(history.add("dfblink.hex"));
    ::getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss - peakBefore, 64 * 1024) << "kilobytes more at the peak";
    ASSERT_EQ(::lstat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(fileExists(other) ? readFile(other) : "", otherBefore);
  }
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
