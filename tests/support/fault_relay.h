#pragma once
// A faulty line between a program and korvo-sim: a pseudo-terminal of its own
// that the program opens as its port, relaying every byte to and from the
// simulator's link, except that one or two of the bytes the Korvo sends are
// lost, doubled or preceded by a stray byte. Each open of the program's end is
// passed on as an open of the simulator's, so each run gets its sign-on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct LineFault {
  enum Kind { kNone, kDouble, kStrayBefore, kDrop };
  Kind kind = kNone;
  // The byte acted on, counted from 1 over all the Korvo sends from the
  // start of the relaying; 0 = none.
  uint64_t at = 0;
  uint8_t stray = 0x3E;
};

class FaultRelay {
 public:
  // The program's end appears as `portPath` (a symbolic link to the
  // pseudo-terminal); `korvoPath` is korvo-sim's --link.
  FaultRelay(const std::string& portPath, const std::string& korvoPath);
  ~FaultRelay();
  FaultRelay(const FaultRelay&) = delete;
  FaultRelay& operator=(const FaultRelay&) = delete;

  // Up to two faults, acted on in the order of the bytes they name.
  void start(LineFault first = LineFault(), LineFault second = LineFault());
  // As a USB Korvo does, answers to frames still on their way when the
  // program closed its port are kept and arrive when it opens it again,
  // ahead of the new sign-on.
  void keepLateAnswers() { keepLate_ = true; }
  // Waits until the program has sent `count` bytes more than when `since`
  // was taken; false after `timeoutMs`.
  uint64_t programBytes();
  bool waitForProgramBytes(uint64_t since, uint64_t count, int timeoutMs);
  void stop();
  // How many faults have been acted on so far.
  int faultsDone() const { return faultsDone_; }

 private:
  void serve();
  void openKorvoEnd();
  void closeKorvoEnd();
  void relayFromKorvo();
  void collectLateAnswers();
  bool programReopened();

  std::string portPath_;
  std::string korvoPath_;
  int master_ = -1;
  int openWatch_ = -1;
  int korvo_ = -1;
  std::chrono::steady_clock::time_point korvoClosedAt_;
  std::chrono::steady_clock::time_point programOpenedAt_;
  bool programWasHere_ = false;
  LineFault faults_[2];
  uint64_t korvoBytes_ = 0;
  bool keepLate_ = false;
  std::basic_string<uint8_t> late_;
  std::mutex mutex_;
  std::condition_variable programSent_;
  uint64_t programBytes_ = 0;
  std::atomic<int> faultsDone_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
