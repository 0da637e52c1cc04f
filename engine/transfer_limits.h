#pragma once
// Internal to the memory transfers: the ranges they keep to, and the
// programming loops that also tell their caller whether a wait failed.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "run/memory_image.h"

struct Session;
class FlashPages;
struct ByteRange;

// A byte count kept within the image, so that no transfer reads or writes past
// either buffer whatever count it is handed.
inline int32_t clampToImage(int32_t n) {
  return std::clamp<int32_t>(n, 0, kImageBytes);
}

// programFlash and programEeprom, with the number of failed waits added to
// *timeouts.
int32_t programFlashCounting(Session& session, int32_t n, int32_t* timeouts);
int32_t programEepromCounting(Session& session, int32_t n, int32_t* timeouts);

// The pages of `pages` that are to be written, loaded and written as
// programFlash does; returns the length the pages cover.
int32_t programFlashPages(Session& session, const FlashPages& pages, int32_t* timeouts);
// readFlash over the runs only; returns the end of the last word read.
int32_t readFlashRuns(Session& session, const std::vector<ByteRange>& runs);
// compareImages over the runs only: what was not read back is not compared.
int compareImageRuns(Session& session, const std::vector<ByteRange>& runs);
// Whether a self-timed write's wait may be overlapped with what goes out next,
// on a link that can split it: only where a read-back follows, which catches a
// Korvo that dropped instructions sent behind its busy command as a mismatch.
bool usePipelinedWaits(const Session& session);
// programEeprom of only the bytes whose value differs from what the target
// holds, read first; returns n all the same. On a part with EEPROM pages,
// each page holding such a byte is written whole.
int32_t programEepromChanges(Session& session, int32_t n, int32_t* timeouts);
