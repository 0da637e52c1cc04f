#include "frontend/line_keeping_console.h"

#include <cctype>

namespace {
// A line longer than this is no message worth keeping whole.
constexpr size_t kKeptLineRoom = 200;
}  // namespace

void LineKeepingConsole::endLine() {
  size_t first = 0;
  while (first < current_.size() && std::isspace(static_cast<unsigned char>(current_[first]))) {
    ++first;
  }
  size_t last = current_.size();
  while (last > first && std::isspace(static_cast<unsigned char>(current_[last - 1]))) --last;
  if (last > first) lastLine_ = current_.substr(first, last - first);
  current_.clear();
}

void LineKeepingConsole::write(std::string_view text) {
  inner_.write(text);
  for (char c : text) {
    if (c == '\n') {
      endLine();
    } else if (c == '\r') {
      current_.clear();
    } else if (current_.size() < kKeptLineRoom) {
      current_ += c;
    }
  }
}
