#include "engine/fuse_guard.h"

#include <cstdio>

#include "catalogue/fuse_meaning.h"
#include "engine/isp_instructions.h"
#include "run/session.h"

namespace {

// LB1, LB2 and the four boot lock bits; the top two bits are not used on any
// part and read as 1.
constexpr uint8_t kLockBitsWithBootLocks = 0x3F;
// Parts without a boot section have only LB1 and LB2.
constexpr uint8_t kLockBitsOnly = 0x03;

const PartFuseBits* partBits(const Session& session) {
  return findFuseBits(session.target.signature);
}

// The confirmation must be the very next command, with the same value.
bool confirmsHeldWrite(Session& session, const FuseWritePlan& plan) {
  FuseWriteHold& hold = session.fuseHold;
  return hold.pending && hold.command == plan.command &&
         hold.heldAtCommand + 1 == session.commandsRun;
}

void holdBack(Session& session, const FuseWritePlan& plan) {
  FuseWriteHold& hold = session.fuseHold;
  hold.pending = true;
  hold.command = plan.command;
  hold.heldAtCommand = session.commandsRun;
  hold.failedBefore = session.commandFailed;
}

// Prints every lockout of the plan; returns how many there were.
int reportLockouts(Session& session, const PartFuseBits& bits, const FuseWritePlan& plan) {
  int total = 0;
  for (int fuse = 1; fuse <= 3; ++fuse) {
    if (!plan.writes[fuse]) continue;
    Lockout found[kMostLockouts];
    const int count = findLockouts(bits, fuse, plan.values[fuse], found);
    for (int i = 0; i < count; ++i) {
      if (found[i].variants[0] != '\0') {
        session.console.print("%s (%s) %s\n", found[i].bit->name, found[i].variants,
                              found[i].consequence);
      } else {
        session.console.print("%s %s\n", found[i].bit->name, found[i].consequence);
      }
    }
    total += count;
  }
  return total;
}

void warnOfClockChange(Session& session, const PartFuseBits& bits, const FuseWritePlan& plan) {
  if (!plan.writes[1]) return;
  const ClockSelection after = clockSelection(bits, plan.values[1]);
  if (after.source != ClockSource::kExternal) return;
  const ClockSelection before = clockSelection(bits, ispReadFuseLow(*session.link));
  if (before.source == ClockSource::kInternal) {
    session.console.print(
        "Warning - clock source changes from %s to %s (CKSEL %s): the chip stops without one\n",
        before.meaning.c_str(), after.meaning.c_str(), after.code.c_str());
  }
}

uint8_t readFuseByte(Session& session, int fuseNumber) {
  IspLink& link = *session.link;
  if (fuseNumber == 1) return ispReadFuseLow(link);
  if (fuseNumber == 2) return ispReadFuseHigh(link);
  return ispReadFuseExtended(link);
}

}  // namespace

bool targetAnswersForWrite(Session& session) {
  if (session.target.responding) return true;
  session.console.print("Target not responding - nothing written\n");
  return false;
}

namespace {

// Whether a write that needs asking may go ahead now: forced, or confirmed.
// Otherwise it is held, after the caller printed why.
bool writeOrHold(Session& session, const FuseWritePlan& plan, bool confirmed) {
  if (session.forceFuses) return true;
  if (!confirmed) {
    session.console.print(
        "Nothing written. To write it, enter %s again as the next command, "
        "or run with --force-fuses\n",
        plan.command.c_str());
    holdBack(session, plan);
    return false;
  }
  // The user said yes: the entry that only asked is not held against the run.
  session.commandFailed = session.fuseHold.failedBefore;
  return true;
}

// A signature that matches no part may be a misread one (a loose wire): what
// the write does to that chip cannot be told, so every such write is held.
// True when the part is known, or the write may go ahead.
bool clearUnknownPartWrite(Session& session, const FuseWritePlan& plan) {
  if (session.currentPart() != nullptr || partBits(session) != nullptr) return true;
  const bool confirmed = confirmsHeldWrite(session, plan);
  session.fuseHold.pending = false;
  if (!session.forceFuses && !confirmed) {
    const uint8_t* signature = session.target.signature;
    session.console.print(
        "Signature %x %x %x is no known part, so what %s does cannot be checked\n", signature[0],
        signature[1], signature[2], plan.command.c_str());
  }
  return writeOrHold(session, plan, confirmed);
}

}  // namespace

bool clearFuseWrite(Session& session, const FuseWritePlan& plan) {
  if (!targetAnswersForWrite(session)) return false;
  const PartFuseBits* bits = partBits(session);
  if (bits == nullptr) {
    // An unrecognised target asks first; a part of parts.txt without named
    // bits is written as its line describes it.
    if (!clearUnknownPartWrite(session, plan)) return false;
    if (session.currentPart() != nullptr) {
      session.console.print("No fuse bit table for this part - written as given, unguarded\n");
    }
    return true;
  }
  const bool confirmed = confirmsHeldWrite(session, plan);
  session.fuseHold.pending = false;
  Lockout unused[kMostLockouts];
  bool locksOut = false;
  for (int fuse = 1; fuse <= 3; ++fuse) {
    if (plan.writes[fuse] && findLockouts(*bits, fuse, plan.values[fuse], unused) > 0) {
      locksOut = true;
    }
  }
  if (locksOut) {
    if (!confirmed && !session.forceFuses) reportLockouts(session, *bits, plan);
    if (!writeOrHold(session, plan, confirmed)) return false;
  }
  warnOfClockChange(session, *bits, plan);
  return true;
}

bool clearLockWrite(Session& session, uint8_t value) {
  if (!targetAnswersForWrite(session)) return false;
  FuseWritePlan plan;
  char command[8];
  std::snprintf(command, sizeof command, "pl%x", value);
  plan.command = command;
  return clearUnknownPartWrite(session, plan);
}

bool readBackFuses(Session& session, const FuseWritePlan& plan) {
  const PartFuseBits* bits = partBits(session);
  bool same = true;
  for (int fuse = 1; fuse <= 3; ++fuse) {
    if (!plan.writes[fuse]) continue;
    const uint8_t mask = implementedFuseBits(bits, fuse);
    if (mask == 0) continue;  // a byte the part does not have reads as anything
    const uint8_t got = readFuseByte(session, fuse);
    if (((got ^ plan.values[fuse]) & mask) != 0) {
      session.console.print("Error - fuse byte %d reads back %x after writing %x\n", fuse, got,
                            plan.values[fuse]);
      same = false;
    }
  }
  return same;
}

bool readBackLockByte(Session& session, uint8_t written) {
  const PartFuseBits* bits = partBits(session);
  const bool bootLocks = bits == nullptr || findFuseBit(*bits, "BOOTRST") != nullptr;
  const uint8_t mask = bootLocks ? kLockBitsWithBootLocks : kLockBitsOnly;
  const uint8_t got = ispReadLockBits(*session.link);
  if (((got ^ written) & mask) == 0) return true;
  session.console.print("Error - lock byte reads back %x after writing %x\n", got, written);
  return false;
}
