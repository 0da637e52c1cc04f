#pragma once
// The simulated chips' own facts, taken from the datasheets
// (scripts/datasheet_facts.txt) by scripts/generate_parts.py, never from the
// programs' part table: a chip built from them can show the programs wrong.

#include <cstdint>

struct DatasheetPart {
  const char* name;  // avr-libc's spelling, one part per entry
  uint8_t signature[3];
  int32_t fuseCount;             // 0 where the datasheet's fuses are not known
  uint8_t factoryFuses[3];       // extended, high, low; 0xFF for a byte the part lacks
  bool hasPollReady;             // answers Poll RDY/BSY (F0) with its busy state
  uint32_t eraseWaitMicros;      // t_WD_ERASE; 0 where not known
  uint32_t flashWaitMicros;      // t_WD_FLASH
  uint32_t eepromWaitMicros;     // t_WD_EEPROM
  uint32_t fuseWaitMicros;       // t_WD_FUSE
  int32_t eepromPageBytes;       // 0: no Load/Write EEPROM Memory Page instructions
};

const DatasheetPart* datasheetParts();
int datasheetPartCount();
// The entry with this signature, or nullptr.
const DatasheetPart* findDatasheetPart(const uint8_t signature[3]);
