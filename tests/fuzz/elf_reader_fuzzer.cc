// Any bytes through the ELF reader, for both memories: headers and segments
// pointing anywhere are refused or loaded, never read or written out of bounds.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/elf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto image = std::make_unique<ImageBuffer>();
  const char* bytes = reinterpret_cast<const char*>(data);
  if (!looksLikeElf(bytes, size)) return 0;
  for (ImageMemory memory : {ImageMemory::kFlash, ImageMemory::kEeprom}) {
    const ElfLoadResult result = loadElfImage(bytes, size, memory, *image, 0xFF);
    if (result.loadLength < 0 || result.loadLength > kImageBytes) std::abort();
    if (result.status != ElfLoadStatus::kLoaded && result.loadLength != 0) std::abort();
  }
  return 0;
}
