#pragma once
// The simulator's own table of parts, from the datasheets (not from the
// programs' catalogue, which it is there to check).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SimPart {
  const char* name;
  uint8_t signature[3];
  uint32_t flashBytes;
  uint32_t flashPageWords;
  uint32_t eepromBytes;
  bool hasExtendedFuse;
  bool hasHighFuse;  // every part here has one; kept for clarity
  uint8_t factoryLow, factoryHigh, factoryExtended;
  uint8_t calibration;
  // Datasheet self-timed maxima, microseconds.
  uint32_t chipEraseMicros;
  uint32_t flashPageMicros;
  uint32_t eepromByteMicros;
  uint32_t fuseMicros;
  // For the parts made from the generated table or a parts.txt; the
  // hand-written rows keep these defaults, which describe them.
  uint8_t eesaveFuse = 2;     // fuse byte holding EESAVE (1 low, 2 high, 3 extended), 0 none
  uint8_t eesaveMask = 0x08;  // its bit
  bool genericClock = false;  // the clock from the fuse bit names (target_clock.cc)
  uint8_t fuseCount = 0;      // 0: as hasHighFuse and hasExtendedFuse say
  bool fromPartsFile = false;
  // Poll RDY/BSY (F0) in the serial instruction set; without it the chip
  // treats F0 as an instruction it does not know.
  bool hasPollReady = true;
  // Bytes per page of Load/Write EEPROM Memory Page (C1/C2); 0 where the
  // instruction set lacks them. Without datasheet facts, what the programs'
  // table gives every row.
  uint32_t eepromPageBytes = 4;
};

struct DatasheetPart;
// The part as its datasheet facts describe it (sim/datasheet_parts.h), or as
// it stands when `facts` is nullptr: signature, factory fuses, ready poll,
// t_WD waits and EEPROM pages.
SimPart withDatasheetFacts(const SimPart& part, const DatasheetPart* facts);
// The facts of the part: by any of its '/'-joined names first, so that a
// signature the datasheet corrects is found, then by its signature.
const DatasheetPart* datasheetFactsFor(const SimPart& part);

// Part names are matched without regard to case; nullptr when unknown. Every
// part answers to its name and, for a generated part that joins several with
// '/', to each of them; a part of a parts.txt comes first, then the
// hand-written parts, then the generated ones.
const SimPart* findSimPart(std::string_view name);
// The hand-written parts, checked by hand against their datasheets.
const SimPart* simParts();
int simPartCount();
// Every part the simulators know: the hand-written ones, one for each
// generated row whose signature none of them has (catalogue/avr_libc_parts.h),
// then those of a parts.txt.
std::vector<const SimPart*> everySimPart();

// Reads a parts.txt (catalogue/parts_file.h gives the format) into the
// simulators' table: a part whose signature is known replaces it for the
// run. One message per bad line or replacement. -1 when the file cannot be
// read, else the number of parts taken.
int loadSimPartsFile(const std::string& path, std::vector<std::string>* messages);

// The datasheets' self-timed maxima for the part's family, microseconds:
// t_WD_ERASE, t_WD_FLASH, t_WD_EEPROM, t_WD_FUSE.
struct FamilyWaits {
  uint32_t chipErase, flashPage, eepromByte, fuse;
};
FamilyWaits familyWaits(std::string_view name);
