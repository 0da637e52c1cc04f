#pragma once
// Fuse bytes told bit by bit, with avr-libc's bit names, for --decode-fuses
// and --explain-fuses.

#include <cstdint>

#include "catalogue/fuse_bits.h"

class Console;
struct Session;

// "Fuse byte 1 (low) = 62", then one line per bit the part implements, highest
// first, "  bit 7 CKDIV8    0 programmed", and for the low fuse what its
// clock selection means. A part whose bits are not known gets the first line
// and a line saying so.
void explainFuseByte(Console& console, const PartFuseBits* bits, int fuseNumber, uint8_t value);

// After a fuse report, with --explain-fuses: explains the given fuse (1 to 3)
// of the bytes last read, or every fuse the part has when fuseNumber is 0.
void explainReportedFuses(Session& session, int fuseNumber);
