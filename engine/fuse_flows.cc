// Reading, checking and writing the fuse bytes. Fuse byte 1 is the low fuse,
// 2 the high fuse, 3 the extended fuse; target.fuseBytes and a row's
// defaultFuses are ordered extended, high, low, except for the two-fuse
// ATmega32 row, whose defaults are high then low. Parts with fewer fuse bytes
// (partFuseCount) have the missing ones left out of reads shown, writes and
// the default check.

#include <cstdio>

#include "catalogue/fuse_meaning.h"
#include "catalogue/part_record.h"
#include "engine/engine_delay.h"
#include "engine/fuse_explanation.h"
#include "engine/fuse_guard.h"
#include "engine/isp_instructions.h"
#include "engine/target_flows.h"
#include "run/session.h"

namespace {

// Fuse cells are self-timed like EEPROM (4.5 ms at most); no flow polls after
// a fuse write, so it waits a fixed 10 ms instead.
constexpr int32_t kFuseWriteUnits = 10000;

constexpr int kExtended = 0;
constexpr int kHigh = 1;
constexpr int kLow = 2;

// The built-in ATmega32 row (row 1), with its specified layout and output.
bool isTwoFusePart(const Session& session) {
  return isHighLowDefaultsRow(session.catalogue, session.target.processorIndex);
}

// How many fuse bytes the flows read and write: the part's, or all three for
// a target that is not recognised.
int fuseCountOf(const Session& session) {
  const PartRecord* part = session.currentPart();
  return part == nullptr ? 3 : partFuseCount(*part);
}

template <typename... Values>
FuseWritePlan fuseCommand(const char* format, Values... values) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(values)...);
  FuseWritePlan plan;
  plan.command = text;
  return plan;
}

FuseWritePlan defaultFusePlan(const Session& session, const PartRecord& part) {
  FuseWritePlan plan;
  plan.command = "a";
  if (isTwoFusePart(session)) {
    plan.add(2, part.defaultFuses[0]);
    plan.add(1, part.defaultFuses[1]);
  } else {
    const int count = partFuseCount(part);
    plan.add(1, part.defaultFuses[kLow]);
    if (count >= 2) plan.add(2, part.defaultFuses[kHigh]);
    if (count >= 3) plan.add(3, part.defaultFuses[kExtended]);
  }
  return plan;
}

}  // namespace

char checkDefaultFuses(Session& session) {
  readFuses(session);
  return compareDefaultFuses(session);
}

char compareDefaultFuses(const Session& session) {
  const PartRecord* part = session.currentPart();
  if (part == nullptr) return 'n';
  const uint8_t* fuses = session.target.fuseBytes;
  char result = 'd';
  if (isTwoFusePart(session)) {
    if (fuses[kHigh] != part->defaultFuses[0]) result = 'n';
    if (fuses[kLow] != part->defaultFuses[1]) result = 'n';
    return result;
  }
  if (!partHasDefaultFuses(*part)) return 'n';
  // Bytes the part lacks are left out: a two-fuse part compares high and low.
  for (int fuse = 1; fuse <= partFuseCount(*part); ++fuse) {
    int i = fuse == 1 ? kLow : fuse == 2 ? kHigh : kExtended;
    if (part->defaultFuses[i] != fuses[i]) result = 'n';
  }
  return result;
}

void showFuse(Session& session, int fuseNumber) {
  readFuses(session);
  const uint8_t* fuses = session.target.fuseBytes;
  switch (fuseNumber) {
    case 1:
      session.console.print("Fuse byte 1: %x\n", fuses[kLow]);
      break;
    case 2:
      session.console.print("Fuse byte 2: %x\n", fuses[kHigh]);
      break;
    case 3:
      session.console.print("Fuse byte 3: %x\n", fuses[kExtended]);
      break;
    default:
      break;
  }
  explainReportedFuses(session, fuseNumber);
}

void showFuses(Session& session) {
  readFuses(session);
  const uint8_t* fuses = session.target.fuseBytes;
  if (isTwoFusePart(session) || fuseCountOf(session) == 2) {
    session.console.print("Fuse bytes: %x %x\n", fuses[kHigh], fuses[kLow]);
  } else if (fuseCountOf(session) == 1) {
    session.console.print("Fuse bytes: %x\n", fuses[kLow]);
  } else {
    session.console.print("Fuse bytes: %x %x %x\n", fuses[kExtended], fuses[kHigh], fuses[kLow]);
  }
  explainReportedFuses(session, 0);
}

