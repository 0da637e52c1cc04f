#include "link_usb/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kTakeAttempts = 3;

// The lock file held, removed if SIGINT, SIGTERM or SIGHUP ends the process,
// so that the next run finds the port free at once instead of having to
// decide that the holder is dead. One lock at a time: a run has one port.
// The handler uses only async-signal-safe calls.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char heldLockPath[PATH_MAX];
volatile sig_atomic_t lockHeld = 0;
struct sigaction previousActions[3];

void removeLockAndResignal(int signalNumber) {
  if (lockHeld) ::unlink(heldLockPath);
  lockHeld = 0;
  // The signal then takes the course it would have taken without us (the
  // terminal put back, the process ended): the earlier disposition is back,
  // and the raised signal waits until we return.
  for (size_t i = 0; i < 3; ++i) {
    if (kCleanupSignals[i] == signalNumber) ::sigaction(signalNumber, &previousActions[i], nullptr);
  }
  ::raise(signalNumber);
}

// Installed once and left in place: whatever is installed later (the output
// file's own cleanup) hands the signal on to it.
void installCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removeLockAndResignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : kCleanupSignals) sigaddset(&action.sa_mask, signalNumber);
  for (size_t i = 0; i < 3; ++i) {
    ::sigaction(kCleanupSignals[i], nullptr, &previousActions[i]);
    // A signal the process ignores (nohup) stays ignored.
    if (previousActions[i].sa_handler == SIG_IGN) continue;
    ::sigaction(kCleanupSignals[i], &action, nullptr);
  }
}

// Holds the cleanup signals back for its lifetime: a lock is made and
// registered, or unregistered, with no signal in between.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld() {
    sigset_t cleanupSignals;
    sigemptyset(&cleanupSignals);
    for (int signalNumber : kCleanupSignals) sigaddset(&cleanupSignals, signalNumber);
    ::sigprocmask(SIG_BLOCK, &cleanupSignals, &previousMask_);
  }
  ~CleanupSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previousMask_, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t previousMask_;
};

void registerLock(const std::string& path) {
  if (path.size() >= sizeof heldLockPath) return;
  std::memcpy(heldLockPath, path.c_str(), path.size() + 1);
  lockHeld = 1;
  installCleanupHandlers();
}

// The process id in a lock file, 0 when there is none to be read.
pid_t readOwner(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[32] = {};
  ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return 0;
  char* end = nullptr;
  long pid = std::strtol(text, &end, 10);
  if (end == text || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

bool isAlive(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

// Writes our id to a file of our own, then links it to the lock's name: the
// lock appears whole or not at all. 0, or the errno of the step that failed.
int createLock(const std::string& folder, const std::string& path) {
  std::string temporary = folder + "/LTMP." + std::to_string(getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return errno;
  char text[16];
  int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
  bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
  int error = written ? 0 : (errno != 0 ? errno : EIO);
  ::close(fd);
  if (error == 0 && ::link(temporary.c_str(), path.c_str()) != 0) error = errno;
  ::unlink(temporary.c_str());
  return error;
}

}  // namespace

PortLock::~PortLock() {
  release();
}

int PortLock::acquire(const std::string& device, const std::string& folder) {
  release();
  holder_ = 0;
  path_ = folder + "/" + portLockName(device);
  for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
    pid_t owner = readOwner(path_);
    if (owner > 0 && isAlive(owner)) {
      holder_ = owner;
      return EBUSY;
    }
    int error = 0;
    {
      CleanupSignalsHeld heldBack;
      error = createLock(folder, path_);
      if (error == 0) registerLock(path_);
    }
    if (error == 0) {
      held_ = true;
      return 0;
    }
    if (error != EEXIST) return 0;  // no usable lock folder: go on without
    // A lock whose owner has ended, or that holds no id: nobody's.
    if (readOwner(path_) == owner) ::unlink(path_.c_str());
  }
  return EBUSY;
}

void PortLock::release() {
  if (!held_) return;
  held_ = false;
  CleanupSignalsHeld heldBack;
  lockHeld = 0;
  if (readOwner(path_) == getpid()) ::unlink(path_.c_str());
}

std::string portLockFolder() {
  const char* chosen = std::getenv("TARNWICK_LOCK_DIR");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  struct stat folder;
  if (stat("/var/lock", &folder) == 0 && S_ISDIR(folder.st_mode)) return "/var/lock";
  return "/run/lock";
}

std::string portLockName(const std::string& device) {
  std::string name = device;
  if (char* resolved = realpath(device.c_str(), nullptr)) {
    name = resolved;
    std::free(resolved);
  }
  if (name.compare(0, 5, "/dev/") == 0) name.erase(0, 5);
  while (!name.empty() && name[0] == '/') name.erase(0, 1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}
