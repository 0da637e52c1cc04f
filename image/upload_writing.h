#pragma once
// The part every upload format shares: the file opened beside its target,
// announced, filled by the format and put in place only when all of it was
// written, so a failed upload leaves an existing file as it was.

#include <cstddef>
#include <functional>
#include <string>

class OutputSink;

// Writes the text it is given; false when the file took less than all of it.
using UploadWriter = std::function<bool(const char* bytes, size_t length)>;

// Opens `path`, prints "Write Flash/EEPROM data to PATH", lets `format` write
// through the writer it is handed and commits. Returns 1, or -1 after the
// open or write error and its reason.
int writeUploadFile(const std::string& path, OutputSink& console,
                    const std::function<bool(const UploadWriter& write)>& format);
