#pragma once
// Time for the simulated target. Datasheet times are multiplied by the scale, so
// tests can run a chip at 1/1000 of its real self-timed delays.

#include <chrono>
#include <cstdint>

class SimClock {
 public:
  explicit SimClock(double timeScale = 1.0) : scale_(timeScale) {}

  double scale() const { return scale_; }
  // Monotonic now, in microseconds.
  int64_t nowMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  // A datasheet duration in microseconds, scaled.
  int64_t scaled(int64_t datasheetMicros) const {
    return static_cast<int64_t>(static_cast<double>(datasheetMicros) * scale_);
  }

 private:
  double scale_;
};
