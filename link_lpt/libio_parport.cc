// Our own port-I/O library "io" for Linux: the 13 entry points of
// port_io_api.h, reaching the parallel port through the kernel's ppdev driver
// (/dev/parportN), which needs no I/O privilege, only access to the device
// (members of the 'lp' group have it on most distributions).
//
// A port that cannot be reached is reported once on stderr; after that its
// registers read as 0xFF and writes to it do nothing.

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "link_lpt/parport_map.h"
#include "link_lpt/port_io_api.h"

#define LIBIO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kDataRegister = 0;
constexpr int kStatusRegister = 1;
constexpr int kControlRegister = 2;
constexpr uint8_t kUnreachableReads = 0xFF;

struct ClaimedPort {
  uint16_t base;
  int fd;
  // ppdev cannot be trusted to read the data register back in every mode, so
  // single-bit changes work on the last value written.
  uint8_t data;
};

std::vector<ClaimedPort> claimed;
std::vector<uint16_t> unreachable;
bool failureReported = false;

void reportOnce(const std::string& line) {
  if (failureReported) return;
  failureReported = true;
  std::fprintf(stderr, "%s\n", line.c_str());
}

bool listed(const std::vector<uint16_t>& addresses, uint16_t address) {
  for (uint16_t a : addresses) {
    if (a == address) return true;
  }
  return false;
}

ClaimedPort* claimedAt(uint16_t address, int& offset) {
  for (ClaimedPort& port : claimed) {
    int distance = static_cast<int>(address) - port.base;
    if (distance >= kDataRegister && distance <= kControlRegister) {
      offset = distance;
      return &port;
    }
  }
  return nullptr;
}

// Opens and claims the device; the reason of a failure goes to `failure`.
bool claim(const ParportMatch& match, uint16_t address, std::string& failure) {
  int fd = open(match.device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    failure = parportFailureMessage("open", match.device, address, errno);
    return false;
  }
  if (ioctl(fd, PPCLAIM) != 0) {
    failure = parportFailureMessage("claim", match.device, address, errno);
    close(fd);
    return false;
  }
  unsigned char data = 0;
  if (ioctl(fd, PPRDATA, &data) != 0) data = 0;
  claimed.push_back({match.base, fd, data});
  return true;
}

// The claimed port behind `address`, or nullptr (reported once) when there is
// no such port or it cannot be opened.
ClaimedPort* reach(uint16_t address, int& offset, bool quiet = false) {
  if (ClaimedPort* port = claimedAt(address, offset)) return port;
  if (listed(unreachable, address)) return nullptr;
  std::string devRoot = parportDevRoot();
  ParportMatch match;
  std::string failure;
  if (!findParportDevice(parportProcRoot(), devRoot, address, match)) {
    failure = noParportMessage(devRoot, address);
  } else if (claim(match, address, failure)) {
    return claimedAt(address, offset);
  }
  if (!quiet) {
    reportOnce(failure);
    unreachable.push_back(address);
  }
  return nullptr;
}

uint8_t readRegister(uint16_t address) {
  int offset = 0;
  ClaimedPort* port = reach(address, offset);
  if (!port) return kUnreachableReads;
  unsigned char value = kUnreachableReads;
  switch (offset) {
    case kDataRegister:
      return port->data;
    case kStatusRegister:
      if (ioctl(port->fd, PPRSTATUS, &value) != 0) value = kUnreachableReads;
      return value;
    default:
      if (ioctl(port->fd, PPRCONTROL, &value) != 0) value = kUnreachableReads;
      return value;
  }
}

// The status register is read-only; writes to it are dropped like the port's.
void writeRegister(uint16_t address, uint8_t value) {
  int offset = 0;
  ClaimedPort* port = reach(address, offset);
  if (!port) return;
  unsigned char byte = value;
  if (offset == kDataRegister) {
    if (ioctl(port->fd, PPWDATA, &byte) == 0) port->data = value;
  } else if (offset == kControlRegister) {
    ioctl(port->fd, PPWCONTROL, &byte);
  }
}

uint8_t bitMask(uint8_t bit) {
  return static_cast<uint8_t>(1u << (bit & 7));
}

__attribute__((destructor)) void releaseClaimedPorts() {
  for (const ClaimedPort& port : claimed) {
    ioctl(port.fd, PPRELEASE);
    close(port.fd);
  }
  claimed.clear();
}

}  // namespace

LIBIO_EXPORT void PortOut(uint16_t address, uint8_t value) {
  writeRegister(address, value);
}

LIBIO_EXPORT void PortWordOut(uint16_t address, uint16_t value) {
  for (int i = 0; i < 2; ++i) {
    writeRegister(static_cast<uint16_t>(address + i), static_cast<uint8_t>(value >> (8 * i)));
  }
}

LIBIO_EXPORT void PortDWordOut(uint16_t address, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    writeRegister(static_cast<uint16_t>(address + i), static_cast<uint8_t>(value >> (8 * i)));
  }
}

LIBIO_EXPORT uint8_t PortIn(uint16_t address) {
  return readRegister(address);
}

LIBIO_EXPORT uint16_t PortWordIn(uint16_t address) {
  return static_cast<uint16_t>(readRegister(address) |
                               readRegister(static_cast<uint16_t>(address + 1)) << 8);
}

LIBIO_EXPORT uint32_t PortDWordIn(uint16_t address) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | readRegister(static_cast<uint16_t>(address + i));
  }
  return value;
}

LIBIO_EXPORT void SetPortBit(uint16_t address, uint8_t bit) {
  if (bit > 7) return;
  writeRegister(address, static_cast<uint8_t>(readRegister(address) | bitMask(bit)));
}

LIBIO_EXPORT void ClrPortBit(uint16_t address, uint8_t bit) {
  if (bit > 7) return;
  writeRegister(address, static_cast<uint8_t>(readRegister(address) & ~bitMask(bit)));
}

LIBIO_EXPORT void NotPortBit(uint16_t address, uint8_t bit) {
  if (bit > 7) return;
  writeRegister(address, static_cast<uint8_t>(readRegister(address) ^ bitMask(bit)));
}

LIBIO_EXPORT int16_t GetPortBit(uint16_t address, uint8_t bit) {
  if (bit > 7) return 0;
  return (readRegister(address) & bitMask(bit)) ? -1 : 0;
}

LIBIO_EXPORT void RightPortShift(uint16_t address, uint8_t in) {
  uint8_t value = readRegister(address);
  writeRegister(address, static_cast<uint8_t>((value >> 1) | (in ? 0x80 : 0)));
}

LIBIO_EXPORT void LeftPortShift(uint16_t address, uint8_t in) {
  uint8_t value = readRegister(address);
  writeRegister(address, static_cast<uint8_t>((value << 1) | (in ? 0x01 : 0)));
}

LIBIO_EXPORT int IsDriverInstalled(void) {
  if (!claimed.empty()) return 1;
  // Probe the usual first port quietly; a failure is for the first real call
  // to report.
  int offset = 0;
  return reach(0x378, offset, true) != nullptr ? 1 : 0;
}
