#include "run/output_sink.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void OutputSink::print(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    write(std::string_view(small, static_cast<size_t>(needed)));
  } else {
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    write(std::string_view(large.data(), static_cast<size_t>(needed)));
  }
  va_end(again);
}
