#pragma once
// A parallel port for the Marlow link's tests: it records every single-bit
// change, decodes the bytes clocked out on MOSI at SCK's rising edges, and
// puts on MISO whatever the test wants the target to answer. Optionally the
// cable's two loopbacks are fitted.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link_lpt/port_bits.h"

struct PortChange {
  bool set;
  uint16_t address;
  int bit;
};

class FakeParallelPort {
 public:
  // The function pointers reach the one fake through a global; constructing a
  // fake makes it the current one, so nothing carries over between tests.
  FakeParallelPort(uint16_t dataPort = 0x378, uint16_t statusPort = 0x379);
  ~FakeParallelPort();
  FakeParallelPort(const FakeParallelPort&) = delete;
  FakeParallelPort& operator=(const FakeParallelPort&) = delete;

  PortBits bits() const;

  // The byte the target shifts out during transfer n (counted from 0 over all
  // bytes); MISO idles high, as a disconnected input floats.
  std::function<uint8_t(size_t byteIndex)> answer = [](size_t) { return uint8_t{0xFF}; };
  bool loopbacksFitted = false;
  // Status level the port reads where no loopback drives it.
  bool statusFloatsHigh = true;

  const std::vector<PortChange>& changes() const { return changes_; }
  // Single-bit changes of the data register as "+7", "-6"... in order.
  std::string dataChangeText() const;
  uint8_t dataRegister() const { return data_; }
  // MOSI level at each rising edge of SCK, and those levels as bytes.
  const std::vector<int>& mosiAtRisingEdges() const { return mosiAtEdges_; }
  std::vector<uint8_t> bytesOut() const;
  size_t misoSamples() const { return misoSamples_; }
  // Reads of the status register at an address other than the configured one.
  size_t strayAccesses() const { return strayAccesses_; }
  // Whether MOSI ever changed while SCK was high.
  bool mosiChangedWhileClockHigh() const { return mosiWhileHigh_; }

  void change(bool set, uint16_t address, uint8_t bit);
  int16_t read(uint16_t address, uint8_t bit);

 private:
  uint16_t dataPort_;
  uint16_t statusPort_;
  uint8_t data_ = 0;
  std::vector<PortChange> changes_;
  std::vector<int> mosiAtEdges_;
  size_t misoSamples_ = 0;
  size_t strayAccesses_ = 0;
  bool mosiWhileHigh_ = false;
};
