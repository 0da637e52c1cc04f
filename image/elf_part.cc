#include "image/elf_part.h"

#include <elf.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "image/elf_fields.h"
#include "image/elf_reader.h"

namespace {

constexpr uint32_t kEepromBase = 0x810000;
constexpr uint32_t kFuseBase = 0x820000;
constexpr uint32_t kLockBase = 0x830000;
constexpr uint32_t kSignatureBase = 0x840000;
constexpr uint32_t kSignatureEnd = 0x850000;
constexpr size_t kLongestDeviceName = 63;

const char kDeviceInfoSection[] = ".note.gnu.avr.deviceinfo";

// The bytes of one loadable segment that fall within [base, base + room),
// placed at their offset from base.
void copyWithin(const char* data, uint64_t address, uint64_t length, uint32_t base, uint8_t* to,
                size_t room, size_t* highest) {
  for (uint64_t i = 0; i < length; ++i) {
    const uint64_t at = address + i - base;
    if (address + i < base || at >= room) continue;
    to[at] = static_cast<uint8_t>(data[i]);
    *highest = std::max<size_t>(*highest, static_cast<size_t>(at) + 1);
  }
}

void readSegments(const char* bytes, size_t size, ElfPart& part) {
  const uint64_t table = ELF_FIELD(bytes, Elf32_Ehdr, e_phoff);
  const uint64_t entrySize = ELF_FIELD(bytes, Elf32_Ehdr, e_phentsize);
  const uint64_t entries = ELF_FIELD(bytes, Elf32_Ehdr, e_phnum);
  if (entrySize < sizeof(Elf32_Phdr) || !elfInside(table, entrySize * entries, size)) return;
  size_t fuses = 0, lock = 0, signature = 0;
  uint8_t reversed[3] = {0, 0, 0};
  for (uint64_t i = 0; i < entries; ++i) {
    const char* header = bytes + table + i * entrySize;
    if (ELF_FIELD(header, Elf32_Phdr, p_type) != PT_LOAD) continue;
    const uint64_t length = ELF_FIELD(header, Elf32_Phdr, p_filesz);
    const uint64_t offset = ELF_FIELD(header, Elf32_Phdr, p_offset);
    const uint64_t address = ELF_FIELD(header, Elf32_Phdr, p_paddr);
    if (length == 0 || !elfInside(offset, length, size)) continue;
    const char* data = bytes + offset;
    if (address >= kEepromBase && address < kFuseBase) part.hasEeprom = true;
    if (address >= kSignatureEnd || address + length <= kFuseBase) continue;
    copyWithin(data, address, length, kFuseBase, part.fuses, 3, &fuses);
    copyWithin(data, address, length, kLockBase, &part.lock, 1, &lock);
    copyWithin(data, address, length, kSignatureBase, reversed, 3, &signature);
  }
  part.fuseCount = static_cast<int>(fuses);
  part.hasLock = lock > 0;
  // <avr/signature.h> stores the three bytes last one first.
  part.hasSignature = signature == 3;
  for (int i = 0; i < 3; ++i) part.signature[i] = reversed[2 - i];
}

// The device name from the note's descriptor: six words of memory layout,
// then a table (its length in bytes, counting the length word, and the name's
// offset) and the string table the offset points into.
std::string deviceNameOf(const char* desc, size_t length) {
  if (length < 32) return "";
  const uint64_t tableLength = elfField(desc + 24, 4);
  const uint64_t nameOffset = elfField(desc + 28, 4);
  if (tableLength < 8 || !elfInside(24 + tableLength, nameOffset, length)) return "";
  const size_t start = static_cast<size_t>(24 + tableLength + nameOffset);
  std::string name;
  for (size_t i = start; i < length && desc[i] != '\0'; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(desc[i])) || name.size() == kLongestDeviceName) {
      return "";
    }
    name += desc[i];
  }
  return name;
}

std::string readDeviceName(const char* bytes, size_t size) {
  const uint64_t table = ELF_FIELD(bytes, Elf32_Ehdr, e_shoff);
  const uint64_t entrySize = ELF_FIELD(bytes, Elf32_Ehdr, e_shentsize);
  const uint64_t entries = ELF_FIELD(bytes, Elf32_Ehdr, e_shnum);
  const uint64_t namesIndex = ELF_FIELD(bytes, Elf32_Ehdr, e_shstrndx);
  if (entries == 0 || namesIndex >= entries || entrySize < sizeof(Elf32_Shdr) ||
      !elfInside(table, entrySize * entries, size)) {
    return "";
  }
  const char* namesHeader = bytes + table + namesIndex * entrySize;
  const uint64_t namesOffset = ELF_FIELD(namesHeader, Elf32_Shdr, sh_offset);
  const uint64_t namesSize = ELF_FIELD(namesHeader, Elf32_Shdr, sh_size);
  if (!elfInside(namesOffset, namesSize, size)) return "";
  for (uint64_t i = 0; i < entries; ++i) {
    const char* header = bytes + table + i * entrySize;
    if (ELF_FIELD(header, Elf32_Shdr, sh_type) != SHT_NOTE) continue;
    const uint64_t name = ELF_FIELD(header, Elf32_Shdr, sh_name);
    if (!elfInside(name, sizeof kDeviceInfoSection, namesSize) ||
        std::memcmp(bytes + namesOffset + name, kDeviceInfoSection, sizeof kDeviceInfoSection) !=
            0) {
      continue;
    }
    const uint64_t offset = ELF_FIELD(header, Elf32_Shdr, sh_offset);
    const uint64_t length = ELF_FIELD(header, Elf32_Shdr, sh_size);
    if (length < sizeof(Elf32_Nhdr) || !elfInside(offset, length, size)) return "";
    const char* note = bytes + offset;
    const uint64_t nameSize = ELF_FIELD(note, Elf32_Nhdr, n_namesz);
    const uint64_t descSize = ELF_FIELD(note, Elf32_Nhdr, n_descsz);
    const uint64_t descAt = sizeof(Elf32_Nhdr) + ((nameSize + 3) & ~uint64_t{3});
    if (nameSize != 4 || !elfInside(descAt, descSize, length) ||
        std::memcmp(note + sizeof(Elf32_Nhdr), "AVR", 4) != 0) {
      return "";
    }
    return deviceNameOf(note + descAt, static_cast<size_t>(descSize));
  }
  return "";
}

}  // namespace

ElfPart readElfPart(const char* bytes, size_t size) {
  ElfPart part;
  if (!looksLikeElf(bytes, size) || size < sizeof(Elf32_Ehdr) || bytes[EI_CLASS] != ELFCLASS32 ||
      bytes[EI_DATA] != ELFDATA2LSB || ELF_FIELD(bytes, Elf32_Ehdr, e_machine) != EM_AVR) {
    return part;
  }
  readSegments(bytes, size, part);
  part.deviceName = readDeviceName(bytes, size);
  return part;
}
