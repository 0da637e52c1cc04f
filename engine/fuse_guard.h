#pragma once
// The checks around every fuse and lock write: the target must be answering,
// a write that would end serial programming waits for the same command again
// (or --force-fuses), and afterwards every byte written is read back.

#include <cstdint>
#include <string>

struct Session;

// The fuse bytes one command writes, by fuse number (1 low, 2 high, 3
// extended), and how the user would enter that command again.
struct FuseWritePlan {
  std::string command;  // "pf2f9", "pfa62,d9,ff", "a"
  bool writes[4] = {false, false, false, false};
  uint8_t values[4] = {0, 0, 0, 0};

  void add(int fuseNumber, uint8_t value) {
    writes[fuseNumber] = true;
    values[fuseNumber] = value;
  }
};

// False, after "Target not responding - nothing written", when the last
// Programming Enable was not echoed.
bool targetAnswersForWrite(Session& session);

// Whether the planned fuse write may go ahead. False, after printing why,
// when the target is not answering, or when the write would unprogram SPIEN
// or program RSTDISBL or DWEN and is neither forced nor the confirmation of
// the same command held back just before. A write that moves the clock from
// an internal oscillator to an external source gets a warning and goes ahead.
// On a target whose signature matches no part every write is held so.
bool clearFuseWrite(Session& session, const FuseWritePlan& plan);

// Whether a lock byte write may go ahead: the target must answer, and on a
// target whose signature matches no part the write waits, as a held fuse write
// does, for "plXX" again as the next command, or --force-fuses.
bool clearLockWrite(Session& session, uint8_t value);

// Reads back every fuse byte the plan wrote and compares the bits the part
// implements. Each difference prints "Error - fuse byte N reads back X after
// writing Y"; false when there was any.
bool readBackFuses(Session& session, const FuseWritePlan& plan);

// The same for the lock byte, over its lock and boot lock bits.
bool readBackLockByte(Session& session, uint8_t written);
