#pragma once
// Loads the flash or the EEPROM part of an AVR ELF32 executable (what avr-gcc
// links) into a memory image, as the HEX text that avr-objcopy makes of it
// would load: every loadable segment's file bytes at its physical address.
// AVR ELF addresses put flash below 0x800000, data memory at 0x800000,
// EEPROM at 0x810000 and fuses, lock and signature from 0x820000 on.

#include <cstddef>
#include <cstdint>

#include "run/memory_image.h"

enum class ImageMemory { kFlash, kEeprom };

enum class ElfLoadStatus {
  kLoaded,
  kNotElf32,  // a 64-bit (or unknown class) ELF
  kNotLittleEndian,
  kNotAvr,   // e_machine is not EM_AVR
  kDamaged,  // headers or segments that lie outside the file
  kNoData,   // nothing for the memory asked
};

struct ElfLoadResult {
  ElfLoadStatus status;
  // Highest end address of the data loaded, never beyond the image.
  int32_t loadLength;
  // Data bytes of the memory asked whose address lies beyond the image.
  int32_t bytesBeyondEnd;
  // Bytes of fuse, lock, signature or data-memory segments: not loadable
  // through either memory.
  int64_t bytesIgnored;
};

// True when the text starts with the ELF magic number.
bool looksLikeElf(const char* bytes, size_t size);

// Clears the image to fillChar and loads the segments of `memory`.
ElfLoadResult loadElfImage(const char* bytes, size_t size, ImageMemory memory,
                           ImageBuffer& loadImage, uint8_t fillChar);
