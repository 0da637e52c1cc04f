#pragma once
// Where text output goes. The HEX reader and writer and the delay calibration
// only ever print (warnings, the dots line), so they take this rather than the
// whole console with its input side.

#include <string_view>

class OutputSink {
 public:
  virtual ~OutputSink() = default;

  virtual void write(std::string_view text) = 0;
  // printf-style output; every console message of the programs goes through it.
  void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual void flush() {}
};
