#pragma once
// An output file that replaces its target only when complete: an existing
// regular file (or a path not yet taken) is written through a temporary file
// in the same folder and renamed over the target after a successful flush to
// disk, so a failed write never leaves a destroyed or half-written file.
// Devices and pipes (/dev/stdout, a FIFO) cannot be renamed over and are
// written directly.

#include <cstddef>
#include <string>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // abandons an uncommitted file: the temporary one is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False when the file cannot be created (missing folder, no permission).
  bool open(const std::string& path);
  bool write(const char* data, size_t length);
  // Makes the written text the target's content; false on any failure, in
  // which case the target is untouched (when it was a regular file).
  bool commit();

 private:
  void abandon();

  int fd_ = -1;
  bool direct_ = false;
  std::string target_;
  std::string temporary_;
};