bool writeFuse(Session& session, int fuseNumber, uint8_t value) {
  if (fuseNumber < 1 || fuseNumber > 3) return false;
  // The part's datasheet gives no write instruction for a byte it lacks.
  const PartRecord* part = session.currentPart();
  if (part != nullptr && fuseNumber > fuseCountOf(session)) {
    session.console.print("%s has no fuse byte %d - nothing written\n", part->name, fuseNumber);
    return false;
  }
  FuseWritePlan plan = fuseCommand("pf%d%x", fuseNumber, value);
  plan.add(fuseNumber, value);
  if (!clearFuseWrite(session, plan)) return false;
  IspLink& link = *session.link;
  switch (fuseNumber) {
    case 1:
      ispWriteFuseLow(link, value);
      break;
    case 2:
      ispWriteFuseHigh(link, value);
      break;
    case 3:
      ispWriteFuseExtended(link, value);
      break;
    default:
      break;
  }
  engineDelay(kFuseWriteUnits);
  session.console.print("Write fuse byte %d: %x\n", fuseNumber, value);
  return readBackFuses(session, plan);
}

bool writeAllFuses(Session& session, uint8_t low, uint8_t high, uint8_t extended) {
  const int count = isTwoFusePart(session) ? 2 : fuseCountOf(session);
  FuseWritePlan plan = fuseCommand("pfa%x,%x,%x", low, high, extended);
  plan.add(1, low);
  if (count >= 2) plan.add(2, high);
  if (count >= 3) plan.add(3, extended);
  if (!clearFuseWrite(session, plan)) return false;
  IspLink& link = *session.link;
  ispWriteFuseLow(link, low);
  engineDelay(kFuseWriteUnits);
  if (count >= 2) ispWriteFuseHigh(link, high);
  engineDelay(kFuseWriteUnits);
  if (count >= 3) ispWriteFuseExtended(link, extended);
  engineDelay(kFuseWriteUnits);
  if (count == 1) {
    session.console.print("Write fuse bytes: %x\n", low);
  } else if (count == 2) {
    session.console.print("Write fuse bytes: %x %x\n", low, high);
  } else {
    session.console.print("Write fuse bytes: %x %x %x\n", low, high, extended);
  }
  return readBackFuses(session, plan);
}

bool writeDefaultFuses(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  if (!partHasDefaultFuses(*part)) {
    session.console.print("No default fuses are known for %s - fuses not written\n", part->name);
    return false;
  }
  FuseWritePlan plan = defaultFusePlan(session, *part);
  // "a" is the user's way back to a known state; it never asks to confirm a
  // clock the chip may not start with.
  const PartFuseBits* bits = findFuseBits(session.target.signature);
  if (bits != nullptr && bits->clock != nullptr) {
    const ClockSelection clock = clockSelection(*bits, plan.values[1]);
    if (clock.reserved) {
      session.console.print(
          "Default fuses of %s select a reserved clock code (CKSEL %s) - fuses not written\n",
          part->name, clock.code.c_str());
      return false;
    }
  }
  if (!clearFuseWrite(session, plan)) return false;
  IspLink& link = *session.link;
  session.console.print("processorid = %d\n", session.target.processorIndex);
  if (isTwoFusePart(session)) {
    uint8_t high = part->defaultFuses[0];
    uint8_t low = part->defaultFuses[1];
    engineDelay(kFuseWriteUnits);
    ispWriteFuseLow(link, low);
    engineDelay(kFuseWriteUnits);
    ispWriteFuseHigh(link, high);
    engineDelay(kFuseWriteUnits);
    session.console.print("Write fuse bytes: %x %x\n", high, low);
    return readBackFuses(session, plan);
  }
  const uint8_t* defaults = part->defaultFuses;
  const int count = partFuseCount(*part);
  engineDelay(kFuseWriteUnits);
  ispWriteFuseLow(link, defaults[kLow]);
  if (count >= 2) {
    engineDelay(kFuseWriteUnits);
    ispWriteFuseHigh(link, defaults[kHigh]);
  }
  if (count >= 3) {
    engineDelay(kFuseWriteUnits);
    ispWriteFuseExtended(link, defaults[kExtended]);
  }
  if (count == 1) {
    session.console.print("Write fuse bytes: %x\n", defaults[kLow]);
  } else if (count == 2) {
    // High then low, as the ATmega32 row prints its two.
    session.console.print("Write fuse bytes: %x %x\n", defaults[kHigh], defaults[kLow]);
  } else {
    session.console.print("Write fuse bytes: %x %x %x\n", defaults[kExtended], defaults[kHigh],
                          defaults[kLow]);
  }
  engineDelay(kFuseWriteUnits);  // before the read-back, which needs the write done
  return readBackFuses(session, plan);
}
