#pragma once
// The 13 entry points of the port-I/O library "io" (libio.so), as both our real
// parallel-port library and the simulated cable export them. Addresses are
// 16-bit I/O addresses; bit numbers are 0 to 7.

#include <cstdint>

extern "C" {
typedef void (*PortOutFn)(uint16_t address, uint8_t value);
typedef void (*PortWordOutFn)(uint16_t address, uint16_t value);
typedef void (*PortDWordOutFn)(uint16_t address, uint32_t value);
typedef uint8_t (*PortInFn)(uint16_t address);
typedef uint16_t (*PortWordInFn)(uint16_t address);
typedef uint32_t (*PortDWordInFn)(uint16_t address);
typedef void (*SetPortBitFn)(uint16_t address, uint8_t bit);
typedef void (*ClrPortBitFn)(uint16_t address, uint8_t bit);
typedef void (*NotPortBitFn)(uint16_t address, uint8_t bit);
// -1 (all bits set) when the bit reads 1, 0 when it reads 0.
typedef int16_t (*GetPortBitFn)(uint16_t address, uint8_t bit);
// Shift the register one place, the new bit (0 or 1) coming in at the free end.
typedef void (*RightPortShiftFn)(uint16_t address, uint8_t in);
typedef void (*LeftPortShiftFn)(uint16_t address, uint8_t in);
// Non-zero when a port could be reached.
typedef int (*IsDriverInstalledFn)(void);
}

// The names in the order the binding looks them up.
constexpr const char* kPortIoNames[13] = {
    "PortOut",    "PortWordOut", "PortDWordOut", "PortIn",         "PortWordIn",
    "PortDWordIn", "SetPortBit", "ClrPortBit",   "NotPortBit",     "GetPortBit",
    "RightPortShift", "LeftPortShift", "IsDriverInstalled"};
