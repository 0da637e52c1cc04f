#include "tests/support/fault_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

namespace {

void writeAll(int fd, const uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t wrote = write(fd, data + done, length - done);
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
    } else if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) {
      struct pollfd room = {fd, POLLOUT, 0};
      poll(&room, 1, 10);
    } else {
      return;  // the other end went away; its bytes go with it
    }
  }
}

}  // namespace

FaultRelay::FaultRelay(const std::string& portPath, const std::string& korvoPath)
    : portPath_(portPath), korvoPath_(korvoPath) {
  int slave = -1;
  char name[256];
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  struct termios raw;
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  // Closed again at once: the master then sees a hang-up whenever the program
  // has not got the port open, which is how its opens and closes show.
  close(slave);
  unlink(portPath_.c_str());
  if (symlink(name, portPath_.c_str()) != 0) throw std::runtime_error("symlink failed");
  // A program that closes the port and opens it again at once may do both
  // between two looks at the hang-up; the open itself is seen here.
  openWatch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (openWatch_ >= 0) inotify_add_watch(openWatch_, name, IN_OPEN);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

FaultRelay::~FaultRelay() {
  stop();
  closeKorvoEnd();
  if (master_ >= 0) close(master_);
  if (openWatch_ >= 0) close(openWatch_);
  unlink(portPath_.c_str());
}

void FaultRelay::start(LineFault first, LineFault second) {
  faults_[0] = first;
  faults_[1] = second;
  korvoBytes_ = 0;
  faultsDone_ = 0;
  stop_ = false;
  thread_ = std::thread([this] { serve(); });
}

void FaultRelay::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool FaultRelay::programReopened() {
  bool opened = false;
  alignas(inotify_event) char events[4096];
  while (openWatch_ >= 0 && read(openWatch_, events, sizeof events) > 0) opened = true;
  return opened;
}

uint64_t FaultRelay::programBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return programBytes_;
}

bool FaultRelay::waitForProgramBytes(uint64_t since, uint64_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return programSent_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return programBytes_ >= since + count; });
}

void FaultRelay::collectLateAnswers() {
  // Until the Korvo has been quiet for 20 ms, within half a second.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < end) {
    struct pollfd korvo = {korvo_, POLLIN, 0};
    if (poll(&korvo, 1, 20) <= 0) return;
    uint8_t chunk[512];
    ssize_t got = read(korvo_, chunk, sizeof chunk);
    if (got <= 0) return;
    late_.append(chunk, static_cast<size_t>(got));
  }
}

void FaultRelay::openKorvoEnd() {
  korvo_ = open(korvoPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (korvo_ < 0) return;
  // The line the program would have set: korvo-sim judges it.
  struct termios line;
  tcgetattr(korvo_, &line);
  cfmakeraw(&line);
  line.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&line, B115200);
  cfsetospeed(&line, B115200);
  tcsetattr(korvo_, TCSANOW, &line);
}

void FaultRelay::closeKorvoEnd() {
  if (korvo_ >= 0) close(korvo_);
  korvo_ = -1;
  korvoClosedAt_ = std::chrono::steady_clock::now();
}

void FaultRelay::relayFromKorvo() {
  uint8_t chunk[512];
  ssize_t got = read(korvo_, chunk, sizeof chunk);
  if (got <= 0) return;
  std::basic_string<uint8_t> out;
  for (ssize_t i = 0; i < got; ++i) {
    ++korvoBytes_;
    bool sent = false;
    for (LineFault& fault : faults_) {
      if (fault.kind == LineFault::kNone || fault.at != korvoBytes_) continue;
      ++faultsDone_;
      if (fault.kind == LineFault::kStrayBefore) out.push_back(fault.stray);
      if (fault.kind == LineFault::kDouble) out.push_back(chunk[i]);
      if (fault.kind != LineFault::kDrop) out.push_back(chunk[i]);
      sent = true;
    }
    if (!sent) out.push_back(chunk[i]);
  }
  writeAll(master_, out.data(), out.size());
}

void FaultRelay::serve() {
  while (!stop_) {
    struct pollfd ends[2] = {{master_, POLLIN, 0}, {korvo_, POLLIN, 0}};
    const int count = korvo_ >= 0 ? 2 : 1;
    if (poll(ends, static_cast<nfds_t>(count), 5) < 0 && errno != EINTR) return;
    const bool programHere = (ends[0].revents & POLLHUP) == 0;
    const auto now = std::chrono::steady_clock::now();
    if (programReopened()) {
      programOpenedAt_ = now;
      if (korvo_ >= 0) {
        if (keepLate_) collectLateAnswers();
        closeKorvoEnd();
      }
    }
    if (programHere && !programWasHere_) programOpenedAt_ = now;
    programWasHere_ = programHere;
    if (!programHere) {
      // The program closed its port: so does the line's far end, and until
      // it opens again there is nothing to relay. Looked at again shortly.
      if (korvo_ >= 0) {
        if (keepLate_) collectLateAnswers();
        closeKorvoEnd();
      }
      struct pollfd none = {-1, 0, 0};
      poll(&none, 1, 2);
      continue;
    }
    if (korvo_ < 0) {
      // korvo-sim looks for a closed host every 10 ms or so: a close and an
      // open closer together than that would not restart it.
      // A Korvo takes a while to restart once opened, and the program drops
      // what was waiting right after its open: the restart comes later.
      const auto settled = std::chrono::milliseconds(50);
      if (now - korvoClosedAt_ < settled || now - programOpenedAt_ < settled) {
        struct pollfd none = {-1, 0, 0};
        poll(&none, 1, 5);
        continue;
      }
      writeAll(master_, late_.data(), late_.size());
      late_.clear();
      openKorvoEnd();
      continue;
    }
    if (ends[0].revents & POLLIN) {
      uint8_t chunk[512];
      ssize_t got = read(master_, chunk, sizeof chunk);
      if (got > 0) {
        writeAll(korvo_, chunk, static_cast<size_t>(got));
        std::lock_guard<std::mutex> lock(mutex_);
        programBytes_ += static_cast<uint64_t>(got);
        programSent_.notify_all();
      }
    }
    if (ends[1].revents & (POLLIN | POLLHUP)) relayFromKorvo();
  }
}
