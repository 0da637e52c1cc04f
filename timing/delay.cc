#include "timing/delay.h"

#include <time.h>

#include <cerrno>
#include <cstdint>

namespace {
int32_t gLoopsPerMicrosecond = kDefaultLoopsPerMicrosecond;
double gTimeScale = 1.0;

constexpr int64_t kNanosPerMicro = 1000;
constexpr int64_t kNanosPerSecond = 1000000000;

// Linux normally serves the monotonic clock in user space (the vDSO), without
// a system call: a read costs tens of nanoseconds, little beside a 2 us phase.
int64_t monotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

// A sleeping thread wakes some tens of microseconds late (timer slack, the
// scheduler), never early; the last stretch is spun so the wait still ends
// close to its deadline.
constexpr int64_t kSpunTailNanos = 200 * kNanosPerMicro;

void sleepUntil(int64_t deadlineNanos) {
  timespec deadline{};
  deadline.tv_sec = static_cast<time_t>(deadlineNanos / kNanosPerSecond);
  deadline.tv_nsec = static_cast<long>(deadlineNanos % kNanosPerSecond);
  // A signal handler interrupts the sleep; the absolute deadline makes going
  // back to sleep exact.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}
}  // namespace

int32_t loopsPerMicrosecond() {
  return gLoopsPerMicrosecond;
}

void setLoopsPerMicrosecond(int32_t loops) {
  gLoopsPerMicrosecond = loops;
}

double delayTimeScale() {
  return gTimeScale;
}

void setDelayTimeScale(double scale) {
  gTimeScale = scale >= 0.0 && scale < 1.0 ? scale : 1.0;
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
  // The deadline is the clock's, not the count's: a count is measured once,
  // perhaps while other work slowed the machine, and a processor can run
  // faster later than it did then (a virtual machine's host raises and lowers
  // its clock unseen). A countdown that ends early shortens an SCK phase below
  // what the chip needs, or cuts a fuse or EEPROM write short.
  int64_t length = static_cast<int64_t>(n) * kNanosPerMicro;
  if (gTimeScale != 1.0) length = static_cast<int64_t>(static_cast<double>(length) * gTimeScale);
  const int64_t deadline = monotonicNanos() + length;
  if (length >= kSleepingUnits * kNanosPerMicro) sleepUntil(deadline - kSpunTailNanos);
  // The count only paces the clock reads: about eight a microsecond, so the
  // wait overshoots by about a tenth of a microsecond while the count is near
  // right (an SPI byte is 33 waits); a count far off lengthens the wait, never
  // shortens it.
  int32_t slice = gLoopsPerMicrosecond / 8;
  if (slice < 1) slice = 1;
  while (monotonicNanos() < deadline) busyCountdown(slice);
}
