#pragma once
// The programmer's serial port on termios: the only code that touches the
// operating system for it. Raw 8N1 without flow control, opened for exclusive
// use so that a second program on the same port fails instead of interleaving
// its traffic with ours.

#include <cstddef>
#include <cstdint>
#include <string>

#include "link_usb/port_lock.h"

enum class SerialStatus {
  kOk,
  kTimeout,  // nothing arrived within the time limit
  kLost,     // hang-up (cable pulled, other end closed) or an I/O error
};

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `device` at the line speed of `baudCode` (0..9, the configuration's
  // baud table; code 8 opens 57600). Returns 0, or the errno of the step that
  // failed, with the port closed again: EBUSY without opening the device at
  // all when another live process holds its lock file.
  int open(const std::string& device, int baudCode);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  // The lock file, and its holder after an open refused for it (0 otherwise).
  const PortLock& lock() const { return lock_; }

  // Hands the whole buffer to the device, retrying partial writes. kLost when
  // the device refused it.
  SerialStatus send(const uint8_t* data, size_t length);
  // One received byte, waiting at most `timeoutMs` (0: only what is there).
  SerialStatus receive(uint8_t& byte, int timeoutMs);
  // Drops every byte received and not yet read, in the driver and here.
  // Bytes still on their way are not waited for.
  void discardInput();

  // write(2) calls made so far; lets tests see how traffic was batched.
  size_t writeCalls() const { return writeCalls_; }

 private:
  SerialStatus fill(int timeoutMs);

  PortLock lock_;
  int fd_ = -1;
  uint8_t buffer_[256];
  size_t bufferStart_ = 0;
  size_t bufferEnd_ = 0;
  size_t writeCalls_ = 0;
};

// The termios speed constant for a baud code, or 0 for a code outside 0..9.
unsigned int baudConstantFromCode(int baudCode);
