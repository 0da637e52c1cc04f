// The lock file that keeps a second program off a port in use: who holds it,
// what happens to a lock whose owner has ended, and that it goes with its port.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

}  // namespace
