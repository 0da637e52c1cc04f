#pragma once
// Saves the first n bytes of an image as Motorola S-records: a header record,
// data records of 16 bytes from address 0, a record count and an end record.

#include <cstdint>
#include <string>

#include "image/hex_writer.h"
#include "run/memory_image.h"
#include "run/output_sink.h"

// True for the names that get S-records: ".srec", ".s19", ".s28", ".s37",
// letter case ignored.
bool namesSrecFile(const std::string& path);

// Address bytes of the data records: 2 (S1), 3 (S2) or 4 (S3). The name asks
// for a size (".s19" two bytes, ".s28" three, ".s37" four, ".srec" the least
// that suits), raised when n does not fit in it.
int srecAddressBytes(const std::string& path, int32_t n);

// `header` is the text of the S0 record, cut to 32 characters. False when the
// sink failed.
bool formatSrecRecords(const ImageBuffer& readImage, int32_t n, int addressBytes,
                       const std::string& header, const HexTextSink& sink);

// Writes the S-record file at path as writeHexFile writes HEX: 1 when written,
// -1 when it cannot be created or a write fails.
int writeSrecFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                  OutputSink& console);
