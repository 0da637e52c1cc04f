#include "image/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The temporary file being written, removed if the process is ended by a
// signal meanwhile. One at a time: the programs write their files one after
// another. The handler uses only async-signal-safe calls.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char pendingTemporary[PATH_MAX];
volatile sig_atomic_t temporaryPending = 0;
struct sigaction previousActions[3];
bool handlersInstalled = false;

void restoreHandlers() {
  if (!handlersInstalled) return;
  for (size_t i = 0; i < 3; ++i) ::sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
  handlersInstalled = false;
}

void removeTemporaryAndResignal(int signalNumber) {
  if (temporaryPending) ::unlink(pendingTemporary);
  temporaryPending = 0;
  // The signal then takes the course it would have taken without us: the
  // earlier disposition is back, and the raised signal waits until we return.
  for (size_t i = 0; i < 3; ++i) {
    if (kCleanupSignals[i] == signalNumber) ::sigaction(signalNumber, &previousActions[i], nullptr);
  }
  ::raise(signalNumber);
}

void guardTemporary(const std::string& path) {
  if (path.size() >= sizeof pendingTemporary) return;
  std::memcpy(pendingTemporary, path.c_str(), path.size() + 1);
  temporaryPending = 1;
  if (handlersInstalled) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removeTemporaryAndResignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kCleanupSignals) sigaddset(&action.sa_mask, signalNumber);
  for (size_t i = 0; i < 3; ++i) {
    ::sigaction(kCleanupSignals[i], nullptr, &previousActions[i]);
    // A signal the process ignores (nohup) stays ignored.
    if (previousActions[i].sa_handler == SIG_IGN) continue;
    ::sigaction(kCleanupSignals[i], &action, nullptr);
  }
  handlersInstalled = true;
}

void releaseTemporary() {
  temporaryPending = 0;
  restoreHandlers();
}

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

bool outputLinkPermitted(const std::string& path, std::string& reason) {
  struct stat link;
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
  struct stat folder;
  if (::stat(folderOf(path).c_str(), &folder) != 0) return true;
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  if (!shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid) return true;
  reason = "a symbolic link in a shared sticky folder, owned by another user; not followed";
  return false;
}

OutputFile::~OutputFile() {
  abandon();
}

bool OutputFile::open(const std::string& path) {
  abandon();
  error_.clear();
  if (path.empty()) {
    error_ = std::strerror(ENOENT);
    return false;
  }
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    direct_ = true;
    standardOutput_ = true;
    return true;
  }
  if (!outputLinkPermitted(path, error_)) return false;
  struct stat existing;
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if ((exists && !S_ISREG(existing.st_mode)) || isSystemPath(path)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    direct_ = true;
    if (fd_ < 0) error_ = std::strerror(errno);
    return fd_ >= 0;
  }

  // Through a symbolic link the file it points to is replaced, not the link.
  return openReplacement(exists ? resolvedPath(path) : path, exists ? &existing : nullptr);
}

bool OutputFile::openOwn(const std::string& path) {
  abandon();
  error_.clear();
  if (path.empty()) {
    error_ = std::strerror(ENOENT);
    return false;
  }
  struct stat existing;
  const bool exists = ::lstat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    error_ = S_ISLNK(existing.st_mode) ? "a symbolic link; left alone" : "not a regular file";
    return false;
  }
  // Should a link take the name after the check, the rename replaces the link,
  // never the file it names.
  return openReplacement(path, exists ? &existing : nullptr);
}

bool OutputFile::openReplacement(const std::string& target, const struct stat* existing) {
  target_ = target;
  // Long names are shortened so the temporary name stays within NAME_MAX.
  const std::string stem = "." + nameOf(target_).substr(0, 200) + ".";
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = folderOf(target_) + "/" + stem + std::to_string(::getpid()) + "-" +
                 std::to_string(++serial) + ".tmp";
    // The signals wait while the file is made and registered, so none can
    // leave it behind unregistered, nor remove a name that was not ours.
    sigset_t cleanupSignals, previousMask;
    sigemptyset(&cleanupSignals);
    for (int signalNumber : kCleanupSignals) sigaddset(&cleanupSignals, signalNumber);
    ::sigprocmask(SIG_BLOCK, &cleanupSignals, &previousMask);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int openError = errno;
    if (fd_ >= 0) guardTemporary(temporary_);
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    errno = openError;
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    temporary_.clear();
    releaseTemporary();
    return false;
  }
  // The replacement keeps the owner (where this process may set it; root
  // writing a user's file) and then the permissions of the file it replaces;
  // in that order, as a change of owner clears the set-id bits.
  if (existing != nullptr) {
    if (::fchown(fd_, existing->st_uid, existing->st_gid) != 0) {
      // Not fatal: an ordinary user cannot give a file away.
    }
    if (::fchmod(fd_, existing->st_mode & 07777) != 0) {
      // Not fatal: the file is still written, with default permissions.
    }
    if ((existing->st_mode & (S_ISUID | S_ISGID)) != 0) setIdMode_ = existing->st_mode & 07777;
  }
  return true;
}

bool OutputFile::write(const char* data, size_t length) {
  if (fd_ < 0) return false;
  // Console text buffered for standard output goes first, in its place.
  if (standardOutput_) std::fflush(stdout);
  while (length > 0) {
    ssize_t written = ::write(fd_, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      error_ = std::strerror(errno);
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  if (standardOutput_) {
    fd_ = -1;
    standardOutput_ = false;
    return true;
  }
  if (direct_) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) == 0) return true;
    error_ = std::strerror(errno);
    return false;
  }
  if (setIdMode_ != 0 && ::fchmod(fd_, setIdMode_) != 0) {
    // Not fatal, as at the open.
  }
  // Flushed before the rename, so a crash cannot leave an empty file in the
  // old one's place.
  bool ok = ::fsync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (ok) ok = ::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (!ok) error_ = std::strerror(errno);
  if (ok) temporary_.clear();
  abandon();
  return ok;
}

void OutputFile::abandon() {
  if (fd_ >= 0 && !standardOutput_) ::close(fd_);
  standardOutput_ = false;
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  releaseTemporary();
  direct_ = false;
  setIdMode_ = 0;
}
