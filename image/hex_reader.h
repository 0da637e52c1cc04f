#pragma once
// Loads an Intel HEX text into a memory image. Records are found by their ':'
// start code alone, so line ends (LF, CR LF or none) and any text between
// records do not matter, and records after the end-of-file record still load:
// that is what two files joined with cat look like. A line of nothing but hex
// digits is the exception: it is a record whose ':' was lost.

#include <cstddef>
#include <cstdint>
#include <istream>

#include "run/memory_image.h"
#include "run/output_sink.h"

struct HexLoadResult {
  // One past the highest address loaded, whatever order the records come in,
  // never beyond the image; 0 when no data byte was read.
  int32_t loadLength;
  // Data bytes whose address lies at or beyond the image end; not stored.
  int32_t bytesBeyondEnd;
  // Records with a non-hexadecimal character in a field, cut short by the end
  // of the text, or a line of nothing but hex digits (a record that lost its
  // ':'); they store nothing and leave loadLength alone.
  int32_t malformedRecords;
  // Records that loaded although their checksum does not match, and records
  // of another type whose checksum does not match (a damaged type byte).
  int32_t badChecksums;
  // Complete data, end-of-file and extended address records, and records of
  // another type with a bad checksum: 0 means the text holds no Intel HEX at
  // all (a binary, an empty file, some other text).
  int32_t records;
  // Line (counted from 1) of the first record that is malformed, cut short or
  // has a bad checksum; 0 when every record is sound. Such a file is damaged
  // and must not be programmed.
  int32_t firstBadLine = 0;
  // Data records that came after an end-of-file record.
  int32_t dataAfterEnd = 0;
};

// Clears the image to fillChar and loads every record of the text.
HexLoadResult loadHexText(const char* text, size_t size, ImageBuffer& loadImage, uint8_t fillChar);

// Clears the image to fillChar and loads every record of the stream, reading it
// to its end. The stream stays owned (and open) by the caller.
HexLoadResult loadHexRecords(std::istream& downloadStream, ImageBuffer& loadImage,
                             uint8_t fillChar);

// One warning line on the console for each kind of trouble counted.
void reportHexTrouble(const HexLoadResult& result, OutputSink& console);

// loadHexRecords, then reportHexTrouble. Returns the load length.
int32_t readHexFile(std::istream& downloadStream, ImageBuffer& loadImage, uint8_t fillChar,
                    OutputSink& console);
