#include "link_usb/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

unsigned int baudConstantFromCode(int baudCode) {
  // Code 8 is printed as 57200, a rate no UART offers; 57600 is the standard
  // rate between 38400 and 115200 and is what the Korvo runs at.
  static const speed_t kSpeeds[] = {B110,  B300,   B1200,  B2400,  B4800,
                                    B9600, B19200, B38400, B57600, B115200};
  if (baudCode < 0 || baudCode > 9) return 0;
  return kSpeeds[baudCode];
}

namespace {

int configureLine(int fd, int baudCode) {
  speed_t speed = baudConstantFromCode(baudCode);
  if (speed == 0) return EINVAL;
  struct termios line;
  if (tcgetattr(fd, &line) != 0) return errno;
  cfmakeraw(&line);
  line.c_cflag &= static_cast<tcflag_t>(~(CSIZE | PARENB | CSTOPB | CRTSCTS));
  line.c_cflag |= CS8 | CLOCAL | CREAD;
  line.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF | IXANY));
  line.c_cc[VMIN] = 1;
  line.c_cc[VTIME] = 0;
  if (cfsetispeed(&line, speed) != 0 || cfsetospeed(&line, speed) != 0) return errno;
  if (tcsetattr(fd, TCSANOW, &line) != 0) return errno;
  return 0;
}

}  // namespace

SerialPort::~SerialPort() {
  close();
}

int SerialPort::open(const std::string& device, int baudCode) {
  close();
  // The lock file first: as root, even an open that TIOCEXCL then refuses
  // reaches the device, and restarts a programmer that another program is
  // in the middle of using.
  int locked = lock_.acquire(device, portLockFolder());
  if (locked != 0) return locked;
  // Non-blocking so that a modem line without carrier cannot hold up the open.
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    lock_.release();
    return error;
  }
  // Whatever a device or an earlier program left in the input queue is not
  // for us; dropped before the line is set up, so that a sign-on sent in
  // answer to this open is not dropped with it.
  tcflush(fd, TCIFLUSH);
  int error = 0;
  // TIOCEXCL keeps later opens out, but only once it is set: two programs that
  // open the port at the same moment would both get in before either sets it.
  // The flock closes that race, and TIOCEXCL still guards against programs that
  // never take the lock.
  // A regular file or /dev/zero opens as readily as a device does; only a
  // terminal can be the Korvo's port, and anything else would be read as
  // endless answers or none.
  if (!isatty(fd)) {
    error = ENOTTY;
  } else if (ioctl(fd, TIOCEXCL) != 0) {
    error = errno;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
  } else {
    error = configureLine(fd, baudCode);
  }
  if (error == 0) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    ::close(fd);
    lock_.release();
    return error;
  }
  fd_ = fd;
  bufferStart_ = bufferEnd_ = 0;
  return 0;
}

void SerialPort::close() {
  if (fd_ < 0) return;
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also drops the flock
  lock_.release();
  fd_ = -1;
  bufferStart_ = bufferEnd_ = 0;
}

SerialStatus SerialPort::send(const uint8_t* data, size_t length) {
  if (fd_ < 0) return SerialStatus::kLost;
  size_t done = 0;
  while (done < length) {
    ssize_t wrote = ::write(fd_, data + done, length - done);
    ++writeCalls_;
    if (wrote > 0) {
      done += static_cast<size_t>(wrote);
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else {
      return SerialStatus::kLost;
    }
  }
  return SerialStatus::kOk;
}

SerialStatus SerialPort::receive(uint8_t& byte, int timeoutMs) {
  if (bufferStart_ == bufferEnd_) {
    SerialStatus status = fill(timeoutMs);
    if (status != SerialStatus::kOk) return status;
  }
  byte = buffer_[bufferStart_++];
  return SerialStatus::kOk;
}

void SerialPort::discardInput() {
  bufferStart_ = bufferEnd_ = 0;
  if (fd_ < 0) return;
  tcflush(fd_, TCIFLUSH);
}

SerialStatus SerialPort::fill(int timeoutMs) {
  if (fd_ < 0) return SerialStatus::kLost;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    int waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    struct pollfd port = {fd_, POLLIN, 0};
    int ready = ::poll(&port, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return SerialStatus::kLost;
    }
    if (ready == 0) return SerialStatus::kTimeout;
    if ((port.revents & POLLIN) == 0) return SerialStatus::kLost;  // POLLHUP, POLLERR, POLLNVAL
    ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
    if (got > 0) {
      bufferStart_ = 0;
      bufferEnd_ = static_cast<size_t>(got);
      return SerialStatus::kOk;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return SerialStatus::kLost;  // 0 is end of file: the device went away; EIO likewise
  }
}
