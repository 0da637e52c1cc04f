// The lock file that keeps a second program off a port in use: who holds it,
// what happens to a lock whose owner has ended, and that it goes with its port.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "image/output_file.h"
#include "link_usb/port_lock.h"
#include "tests/support/temp_dir.h"

namespace {

std::string lockText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// The id of a process that has ended.
pid_t endedProcess() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST(PortLock, IsNamedAfterTheDeviceBehindTheName) {
  EXPECT_EQ(portLockName("/nonexistent/ttyUSB0"), "LCK..nonexistent_ttyUSB0");
  EXPECT_EQ(portLockName("/dev/null"), "LCK..null");
  TempDir dir;
  ASSERT_EQ(symlink("/dev/null", dir.file("korvo").c_str()), 0);
  EXPECT_EQ(portLockName(dir.file("korvo")), "LCK..null");
}

TEST(PortLock, HoldsTheOwnersIdUntilReleased) {
  TempDir dir;
  PortLock lock;
  ASSERT_EQ(lock.acquire("/dev/null", dir.path()), 0);
  EXPECT_EQ(readFile(dir.file("LCK..null")), lockText(getpid()));

  // A second taker, in whatever process, finds it held.
  PortLock second;
  EXPECT_EQ(second.acquire("/dev/null", dir.path()), EBUSY);
  EXPECT_EQ(second.holder(), getpid());

  lock.release();
  EXPECT_FALSE(fileExists(dir.file("LCK..null")));
  EXPECT_EQ(second.acquire("/dev/null", dir.path()), 0);
}

TEST(PortLock, ALiveOwnerBlocksAndAnEndedOneDoesNot) {
  TempDir dir;
  // Our parent is alive and is not us.
  writeFile(dir.file("LCK..null"), lockText(getppid()));
  PortLock lock;
  EXPECT_EQ(lock.acquire("/dev/null", dir.path()), EBUSY);
  EXPECT_EQ(lock.holder(), getppid());
  EXPECT_EQ(readFile(dir.file("LCK..null")), lockText(getppid()));

  for (const std::string& stale :
       {lockText(endedProcess()), std::string("garbage\n"), std::string()}) {
    writeFile(dir.file("LCK..null"), stale);
    EXPECT_EQ(lock.acquire("/dev/null", dir.path()), 0) << stale;
    EXPECT_EQ(readFile(dir.file("LCK..null")), lockText(getpid()));
    lock.release();
  }
}

TEST(PortLock, AFolderThatCannotHoldLocksDoesNotStopTheRun) {
  PortLock lock;
  EXPECT_EQ(lock.acquire("/dev/null", "/nonexistent/locks"), 0);
}

// Ctrl-C, a kill or a closed terminal in the middle of a run: the lock goes
// with the process, as the temporary output file does, so the next run finds
// the port free at once. The signal still ends the process as it would have.
TEST(PortLock, ASignalThatEndsTheProcessRemovesTheLock) {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    for (bool writing : {false, true}) {
      TempDir dir;
      writeFile(dir.file("up.hex"), "old");
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        PortLock lock;
        if (lock.acquire("/dev/null", dir.path()) != 0) _exit(3);
        // An upload being written when the signal comes: both cleanups run.
        OutputFile file;
        if (writing && (!file.open(dir.file("up.hex")) || !file.write("half", 4))) _exit(4);
        raise(signalNumber);
        _exit(5);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      const std::string context = "signal " + std::to_string(signalNumber) +
                                  (writing ? " while writing" : "");
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber)
          << context << ", status " << status;
      EXPECT_FALSE(fileExists(dir.file("LCK..null"))) << context;
      EXPECT_EQ(readFile(dir.file("up.hex")), "old") << context;
    }
  }
}

// A lock released before the signal is not removed again: by then it may be
// another process's.
TEST(PortLock, ASignalAfterTheReleaseLeavesAnotherHoldersLockAlone) {
  TempDir dir;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PortLock lock;
    if (lock.acquire("/dev/null", dir.path()) != 0) _exit(3);
    lock.release();
    writeFile(dir.file("LCK..null"), lockText(getppid()));
    raise(SIGTERM);
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(readFile(dir.file("LCK..null")), lockText(getpid()));
}

}  // namespace
