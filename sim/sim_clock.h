#pragma once
// Time for the simulated target. Datasheet times are multiplied by the scale, so
// tests can run a chip at 1/1000 of its real self-timed delays.

#include <chrono>
#include <cstdint>

class SimClock {
 public:
  explicit SimClock(double timeScale = 1.0) : scale_(timeScale) {}

  // A clock that only moves when advanceMicros() is called, so tests can step
  // exactly to either side of a datasheet limit without waiting.
  static SimClock manual(double timeScale = 1.0) {
    SimClock clock(timeScale);
    clock.manual_ = true;
    return clock;
  }

  double scale() const { return scale_; }
  // Monotonic now, in microseconds.
  int64_t nowMicros() const {
    if (manual_) return manualNow_;
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // Monotonic now, in nanoseconds, for times shorter than a few microseconds.
  int64_t nowNanos() const {
    if (manual_) return manualNow_ * 1000;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // A datasheet duration in microseconds, scaled.
  int64_t scaled(int64_t datasheetMicros) const {
    return static_cast<int64_t>(static_cast<double>(datasheetMicros) * scale_);
  }
  // Moves a manual clock on; a real clock ignores it.
  void advanceMicros(int64_t micros) {
    if (manual_ && micros > 0) manualNow_ += micros;
  }

 private:
  double scale_;
  bool manual_ = false;
  int64_t manualNow_ = 0;
};
