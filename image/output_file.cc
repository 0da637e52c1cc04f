#include "image/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// /dev/stdout of a shell redirected into a file resolves to that regular file;
// renaming over it would leave the shell's descriptor on the old file.
bool isSystemPath(const std::string& path) {
  return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string resolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace

OutputFile::~OutputFile() {
  abandon();
}

bool OutputFile::open(const std::string& path) {
  abandon();
  if (path.empty()) return false;
  struct stat existing;
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if ((exists && !S_ISREG(existing.st_mode)) || isSystemPath(path)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    direct_ = true;
    return fd_ >= 0;
  }

  // Through a symbolic link the file it points to is replaced, not the link.
  target_ = exists ? resolvedPath(path) : path;
  // Long names are shortened so the temporary name stays within NAME_MAX.
  const std::string stem = "." + nameOf(target_).substr(0, 200) + ".";
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = folderOf(target_) + "/" + stem + std::to_string(::getpid()) + "-" +
                 std::to_string(++serial) + ".tmp";
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temporary_.clear();
    return false;
  }
  // The replacement keeps the permissions of the file it replaces.
  if (exists && ::fchmod(fd_, existing.st_mode & 07777) != 0) {
    // Not fatal: the file is still written, with default permissions.
  }
  return true;
}

bool OutputFile::write(const char* data, size_t length) {
  if (fd_ < 0) return false;
  while (length > 0) {
    ssize_t written = ::write(fd_, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  if (direct_) {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  // Flushed before the rename, so a crash cannot leave an empty file in the
  // old one's place.
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (ok) ok = ::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (ok) temporary_.clear();
  abandon();
  return ok;
}

void OutputFile::abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  direct_ = false;
}
