#pragma once
// Identification of the target and everything done with its configuration
// bytes: statistics, fuses, lock and calibration bytes. Each flow prints its
// own messages; those that can fail return false so the interpreter can give
// the run its exit status.

#include <cstdint>

struct Session;
struct PartRecord;

// Enter programming mode, Programming Enable, read the signature, look the part
// up into processorIndex. Returns the enable echo (0x53 when in step).
uint8_t identifyTarget(Session& session);
// pellory's start-up: up to four enable attempts with a reset pulse between;
// on success reads the signature, looks it up and checks the default fuses.
// When no attempt succeeds the part counts as unrecognised until an
// identification finds it. Leaves the target in programming mode. Returns the
// last echo.
uint8_t startupEnable(Session& session);
// Reads the fuses into target.fuseBytes; 'd' when they equal the row's
// defaults, 'n' otherwise (and 'n' when the part is unrecognised).
char checkDefaultFuses(Session& session);
// The same judgement on the fuse bytes last read, without reading them again.
char compareDefaultFuses(const Session& session);

void showIdentity(Session& session);
void showStatistics(Session& session);
void showFuse(Session& session, int fuseNumber);  // 1 low, 2 high, 3 extended
void showFuses(Session& session);
// The fuse and lock writes are checked (engine/fuse_guard.h) and read back;
// false when a write was held back or refused, or read back different.
bool writeFuse(Session& session, int fuseNumber, uint8_t value);
bool writeAllFuses(Session& session, uint8_t low, uint8_t high, uint8_t extended);
bool writeDefaultFuses(Session& session);
void showLockByte(Session& session);
void showCalibrationByte(Session& session);
// Sends Write Lock Bits with the value, waits as after a fuse write, prints
// "Write lock byte %x\n" and reads the byte back.
bool writeLockByte(Session& session, uint8_t value);
// "ce": Chip Erase, then, where the profile says so, the wait for its end.
// False when that wait timed out.
bool eraseChip(Session& session);

// The current part's row, or nullptr after printing
// "Target processor not recognized - command not run\n".
const PartRecord* requireRecognisedPart(Session& session);
