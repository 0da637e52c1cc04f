#pragma once
// A whole chip as an AVR ELF32 executable laid out as avr-gcc lays one out,
// so that avr-objdump and avr-objcopy read it and a download of it restores
// the chip: flash as .text at 0, EEPROM as .eeprom at 0x810000, fuses as
// .fuse at 0x820000 (low, high, extended), the lock byte as .lock at
// 0x830000 and the signature as .signature at 0x840000 (last byte first, as
// <avr/signature.h> stores it). Each section has a loadable segment of its own.

#include <cstdint>
#include <string>

struct ChipContents {
  std::string flash;
  std::string eeprom;
  std::string fuses;  // low, high, extended: as many as the part has
  bool hasLock = false;
  uint8_t lock = 0xFF;
  uint8_t signature[3] = {0, 0, 0};  // in the chip's order: 0x1E first
};

// The file's bytes. Empty memories get no section.
std::string avrElfOf(const ChipContents& chip);
