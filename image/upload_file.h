#pragma once
// Uploads in the format the file's name asks for: raw binary for ".bin",
// S-records for ".srec", ".s19", ".s28" and ".s37", Intel HEX for every other
// name. A name of "-" is standard output (Intel HEX).

#include <cstdint>
#include <string>

#include "run/memory_image.h"
#include "run/output_sink.h"

// 1 when written, -1 when the file cannot be created or a write fails.
int writeUploadFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                    int hexRecordType, OutputSink& console);
