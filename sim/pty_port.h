#pragma once
// The simulated Korvo's end of a pseudo-terminal pair, published under a
// symbolic link that the host opens as its serial port. The only file of the
// simulator that talks to the terminal layer.

#include <sys/types.h>
#include <termios.h>

#include <cstdint>
#include <string>

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Creates the pair and makes `linkPath` a symbolic link to the terminal
  // device. An existing symbolic link there (left by a simulator that was
  // killed) is replaced; any other existing file is left alone and refused.
  bool open(const std::string& linkPath, std::string* error);

  const std::string& deviceName() const { return deviceName_; }
  // Descriptors to poll: the master for data, the watch for the host opening
  // the device (-1 when the system offers no watch; see hostOpenedSinceLastCheck).
  int masterFd() const { return master_; }
  int watchFd() const { return watch_; }

  // True when the host opened the device since the last call (several quick
  // opens count once: the host only reads the latest).
  bool hostOpenedSinceLastCheck();
  // True when no process has the device open any more.
  bool hostClosed() const;

  // The host's line settings (the master reports the device side's).
  bool lineSettings(termios* settings) const;
  // Puts the line back as a terminal is before a program sets it up (echo
  // and line editing on), so that the next host's own set-up can be seen.
  void resetLineSettings();

  // Non-blocking; -1 with errno as read(2)/write(2).
  ssize_t read(uint8_t* buffer, size_t size);
  ssize_t write(const uint8_t* bytes, size_t size);

  // The device disappears: the host's next read sees a hang-up and the link
  // is gone.
  void hangUp();

 private:
  void removeLink();

  int master_ = -1;
  int watch_ = -1;
  std::string deviceName_;
  std::string linkPath_;
  // Without a watch, a host open shows as the master's hang-up clearing.
  bool lastSeenClosed_ = true;
};
