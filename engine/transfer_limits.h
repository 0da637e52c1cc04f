#pragma once
// Internal to the memory transfers: the ranges they keep to, and the
// programming loops that also tell their caller whether a wait failed.

#include <algorithm>
#include <cstdint>

#include "run/memory_image.h"

struct Session;

// A byte count kept within the image, so that no transfer reads or writes past
// either buffer whatever count it is handed.
inline int32_t clampToImage(int32_t n) {
  return std::clamp<int32_t>(n, 0, kImageBytes);
}

// programFlash and programEeprom, with the number of failed waits added to
// *timeouts.
int32_t programFlashCounting(Session& session, int32_t n, int32_t* timeouts);
int32_t programEepromCounting(Session& session, int32_t n, int32_t* timeouts);
