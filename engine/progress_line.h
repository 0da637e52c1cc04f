#pragma once
// A progress line rewritten in place ("...\r"). Printing one per flash word
// makes a log of a 256 KB transfer megabytes long, so updates are limited to a
// few dozen a second; the final value is always printed.

#include <chrono>
#include <cstdint>

class Console;

constexpr std::chrono::microseconds kDefaultProgressInterval{40000};

class ProgressLine {
 public:
  // format takes one long.
  ProgressLine(Console& console, const char* format);
  void update(int64_t value, bool final);

 private:
  Console& console_;
  const char* format_;
  bool printedOnce_ = false;
  std::chrono::steady_clock::time_point lastPrint_{};
};

// Least time between two printed updates. Zero prints every update; tests use
// that, or a very long interval, for transcripts that do not depend on speed.
void setProgressInterval(std::chrono::microseconds interval);
std::chrono::microseconds progressInterval();
