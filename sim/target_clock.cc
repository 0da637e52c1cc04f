#include "sim/target_clock.h"

#include <cstring>

namespace {

constexpr double kLowFrequencyCrystalHz = 32768;

// The older parts have no clock prescaler fuse and choose among four internal
// RC frequencies instead (factory: 1 MHz).
bool hasInternalRcChoice(const SimPart& part) {
  for (const char* name : {"ATmega16", "ATmega32", "ATmega128"}) {
    if (std::strcmp(part.name, name) == 0) return true;
  }
  return false;
}

}  // namespace

double fuseSelectedClockHz(const SimPart& part, uint8_t lowFuse) {
  const unsigned cksel = lowFuse & 0x0F;
  if (hasInternalRcChoice(part)) {
    // CKSEL 0001 to 0100: the calibrated RC oscillator at 1, 2, 4 or 8 MHz.
    if (cksel >= 1 && cksel <= 4) return 1e6 * static_cast<double>(1u << (cksel - 1));
    if (cksel == 0x9) return kLowFrequencyCrystalHz;
    return kAssumedExternalClockHz;
  }
  double source = kAssumedExternalClockHz;
  if (cksel == 0x2) source = 8e6;    // calibrated internal RC
  if (cksel == 0x3) source = 128e3;  // internal 128 kHz oscillator
  if (cksel == 0x4 || cksel == 0x5) source = kLowFrequencyCrystalHz;
  // CKDIV8 (bit 7, programmed when 0) divides whatever the source gives by 8.
  const bool divideBy8 = (lowFuse & 0x80) == 0;
  return divideBy8 ? source / 8 : source;
}
