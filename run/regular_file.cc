#include "run/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

const char* const kNotRegularFileReason = "Not a regular file";

int openRegularFile(const std::string& path, std::string& reason) {
  // O_NONBLOCK lets a FIFO without a writer open at once instead of waiting
  // for one; the check below then turns it away.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    reason = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(status.st_mode)) {
    reason = kNotRegularFileReason;
    ::close(fd);
    return -1;
  }
  // Reads of a regular file never wait anyway; the flag goes so that the
  // stream layer above sees an ordinary descriptor.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::FILE* openRegularStream(const std::string& path, OutputSink& console) {
  std::string reason;
  const int fd = openRegularFile(path, reason);
  if (fd < 0) {
    if (reason == kNotRegularFileReason) {
      console.print("%s is not a regular file - ignored\n", path.c_str());
    }
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "r");
  if (stream == nullptr) ::close(fd);
  return stream;
}

namespace {
const char* const kTooLargeReason = "File too large";
}  // namespace

std::string unreadableFileLine(const std::string& path, const std::string& reason, size_t limit) {
  if (reason == std::strerror(ENOENT)) return "";
  if (reason == kNotRegularFileReason) return path + " is not a regular file - ignored";
  if (reason == kTooLargeReason) {
    return path + " is larger than " + std::to_string(limit) + " bytes - ignored";
  }
  return path + ": " + reason + " - ignored";
}

bool readRegularFileText(const std::string& path, size_t limit, std::string& text,
                         std::string& reason) {
  text.clear();
  const int fd = openRegularFile(path, reason);
  if (fd < 0) return false;
  char block[4096];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || text.size() + static_cast<size_t>(got) > limit) {
      reason = got < 0 ? std::strerror(errno) : kTooLargeReason;
      ::close(fd);
      text.clear();
      return false;
    }
    if (got == 0) break;
    text.append(block, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}
