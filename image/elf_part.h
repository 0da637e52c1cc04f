#pragma once
// What an avr-gcc executable says about the chip it was built for, besides its
// flash and EEPROM: the device name the linker records in the
// .note.gnu.avr.deviceinfo note, the signature <avr/signature.h> puts at
// 0x840000, and the FUSES and LOCKBITS bytes at 0x820000 and 0x830000.

#include <cstddef>
#include <cstdint>
#include <string>

struct ElfPart {
  std::string deviceName;  // as the note has it ("atmega328p"); empty without one
  bool hasSignature = false;
  uint8_t signature[3] = {0, 0, 0};       // in the chip's order: 0x1E first
  int fuseCount = 0;                      // bytes in .fuse, at most 3 kept
  uint8_t fuses[3] = {0xFF, 0xFF, 0xFF};  // low, high, extended, as avr-libc orders them
  bool hasLock = false;
  uint8_t lock = 0xFF;
  bool hasEeprom = false;  // an EEPROM segment with bytes in the file

  bool namesPart() const { return hasSignature || !deviceName.empty(); }
};

// Reads what `bytes` holds of the above; a file that is no AVR ELF, or whose
// note is damaged, gives what could be read (nothing, at worst). Section and
// segment bounds are checked against `size`.
ElfPart readElfPart(const char* bytes, size_t size);
