#pragma once
// Raw binary images: the bytes of target memory from address 0, nothing else.
// A binary carries no mark of its own, so it is chosen by a name ending in
// ".bin" and never guessed from the content.

#include <cstddef>
#include <cstdint>
#include <string>

#include "run/memory_image.h"
#include "run/output_sink.h"

// True when the name ends in ".bin", letter case ignored.
bool namesBinaryFile(const std::string& path);

struct BinaryLoadResult {
  int32_t loadLength;      // the file's length, at most the image's
  int32_t bytesBeyondEnd;  // bytes past the image end; not stored
};

// Clears the image to fillChar and puts the bytes at address 0 on.
BinaryLoadResult loadBinaryImage(const char* bytes, size_t size, ImageBuffer& loadImage,
                                 uint8_t fillChar);

// Writes the first n bytes of the image to `path` and reports on the console as
// the HEX writer does. Returns 1 when written, -1 when the file cannot be
// created or a write fails; an existing file is replaced only when complete.
int writeBinaryFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                    OutputSink& console);
