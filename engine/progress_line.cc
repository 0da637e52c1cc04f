#include "engine/progress_line.h"

#include "run/console.h"

namespace {
std::chrono::microseconds gInterval = kDefaultProgressInterval;
}

void setProgressInterval(std::chrono::microseconds interval) {
  gInterval = interval;
}
std::chrono::microseconds progressInterval() {
  return gInterval;
}

ProgressLine::ProgressLine(Console& console, const char* format)
    : console_(console), format_(format) {}

void ProgressLine::update(int64_t value, bool final) {
  auto now = std::chrono::steady_clock::now();
  bool due = gInterval.count() == 0 || !printedOnce_ || now - lastPrint_ >= gInterval;
  if (!final && !due) return;
  console_.print(format_, static_cast<long>(value));
  printedOnce_ = true;
  lastPrint_ = now;
}
