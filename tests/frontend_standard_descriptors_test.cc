// A program started with standard input, output or error closed: each closed
// descriptor gets /dev/null, so the files and ports the run opens later never
// take their numbers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "frontend/standard_descriptors.h"

namespace {

bool isDevNull(int fd, int accessMode) {
  struct stat opened, null;
  if (fstat(fd, &opened) != 0 || stat("/dev/null", &null) != 0) return false;
  const int flags = fcntl(fd, F_GETFL);
  return opened.st_rdev == null.st_rdev && S_ISCHR(opened.st_mode) && flags >= 0 &&
         (flags & O_ACCMODE) == accessMode;
}

// Runs in a child, whose descriptors may be closed freely: closes `closed`,
// reopens, and reports in the exit status which check failed (0 for none).
int childStatus(const std::vector<int>& closed) {
  pid_t child = fork();
  if (child == 0) {
    for (int fd : closed) close(fd);
    openClosedStandardDescriptors();
    for (int fd : closed) {
      if (!isDevNull(fd, fd == STDIN_FILENO ? O_RDONLY : O_WRONLY)) _exit(10 + fd);
    }
    // The next file opened gets a number above the standard three.
    const int next = open("/dev/null", O_RDONLY);
    if (next <= STDERR_FILENO) _exit(20 + next);
    _exit(0);
  }
  int status = -1;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(StandardDescriptors, EachClosedOneIsReopenedOnDevNull) {
  EXPECT_EQ(childStatus({STDIN_FILENO}), 0);
  EXPECT_EQ(childStatus({STDOUT_FILENO}), 0);
  EXPECT_EQ(childStatus({STDERR_FILENO}), 0);
  EXPECT_EQ(childStatus({STDIN_FILENO, STDERR_FILENO}), 0);
  EXPECT_EQ(childStatus({STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}), 0);
}

}  // namespace
