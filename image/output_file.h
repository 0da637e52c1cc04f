#pragma once
// An output file that replaces its target only when complete: an existing
// regular file (or a path not yet taken) is written through a temporary file
// in the same folder and renamed over the target after a successful flush to
// disk, so a failed write never leaves a destroyed or half-written file.
// Devices and pipes (/dev/stdout, a FIFO) cannot be renamed over and are
// written directly; so is standard output, named "-".
//
// Every output path first passes the protected-symlinks rule, whatever the
// kernel's own setting: in a sticky world-writable folder (/tmp) a symbolic
// link is followed only when it belongs to the running user or to the
// folder's owner, so another user cannot plant a link that makes the program
// overwrite a file of theirs choosing.

#include <cstddef>
#include <string>

struct stat;

// False, with the reason, when writing to `path` would follow a symbolic link
// that the rule above forbids.
bool outputLinkPermitted(const std::string& path, std::string& reason);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // abandons an uncommitted file: the temporary one is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // False when the file cannot be created (missing folder, no permission, a
  // forbidden link); error() then says why.
  bool open(const std::string& path);
  // For a file the program keeps for itself (the calibration, the prompt
  // history): written only over a regular file or where there is none, never
  // through a symbolic link nor over one, and the name itself is replaced. A
  // link, FIFO, device or folder in its place makes this false.
  bool openOwn(const std::string& path);
  bool write(const char* data, size_t length);
  // Makes the written text the target's content; false on any failure, in
  // which case the target is untouched (when it was a regular file).
  bool commit();
  const std::string& error() const { return error_; }

 private:
  void abandon();
  bool openReplacement(const std::string& target, const struct stat* existing);

  int fd_ = -1;
  bool direct_ = false;
  bool standardOutput_ = false;  // fd_ is descriptor 1, never closed here
  std::string target_;
  std::string temporary_;
  std::string error_;
  // The mode of the file replaced, when it has set-id bits: a write by a
  // process that may not set them clears them, so they go back once the
  // text is written.
  unsigned setIdMode_ = 0;
};
