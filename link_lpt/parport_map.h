#pragma once
// How the port-I/O library finds the Linux parallel-port device behind an I/O
// address: /proc/sys/dev/parport/parportN/base-addr holds the base address of
// /dev/parportN as its first number; the data, status and control registers
// are at base, base + 1 and base + 2.
//
// LIBIO_PROC_ROOT and LIBIO_DEV_ROOT, when set, replace "/proc" and "/dev", so
// the mapping can be pointed at a prepared tree.

#include <cstdint>
#include <string>

struct ParportMatch {
  std::string device;  // e.g. "/dev/parport0"
  uint16_t base = 0;
  int registerOffset = 0;  // 0 data, 1 status, 2 control
};

std::string parportProcRoot();
std::string parportDevRoot();

// The device whose registers include `address`; false when there is none.
bool findParportDevice(const std::string& procRoot, const std::string& devRoot, uint16_t address,
                       ParportMatch& match);

// The one line the library prints when a port cannot be reached.
std::string noParportMessage(const std::string& devRoot, uint16_t address);
std::string parportFailureMessage(const char* action, const std::string& device, uint16_t address,
                                  int error);
