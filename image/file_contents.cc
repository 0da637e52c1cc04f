#include "image/file_contents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "run/regular_file.h"

namespace {

struct Descriptor {
  int fd;
  bool owned;
  ~Descriptor() {
    if (owned && fd >= 0) ::close(fd);
  }
};

bool readOpenedFile(const Descriptor& file, size_t limit, std::string& contents,
                    std::string& reason) {
  char block[65536];
  for (;;) {
    ssize_t got = ::read(file.fd, block, sizeof block);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      contents.clear();
      return false;
    }
    if (got == 0) return true;
    if (contents.size() + static_cast<size_t>(got) > limit) {
      reason = limit >= (size_t{1} << 20)
                   ? "File too large (more than " + std::to_string(limit >> 20) + " MiB)"
                   : "File too large (more than " + std::to_string(limit) + " bytes)";
      contents.clear();
      contents.shrink_to_fit();
      return false;
    }
    contents.append(block, static_cast<size_t>(got));
  }
}

}  // namespace

bool readWholeFile(const std::string& path, size_t limit, std::string& contents,
                   std::string& reason) {
  contents.clear();
  const bool standardInput = path == "-";
  Descriptor file{
      standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY),
      !standardInput};
  if (file.fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  return readOpenedFile(file, limit, contents, reason);
}

bool readWholeRegularFile(const std::string& path, size_t limit, std::string& contents,
                          std::string& reason) {
  contents.clear();
  Descriptor file{openRegularFile(path, reason), true};
  if (file.fd < 0) return false;
  return readOpenedFile(file, limit, contents, reason);
}
