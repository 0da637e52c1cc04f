#pragma once
// Loads Motorola S-record text into a memory image. Unlike Intel HEX, the
// format is read line by line and strictly: a file with a damaged line, a
// wrong checksum or a record count that disagrees is refused whole, before
// anything of it reaches the image, so no erase follows a corrupted download.

#include <cstddef>
#include <cstdint>
#include <string>

#include "run/memory_image.h"
#include "run/output_sink.h"

enum class SrecTrouble {
  kNone,
  kMalformed,  // not an S-record: a stray character, a wrong length, S4, data in S5-S9
  kBadChecksum,
  kCountMismatch,  // an S5/S6 record that counts other than the data records before it
  kNoData,         // neither a data record nor a count or end record
};

struct SrecLoadResult {
  SrecTrouble trouble;
  int32_t line;  // 1-based line of the trouble; 0 when none
  // Highest end address of the data loaded, never beyond the image.
  int32_t loadLength;
  // Data bytes whose address lies at or beyond the image end; not stored.
  int32_t bytesBeyondEnd;
  int32_t dataRecords;
  int64_t countedRecords;  // what a disagreeing S5/S6 record said
  // Address of the first data byte at or beyond the image end; 0 when none.
  int64_t firstAddressBeyond = 0;
};

// True when the first thing in the text, after blank space, is the start of
// an S-record: 'S', a type digit and a hexadecimal digit.
bool looksLikeSrec(const char* text, size_t size);

// Checks the whole text first; only when every record is sound is the image
// cleared to fillChar and loaded. On trouble the image is untouched.
SrecLoadResult loadSrecText(const char* text, size_t size, ImageBuffer& loadImage,
                            uint8_t fillChar);

// One line on the console saying why the file at `name` was refused, ending in
// "nothing programmed"; nothing when there was no trouble.
void reportSrecTrouble(const SrecLoadResult& result, const std::string& name, OutputSink& console);
