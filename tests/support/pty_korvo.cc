#include "tests/support/pty_korvo.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

PtyKorvo::PtyKorvo() {
  char name[256];
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  devicePath_ = name;
  // Raw from the start, so that nothing written before the program configures
  // the line is echoed or translated.
  struct termios raw;
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
}

PtyKorvo::~PtyKorvo() {
  stopSending();
  stopPlaying();
  hangUp();
  if (slave_ >= 0) close(slave_);
}

void PtyKorvo::reply(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = write(master_, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw std::runtime_error("write to pty failed");
    done += static_cast<size_t>(wrote);
  }
}

std::string PtyKorvo::wire(size_t count, int timeoutMs) {
  std::string got;
  while (got.size() < count) {
    struct pollfd fd = {master_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0 || (fd.revents & POLLIN) == 0) break;
    char chunk[256];
    size_t want = count - got.size() < sizeof chunk ? count - got.size() : sizeof chunk;
    ssize_t n = read(master_, chunk, want);
    if (n <= 0) break;
    got.append(chunk, static_cast<size_t>(n));
  }
  return got;
}

void PtyKorvo::hangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyKorvo::sendForever(std::string pattern, int capSeconds) {
  stopSending();
  stopRequested_ = false;
  senderGaveUp_ = false;
  // Non-blocking while sending: a write into a full terminal must not hold the
  // thread once nobody reads any more.
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  sender_ = std::thread([this, pattern, capSeconds] {
    const auto cap = std::chrono::steady_clock::now() + std::chrono::seconds(capSeconds);
    std::string burst;
    while (burst.size() < 1024) burst += pattern;
    size_t at = 0;
    while (!stopRequested_) {
      if (std::chrono::steady_clock::now() > cap) {
        senderGaveUp_ = true;
        return;
      }
      // Waits for room with a bound, so that a stop request is always seen.
      struct pollfd fd = {master_, POLLOUT, 0};
      if (poll(&fd, 1, 50) <= 0) continue;
      ssize_t wrote = write(master_, burst.data() + at, burst.size() - at);
      if (wrote > 0) at = (at + static_cast<size_t>(wrote)) % burst.size();
    }
  });
}

bool PtyKorvo::stopSending() {
  if (!sender_.joinable()) return false;
  stopRequested_ = true;
  sender_.join();
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) & ~O_NONBLOCK);
  return !senderGaveUp_;
}

void PtyKorvo::play(std::string signOn, std::string answers) {
  stopPlaying();
  stopPlaying_ = false;
  played_.clear();
  struct termios before;
  tcgetattr(slave_, &before);
  player_ = std::thread([this, signOn, answers, before] {
    // The program sets its line up after dropping what was waiting.
    for (;;) {
      if (stopPlaying_) return;
      struct termios now;
      tcgetattr(slave_, &now);
      if (cfgetospeed(&now) != cfgetospeed(&before) || now.c_cflag != before.c_cflag) break;
      struct pollfd none = {-1, 0, 0};
      poll(&none, 1, 1);
    }
    if (!signOn.empty()) reply(signOn);
    size_t next = 0;
    std::string frame;
    bool inMode = false;
    for (;;) {
      std::string byte = wire(1, 10);
      if (byte.empty()) {
        if (stopPlaying_) return;
        continue;
      }
      played_ += byte;
      if (!inMode) {
        if (played_.size() >= 3 && played_.compare(played_.size() - 3, 1, "p") == 0 &&
            played_.back() == '\r') {
          inMode = true;
          reply("a");
        }
        continue;
      }
      if (frame.empty() && byte[0] != '3' && byte[0] != '4' && byte[0] != 'w') continue;
      frame += byte;
      if (frame.size() < 5) continue;
      if (frame[0] != 'w' && next < answers.size()) reply(answers.substr(next++, 1));
      frame.clear();
    }
  });
}

std::string PtyKorvo::stopPlaying() {
  if (!player_.joinable()) return played_;
  stopPlaying_ = true;
  player_.join();
  return played_;
}

std::string hexBytes(std::string_view bytes) {
  std::string text;
  for (unsigned char byte : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, "%02x", byte);
    if (!text.empty()) text += ' ';
    text += two;
  }
  return text;
}
