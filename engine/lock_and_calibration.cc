// The lock and calibration bytes, and the erase that stands on its own.

#include "engine/engine_delay.h"
#include "engine/fuse_guard.h"
#include "engine/isp_instructions.h"
#include "engine/target_flows.h"
#include "run/session.h"

namespace {
// Lock bits are written like fuses: self-timed, not polled, so a fixed wait.
constexpr int32_t kLockWriteUnits = 10000;
}  // namespace

void showLockByte(Session& session) {
  session.console.print("Fuse lock byte %x\n", ispReadLockBits(*session.link));
}

void showCalibrationByte(Session& session) {
  session.console.print("Calibration byte: %x\n", ispReadCalibrationByte(*session.link));
}

bool writeLockByte(Session& session, uint8_t value) {
  if (!clearLockWrite(session, value)) return false;
  ispWriteLockBits(*session.link, value);
  engineDelay(kLockWriteUnits);
  session.console.print("Write lock byte %x\n", value);
  return readBackLockByte(session, value);
}

bool eraseChip(Session& session) {
  ispChipErase(*session.link);
  session.console.print("Erase chip\n");
  if (!session.profile.chipEraseWaits) return true;
  // The next command may program at once, which an erase still running would
  // undo; the lock bits are clear only once it has ended.
  if (session.link->waitReady() < 0) {
    session.console.print("Error - Erase chip timeout\n");
    return false;
  }
  return true;
}
