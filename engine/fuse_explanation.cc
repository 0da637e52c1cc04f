#include "engine/fuse_explanation.h"

#include "catalogue/fuse_meaning.h"
#include "run/session.h"

namespace {

const char* const kFuseNames[] = {"", "low", "high", "extended"};

const FuseBit* bitAt(const PartFuseBits& bits, int fuseNumber, int position) {
  for (size_t i = 0; i < bits.bitCount; ++i) {
    if (bits.bits[i].fuseNumber == fuseNumber && bits.bits[i].bit == position) return &bits.bits[i];
  }
  return nullptr;
}

// fuseBytes is ordered extended, high, low.
uint8_t lastRead(const Session& session, int fuseNumber) {
  return session.target.fuseBytes[3 - fuseNumber];
}

}  // namespace

void explainFuseByte(Console& console, const PartFuseBits* bits, int fuseNumber, uint8_t value) {
  if (fuseNumber < 1 || fuseNumber > 3) return;
  console.print("Fuse byte %d (%s) = %x\n", fuseNumber, kFuseNames[fuseNumber], value);
  if (bits == nullptr) {
    console.print("  the bit names of this part are not known\n");
    return;
  }
  if (implementedFuseBits(bits, fuseNumber) == 0) {
    console.print("  the part has no such fuse byte\n");
    return;
  }
  for (int position = 7; position >= 0; --position) {
    const FuseBit* bit = bitAt(*bits, fuseNumber, position);
    if (bit == nullptr) continue;
    const bool set = (value >> position) & 1u;
    console.print("  bit %d %-10s %d %s\n", position, bit->name, set ? 1 : 0,
                  set ? "unprogrammed" : "programmed");
  }
  if (fuseNumber != 1) return;
  const ClockSelection clock = clockSelection(*bits, value);
  if (!clock.code.empty()) {
    console.print("  clock: CKSEL %s, %s\n", clock.code.c_str(), clock.meaning.c_str());
  }
}

void explainReportedFuses(Session& session, int fuseNumber) {
  if (!session.explainFuses) return;
  const PartFuseBits* bits = findFuseBits(session.target.signature);
  if (fuseNumber != 0) {
    explainFuseByte(session.console, bits, fuseNumber, lastRead(session, fuseNumber));
    return;
  }
  for (int fuse = 1; fuse <= 3; ++fuse) {
    if (bits != nullptr && implementedFuseBits(bits, fuse) == 0) continue;
    explainFuseByte(session.console, bits, fuse, lastRead(session, fuse));
  }
}
