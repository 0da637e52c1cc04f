#pragma once
// What every command that takes a download file (df, dff, de, ld) does before
// anything is sent to the target: read the whole file (standard input for
// "-"), tell Intel HEX, S-records and ELF apart by their content (raw binary by
// a ".bin" name), and load the memory asked for into the image. A file that cannot be read or
// holds nothing for that memory is refused here, so no erase follows.

#include <cstdint>
#include <string>

#include "image/elf_part.h"
#include "image/elf_reader.h"
#include "run/memory_image.h"
#include "run/output_sink.h"

enum class DownloadOutcome {
  kLoaded,
  kUnreadable,  // "Can't open download file" and the reason; the image is untouched
  kRefused,     // read, but nothing to program from it; the reason was printed
};

struct DownloadLoad {
  DownloadOutcome outcome;
  int32_t loadLength;  // bytes to program and verify from address 0
  ElfPart elf;         // what an ELF file says of its part; empty for other formats
};

// Prints its own messages and warnings on the console.
DownloadLoad loadDownloadFile(const std::string& path, ImageMemory memory, ImageBuffer& loadImage,
                              uint8_t fillChar, OutputSink& console);
