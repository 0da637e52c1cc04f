#include "sim/pty_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string systemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool isSymbolicLink(const std::string& path, bool* exists) {
  char target[PATH_MAX];
  if (readlink(path.c_str(), target, sizeof target) >= 0) {
    *exists = true;
    return true;
  }
  *exists = (errno != ENOENT);
  return false;
}

}  // namespace

PtyPort::~PtyPort() {
  removeLink();
  if (master_ >= 0) ::close(master_);
  if (watch_ >= 0) ::close(watch_);
}

bool PtyPort::open(const std::string& linkPath, std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) {
    *error = systemError("cannot open a pseudo-terminal");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = systemError("cannot unlock the pseudo-terminal");
    return false;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    *error = systemError("cannot name the pseudo-terminal");
    return false;
  }
  deviceName_ = name;

  // Until the device side has been opened and closed once, Linux reports no
  // hang-up on the master; one open and close here makes "nobody has it open"
  // look the same before the host's first open as after its last close.
  const int primer = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (primer >= 0) ::close(primer);

  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN) < 0) {
    ::close(watch_);
    watch_ = -1;
  }

  bool exists = false;
  if (isSymbolicLink(linkPath, &exists)) {
    // Build the new link beside the old one and rename it over, so PATH never
    // points nowhere and nothing but a stale link is ever replaced.
    const std::string temporary = linkPath + ".korvo-sim-" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (symlink(name, temporary.c_str()) != 0) {
      *error = systemError("cannot create link " + temporary);
      return false;
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
      *error = systemError("cannot replace link " + linkPath);
      ::unlink(temporary.c_str());
      return false;
    }
  } else if (exists) {
    *error = linkPath + " exists and is not a symbolic link; not replacing it";
    return false;
  } else if (symlink(name, linkPath.c_str()) != 0) {
    *error = systemError("cannot create link " + linkPath);
    return false;
  }
  linkPath_ = linkPath;
  return true;
}

bool PtyPort::hostOpenedSinceLastCheck() {
  if (watch_ < 0) {
    const bool closed = hostClosed();
    const bool opened = lastSeenClosed_ && !closed;
    lastSeenClosed_ = closed;
    return opened;
  }
  bool opened = false;
  alignas(inotify_event) char events[4096];
  for (;;) {
    const ssize_t got = ::read(watch_, events, sizeof events);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(events + at);
      // A lost event queue may have hidden an open; a spare sign-on is harmless.
      if (event->mask & (IN_OPEN | IN_Q_OVERFLOW)) opened = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return opened;
}

bool PtyPort::hostClosed() const {
  if (master_ < 0) return true;
  pollfd probe{master_, POLLIN, 0};
  if (poll(&probe, 1, 0) < 0) return false;
  return (probe.revents & POLLHUP) != 0;
}

bool PtyPort::lineSettings(termios* settings) const {
  return master_ >= 0 && tcgetattr(master_, settings) == 0;
}

void PtyPort::resetLineSettings() {
  termios settings{};
  if (master_ < 0 || tcgetattr(master_, &settings) != 0) return;
  settings.c_lflag |= ECHO | ICANON;
  tcsetattr(master_, TCSANOW, &settings);
}

ssize_t PtyPort::read(uint8_t* buffer, size_t size) {
  if (master_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::read(master_, buffer, size);
}

ssize_t PtyPort::write(const uint8_t* bytes, size_t size) {
  if (master_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::write(master_, bytes, size);
}

void PtyPort::hangUp() {
  removeLink();
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPort::removeLink() {
  if (linkPath_.empty()) return;
  // Only our own link: another simulator may have taken the name over since.
  char target[PATH_MAX];
  const ssize_t length = readlink(linkPath_.c_str(), target, sizeof target - 1);
  if (length >= 0) {
    target[length] = '\0';
    if (deviceName_ == target) ::unlink(linkPath_.c_str());
  }
  linkPath_.clear();
}
