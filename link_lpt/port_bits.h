#pragma once
// The three single-bit port operations the Marlow link needs. They come from
// the port-I/O library at run time; tests point them at a fake port.

#include "link_lpt/port_io_api.h"

struct PortBits {
  SetPortBitFn setBit = nullptr;
  ClrPortBitFn clearBit = nullptr;
  GetPortBitFn getBit = nullptr;

  bool complete() const { return setBit && clearBit && getBit; }
};
