#pragma once
// The simulator's own table of parts, from the datasheets (not from the
// programs' catalogue, which it is there to check).

#include <cstdint>
#include <string_view>

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
};

// Part names are matched without regard to case; nullptr when unknown.
const SimPart* findSimPart(std::string_view name);
const SimPart* simParts();
int simPartCount();
