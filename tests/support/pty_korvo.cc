#include "tests/support/pty_korvo.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
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
