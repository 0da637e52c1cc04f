#include "timing/delay.h"

#include <chrono>
#include <cstdint>

namespace {
using Clock = std::chrono::steady_clock;
int32_t gLoopsPerMicrosecond = kDefaultLoopsPerMicrosecond;
}  // namespace

int32_t loopsPerMicrosecond() {
  return gLoopsPerMicrosecond;
}

void setLoopsPerMicrosecond(int32_t loops) {
  gLoopsPerMicrosecond = loops;
}

void busyCountdown(int32_t count) {
  // The counter lives in memory and is touched every pass: its cost per pass is
  // what calibration measured and what every wait relies on.
  volatile int32_t counter = count;
  while (counter != 0) {
    counter = counter - 1;
  }
}

void delayUnits(int32_t n) {
  if (n <= 0) return;
  // Linux normally serves the monotonic clock in user space (the vDSO), without
  // a system call, so reading it does not disturb the countdown it brackets.
  const bool clockChecked = n >= kClockCheckedUnits;
  const auto start = clockChecked ? Clock::now() : Clock::time_point{};
  int64_t product = static_cast<int64_t>(n) * gLoopsPerMicrosecond;
  if (product > INT32_MAX) product = INT32_MAX;
  busyCountdown(static_cast<int32_t>(product));
  if (!clockChecked) return;
  // The count was measured once, perhaps while other work slowed the machine,
  // and a processor can run faster later than it did then (a virtual machine's
  // host raises and lowers its clock unseen). A countdown that ends early would
  // cut a fuse or EEPROM write short, so the wait is finished on the clock.
  const auto end = start + std::chrono::microseconds(n);
  while (Clock::now() < end) {
  }
}
