#pragma once
// The trace of what the host sent the simulated Korvo: one command per line in
// hexadecimal ("34 30 00 00 00"), appended and flushed at once so that a test
// reading the file while the simulator runs sees every complete line.

#include <cstdio>
#include <string>

#include "sim/korvo_device.h"

std::string formatTraceLine(const KorvoBytes& bytes);

class KorvoTrace {
 public:
  KorvoTrace() = default;
  ~KorvoTrace();
  KorvoTrace(const KorvoTrace&) = delete;
  KorvoTrace& operator=(const KorvoTrace&) = delete;

  // Opens `path` for appending; false with a reason when it cannot.
  bool open(const std::string& path, std::string* error);
  void write(const KorvoBytes& bytes);

 private:
  std::FILE* file_ = nullptr;
};
