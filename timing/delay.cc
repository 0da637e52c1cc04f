#include "timing/delay.h"

#include <cstdint>

namespace {
int32_t gLoopsPerMicrosecond = kDefaultLoopsPerMicrosecond;
}

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
  int64_t product = static_cast<int64_t>(n) * gLoopsPerMicrosecond;
  if (product > INT32_MAX) product = INT32_MAX;
  busyCountdown(static_cast<int32_t>(product));
}
