#include "image/elf_reader.h"

#include <elf.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>

#include "image/elf_fields.h"

namespace {

constexpr uint32_t kDataMemoryBase = 0x800000;
constexpr uint32_t kEepromBase = 0x810000;
constexpr uint32_t kFuseBase = 0x820000;

}  // namespace

bool looksLikeElf(const char* bytes, size_t size) {
  return size >= SELFMAG && std::memcmp(bytes, ELFMAG, SELFMAG) == 0;
}

ElfLoadResult loadElfImage(const char* bytes, size_t size, ImageMemory memory,
                           ImageBuffer& loadImage, uint8_t fillChar) {
  ElfLoadResult result{ElfLoadStatus::kLoaded, 0, 0, 0};
  clearImage(loadImage, fillChar);
  if (size < EI_NIDENT) {
    result.status = ElfLoadStatus::kDamaged;
    return result;
  }
  if (bytes[EI_CLASS] != ELFCLASS32) {
    result.status = ElfLoadStatus::kNotElf32;
    return result;
  }
  if (bytes[EI_DATA] != ELFDATA2LSB) {
    result.status = ElfLoadStatus::kNotLittleEndian;
    return result;
  }
  if (size < sizeof(Elf32_Ehdr)) {
    result.status = ElfLoadStatus::kDamaged;
    return result;
  }
  if (ELF_FIELD(bytes, Elf32_Ehdr, e_machine) != EM_AVR) {
    result.status = ElfLoadStatus::kNotAvr;
    return result;
  }
  const uint64_t tableOffset = ELF_FIELD(bytes, Elf32_Ehdr, e_phoff);
  const uint64_t entrySize = ELF_FIELD(bytes, Elf32_Ehdr, e_phentsize);
  const uint64_t entries = ELF_FIELD(bytes, Elf32_Ehdr, e_phnum);
  if (entries > 0 &&
      (entrySize < sizeof(Elf32_Phdr) || !elfInside(tableOffset, entrySize * entries, size))) {
    result.status = ElfLoadStatus::kDamaged;
    return result;
  }

  bool found = false;
  for (uint64_t i = 0; i < entries; ++i) {
    const char* header = bytes + tableOffset + i * entrySize;
    if (ELF_FIELD(header, Elf32_Phdr, p_type) != PT_LOAD) continue;
    const uint64_t length = ELF_FIELD(header, Elf32_Phdr, p_filesz);
    if (length == 0) continue;
    const uint64_t offset = ELF_FIELD(header, Elf32_Phdr, p_offset);
    const uint64_t address = ELF_FIELD(header, Elf32_Phdr, p_paddr);
    if (!elfInside(offset, length, size)) {
      // Whatever earlier segments loaded counts for nothing.
      return {ElfLoadStatus::kDamaged, 0, 0, 0};
    }
    uint64_t base = 0;
    if (address < kDataMemoryBase && memory == ImageMemory::kFlash) {
      base = 0;
    } else if (address >= kEepromBase && address < kFuseBase && memory == ImageMemory::kEeprom) {
      base = kEepromBase;
    } else {
      if (address >= kFuseBase || (address >= kDataMemoryBase && address < kEepromBase)) {
        result.bytesIgnored += static_cast<int64_t>(length);
      }
      continue;
    }
    found = true;
    const uint64_t start = address - base;
    const uint64_t end = start + length;
    const uint64_t storedEnd = std::min<uint64_t>(end, kImageBytes);
    if (start < storedEnd) {
      std::memcpy(&loadImage[static_cast<size_t>(start)], bytes + offset,
                  static_cast<size_t>(storedEnd - start));
      result.loadLength = std::max(result.loadLength, static_cast<int32_t>(storedEnd));
    }
    const uint64_t beyond = end - std::max(start, storedEnd);
    result.bytesBeyondEnd = static_cast<int32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(result.bytesBeyondEnd) + beyond, INT32_MAX));
  }
  if (!found) result.status = ElfLoadStatus::kNoData;
  return result;
}
