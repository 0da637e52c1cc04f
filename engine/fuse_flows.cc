// Reading, checking and writing the fuse bytes. Fuse byte 1 is the low fuse,
// 2 the high fuse, 3 the extended fuse; target.fuseBytes and a row's
// defaultFuses are ordered extended, high, low, except for the two-fuse
// ATmega32 row, whose defaults are high then low.

#include <cstdio>

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

bool isTwoFusePart(const Session& session) {
  return session.target.processorIndex == kTwoFuseRow;
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
    plan.add(1, part.defaultFuses[kLow]);
    plan.add(2, part.defaultFuses[kHigh]);
    plan.add(3, part.defaultFuses[kExtended]);
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
  for (int i = 0; i < part->fuseCount && i < 3; ++i) {
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
  if (isTwoFusePart(session)) {
    session.console.print("Fuse bytes: %x %x\n", fuses[kHigh], fuses[kLow]);
  } else {
    session.console.print("Fuse bytes: %x %x %x\n", fuses[kExtended], fuses[kHigh], fuses[kLow]);
  }
  explainReportedFuses(session, 0);
}

bool writeFuse(Session& session, int fuseNumber, uint8_t value) {
  if (fuseNumber < 1 || fuseNumber > 3) return false;
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
  FuseWritePlan plan = fuseCommand("pfa%x,%x,%x", low, high, extended);
  plan.add(1, low);
  plan.add(2, high);
  if (!isTwoFusePart(session)) plan.add(3, extended);
  if (!clearFuseWrite(session, plan)) return false;
  IspLink& link = *session.link;
  ispWriteFuseLow(link, low);
  engineDelay(kFuseWriteUnits);
  ispWriteFuseHigh(link, high);
  engineDelay(kFuseWriteUnits);
  if (!isTwoFusePart(session)) ispWriteFuseExtended(link, extended);
  engineDelay(kFuseWriteUnits);
  if (isTwoFusePart(session)) {
    session.console.print("Write fuse bytes: %x %x\n", low, high);
  } else {
    session.console.print("Write fuse bytes: %x %x %x\n", low, high, extended);
  }
  return readBackFuses(session, plan);
}

bool writeDefaultFuses(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  FuseWritePlan plan = defaultFusePlan(session, *part);
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
  engineDelay(kFuseWriteUnits);
  ispWriteFuseLow(link, defaults[kLow]);
  engineDelay(kFuseWriteUnits);
  ispWriteFuseHigh(link, defaults[kHigh]);
  engineDelay(kFuseWriteUnits);
  ispWriteFuseExtended(link, defaults[kExtended]);
  engineDelay(kFuseWriteUnits);  // before the read-back, which needs the write done
  session.console.print("Write fuse bytes: %x %x %x\n", defaults[kExtended], defaults[kHigh],
                        defaults[kLow]);
  return readBackFuses(session, plan);
}
