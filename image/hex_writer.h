#pragma once
// Saves the first n bytes of an image as Intel HEX: 16-byte data records from
// address 0 that never cross a 64 KiB boundary, an extended address record
// after each record that ends a 64 KiB block, and the end-of-file record.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "run/memory_image.h"
#include "run/output_sink.h"

// Receives the text in large chunks; returns false when it could not take one,
// which stops the formatting.
using HexTextSink = std::function<bool(const char* text, size_t length)>;

// hexRecordType 4 selects extended linear address records (type 04), any other
// value extended segment address records (type 02). n is limited to the image;
// zero or less gives only the end-of-file record. False when the sink failed.
bool formatHexRecords(const ImageBuffer& readImage, int32_t n, int hexRecordType,
                      const HexTextSink& sink);

// The same text onto a stream; false on a stream error.
bool writeHexRecords(std::ostream& uploadStream, const ImageBuffer& readImage, int32_t n,
                     int hexRecordType);

// Writes the HEX file at path and reports on the console. Returns 1 when the
// file was written, -1 when it cannot be created or a write fails. An existing
// regular file is replaced only once the new one is complete.
int writeHexFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                 int hexRecordType, OutputSink& console);
