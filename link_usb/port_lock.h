#pragma once
// An owner's mark on a serial device, in the form serial programs have long
// shared: a file "LCK..<device>" in the system's lock folder that holds the
// owner's process id as ten right-aligned digits and a line end. It is looked
// at before the device is opened at all, since even an open that is then
// refused can disturb the programmer another program is talking to.

#include <sys/types.h>

#include <string>

class PortLock {
 public:
  PortLock() = default;
  ~PortLock();
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock on `device` in `folder`. 0 when taken, and also when the
  // folder cannot hold it (the device's own exclusive open still guards);
  // EBUSY when a live process holds it (holder() tells which). A lock left by
  // a process that has ended is removed and taken over.
  int acquire(const std::string& device, const std::string& folder);
  // Removes the lock file if it is still ours.
  void release();

  pid_t holder() const { return holder_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;  // the lock file being held or found held
  bool held_ = false;
  pid_t holder_ = 0;
};

// Where lock files go: $TARNWICK_LOCK_DIR when set, else /var/lock, else
// /run/lock.
std::string portLockFolder();
// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3; names are of
// the device that `device` leads to, so that two links to it share one lock.
std::string portLockName(const std::string& device);
