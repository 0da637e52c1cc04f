#include "engine/engine_delay.h"

#include <utility>

#include "timing/delay.h"

namespace {
std::function<void(int32_t)>& observer() {
  static std::function<void(int32_t)> current;
  return current;
}
}  // namespace

void engineDelay(int32_t units) {
  if (observer()) {
    observer()(units);
    return;
  }
  delayUnits(units);
}

void setEngineDelayObserver(std::function<void(int32_t units)> newObserver) {
  observer() = std::move(newObserver);
}
