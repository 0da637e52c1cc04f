#pragma once
// The parts avr-libc's device headers describe that the ISP instruction set
// programs, corrected by the datasheet facts (scripts/datasheet_facts.txt), as
// scripts/generate_parts.py writes them into avr_libc_parts.cc.
// Both programs' catalogues and the simulators grow from this one table.

#include <cstdint>
#include <string_view>

#include "catalogue/fuse_bits.h"

struct AvrLibcPart {
  const char* name;  // parts sharing the signature joined with '/'
  uint8_t signature[3];
  int32_t flashBytes;
  int32_t flashPageWords;
  int32_t eepromBytes;
  int32_t eepromPageBytes;  // 0: no EEPROM page instructions, or none known
  int32_t fuseCount;        // 1 low; 2 low, high; 3 low, high, extended
  bool defaultsKnown;       // avr-libc gives a default for every fuse byte
  uint8_t defaultFuses[3];  // extended, high, low; 0xFF where absent or unknown
  // From scripts/datasheet_facts.txt: whether any part of the row has facts
  // (its defaults are then the datasheet's factory values where known), and
  // Poll RDY/BSY and the t_WD waits in microseconds (0: not known).
  bool factsKnown;
  bool hasPollReady;
  uint32_t eraseWaitMicros;
  uint32_t flashWaitMicros;
  uint32_t eepromWaitMicros;
  uint32_t fuseWaitMicros;
};

// The generated rows, in the generator's order (by name).
const AvrLibcPart* avrLibcParts();
int avrLibcPartCount();
// The named bits of each generated row's fuse bytes, one per row, same order.
const PartFuseBits* avrLibcFuseBits();

// Whether `name` is one of the '/'-joined names of `joinedName`, or all of
// it, without regard to case.
bool partNameMatches(const char* joinedName, std::string_view name);

// The generated row with this name (any of its joined names) or signature;
// nullptr when there is none.
const AvrLibcPart* findAvrLibcPart(std::string_view name);
const AvrLibcPart* findAvrLibcPartBySignature(const uint8_t signature[3]);
