#pragma once
// Reads a whole file into memory before anything acts on it, so that a file
// that cannot be read (missing, a directory, an I/O error part way) or one
// that never ends (/dev/zero) is found out before the target is touched.

#include <cstddef>
#include <string>

// A download file is Intel HEX or ELF text for an image of at most 364,000
// bytes; 64 MiB is far more than any such file needs.
constexpr size_t kDownloadFileLimit = size_t{64} << 20;

// Reads the file at `path` into `contents`; "-" is standard input. Returns false when it cannot be
// opened or read, or when it is longer than `limit` bytes; `reason` then says
// why in a few words (the system's text for an error).
bool readWholeFile(const std::string& path, size_t limit, std::string& contents,
                   std::string& reason);

// readWholeFile for a file that must be a regular one (a script): a FIFO,
// device or folder is refused at once, with kNotRegularFileReason.
bool readWholeRegularFile(const std::string& path, size_t limit, std::string& contents,
                          std::string& reason);
