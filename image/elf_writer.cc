#include "image/elf_writer.h"

#include <elf.h>

#include <cstddef>
#include <vector>

namespace {

struct Section {
  const char* name;
  uint32_t address;
  uint32_t sectionFlags;
  uint32_t segmentFlags;
  uint32_t alignment;
  std::string bytes;
};

// Fields go in byte by byte, little-endian as the AVR format is, whatever
// the host's order.
void put(std::string& file, size_t at, uint32_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) file[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

#define PUT(file, base, type, member, value) \
  put(file, (base) + offsetof(type, member), value, sizeof(static_cast<type*>(nullptr)->member))

std::vector<Section> sectionsOf(const ChipContents& chip) {
  std::string signature;
  for (int i = 2; i >= 0; --i) signature += static_cast<char>(chip.signature[i]);
  const uint32_t data = SHF_ALLOC | SHF_WRITE;
  std::vector<Section> all = {
      {".text", 0, SHF_ALLOC | SHF_EXECINSTR, PF_R | PF_X, 2, chip.flash},
      {".eeprom", 0x810000, data, PF_R | PF_W, 1, chip.eeprom},
      {".fuse", 0x820000, data, PF_R | PF_W, 1, chip.fuses},
      {".lock", 0x830000, data, PF_R | PF_W, 1,
       chip.hasLock ? std::string(1, static_cast<char>(chip.lock)) : std::string()},
      {".signature", 0x840000, SHF_ALLOC, PF_R, 1, signature},
  };
  std::vector<Section> kept;
  for (Section& section : all) {
    if (!section.bytes.empty()) kept.push_back(std::move(section));
  }
  return kept;
}

}  // namespace

std::string avrElfOf(const ChipContents& chip) {
  const std::vector<Section> sections = sectionsOf(chip);
  const size_t segments = sections.size();
  // Section header 0 is the empty one, the last names the sections.
  const size_t headers = segments + 2;
  std::string names(1, '\0');
  std::vector<uint32_t> nameAt;
  for (const Section& section : sections) {
    nameAt.push_back(static_cast<uint32_t>(names.size()));
    names += section.name;
    names += '\0';
  }
  const uint32_t namesName = static_cast<uint32_t>(names.size());
  names += ".shstrtab";
  names += '\0';

  std::string file(sizeof(Elf32_Ehdr) + segments * sizeof(Elf32_Phdr), '\0');
  std::vector<uint32_t> offsets;
  for (const Section& section : sections) {
    while (file.size() % section.alignment != 0) file += '\0';
    offsets.push_back(static_cast<uint32_t>(file.size()));
    file += section.bytes;
  }
  const uint32_t namesOffset = static_cast<uint32_t>(file.size());
  file += names;
  while (file.size() % 4 != 0) file += '\0';
  const uint32_t sectionTable = static_cast<uint32_t>(file.size());
  file.append(headers * sizeof(Elf32_Shdr), '\0');

  file.replace(0, SELFMAG, ELFMAG);
  file[EI_CLASS] = ELFCLASS32;
  file[EI_DATA] = ELFDATA2LSB;
  file[EI_VERSION] = EV_CURRENT;
  PUT(file, 0, Elf32_Ehdr, e_type, ET_EXEC);
  PUT(file, 0, Elf32_Ehdr, e_machine, EM_AVR);
  PUT(file, 0, Elf32_Ehdr, e_version, EV_CURRENT);
  PUT(file, 0, Elf32_Ehdr, e_phoff, sizeof(Elf32_Ehdr));
  PUT(file, 0, Elf32_Ehdr, e_shoff, sectionTable);
  PUT(file, 0, Elf32_Ehdr, e_ehsize, sizeof(Elf32_Ehdr));
  PUT(file, 0, Elf32_Ehdr, e_phentsize, sizeof(Elf32_Phdr));
  PUT(file, 0, Elf32_Ehdr, e_phnum, static_cast<uint32_t>(segments));
  PUT(file, 0, Elf32_Ehdr, e_shentsize, sizeof(Elf32_Shdr));
  PUT(file, 0, Elf32_Ehdr, e_shnum, static_cast<uint32_t>(headers));
  PUT(file, 0, Elf32_Ehdr, e_shstrndx, static_cast<uint32_t>(headers - 1));

  for (size_t i = 0; i < segments; ++i) {
    const Section& section = sections[i];
    const uint32_t size = static_cast<uint32_t>(section.bytes.size());
    const size_t program = sizeof(Elf32_Ehdr) + i * sizeof(Elf32_Phdr);
    PUT(file, program, Elf32_Phdr, p_type, PT_LOAD);
    PUT(file, program, Elf32_Phdr, p_offset, offsets[i]);
    PUT(file, program, Elf32_Phdr, p_vaddr, section.address);
    PUT(file, program, Elf32_Phdr, p_paddr, section.address);
    PUT(file, program, Elf32_Phdr, p_filesz, size);
    PUT(file, program, Elf32_Phdr, p_memsz, size);
    PUT(file, program, Elf32_Phdr, p_flags, section.segmentFlags);
    PUT(file, program, Elf32_Phdr, p_align, section.alignment);

    const size_t header = sectionTable + (i + 1) * sizeof(Elf32_Shdr);
    PUT(file, header, Elf32_Shdr, sh_name, nameAt[i]);
    PUT(file, header, Elf32_Shdr, sh_type, SHT_PROGBITS);
    PUT(file, header, Elf32_Shdr, sh_flags, section.sectionFlags);
    PUT(file, header, Elf32_Shdr, sh_addr, section.address);
    PUT(file, header, Elf32_Shdr, sh_offset, offsets[i]);
    PUT(file, header, Elf32_Shdr, sh_size, size);
    PUT(file, header, Elf32_Shdr, sh_addralign, section.alignment);
  }
  const size_t namesHeader = sectionTable + (headers - 1) * sizeof(Elf32_Shdr);
  PUT(file, namesHeader, Elf32_Shdr, sh_name, namesName);
  PUT(file, namesHeader, Elf32_Shdr, sh_type, SHT_STRTAB);
  PUT(file, namesHeader, Elf32_Shdr, sh_offset, namesOffset);
  PUT(file, namesHeader, Elf32_Shdr, sh_size, static_cast<uint32_t>(names.size()));
  PUT(file, namesHeader, Elf32_Shdr, sh_addralign, 1);
  return file;
}
