#include "sim/target_clock.h"

#include <cstring>

#include "catalogue/fuse_bits.h"

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

// The parts made from the generated table or a parts.txt, whose clock-source
// tables differ from family to family: the low fuse's CKSEL bits and CKDIV8 are
// found by name. The factory's CKSEL (or 0010, the calibrated RC oscillator of
// most parts) gives 8 MHz; any other selection a crystal or external clock
// (kAssumedExternalClockHz). CKDIV8 programmed divides by 8. A part without
// CKDIV8 chooses among internal RC frequencies as the older parts above do.
double genericClockHz(const SimPart& part, uint8_t lowFuse) {
  uint8_t ckselMask = 0;
  int ckdiv8 = -1;
  if (const PartFuseBits* bits = findFuseBits(part.signature)) {
    for (size_t i = 0; i < bits->bitCount; ++i) {
      const FuseBit& bit = bits->bits[i];
      if (bit.fuseNumber != 1) continue;
      if (std::strncmp(bit.name, "CKSEL", 5) == 0) ckselMask |= static_cast<uint8_t>(1u << bit.bit);
      if (std::strcmp(bit.name, "CKDIV8") == 0) ckdiv8 = bit.bit;
    }
  }
  if (ckselMask == 0) return 1e6;  // nothing to go by: the usual factory clock
  const unsigned cksel = lowFuse & ckselMask;
  if (ckdiv8 < 0) {
    if (cksel >= 1 && cksel <= 4) return 1e6 * static_cast<double>(1u << (cksel - 1));
    return kAssumedExternalClockHz;
  }
  const bool internal = cksel == (part.factoryLow & ckselMask) || cksel == 0x2;
  const double source = internal ? 8e6 : kAssumedExternalClockHz;
  const bool divideBy8 = (lowFuse & (1u << ckdiv8)) == 0;
  return divideBy8 ? source / 8 : source;
}

}  // namespace

double fuseSelectedClockHz(const SimPart& part, uint8_t lowFuse) {
  if (part.genericClock) return genericClockHz(part, lowFuse);
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
