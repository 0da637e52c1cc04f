#include "frontend/logged_console.h"

#include <cctype>

namespace {

// A line longer than this is no message worth keeping whole.
constexpr size_t kKeptLineRoom = 200;

std::string trimmed(const std::string& text) {
  size_t first = 0;
  while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  size_t last = text.size();
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

}  // namespace

void LoggedConsole::write(std::string_view text) {
  inner_.write(text);
  for (char c : text) {
    if (c == '\n') {
      std::string line = trimmed(current_);
      if (!line.empty()) lastLine_ = std::move(line);
      current_.clear();
    } else if (c == '\r') {
      current_.clear();
    } else if (current_.size() < kKeptLineRoom) {
      current_ += c;
    }
  }
  std::FILE* log = log_ != nullptr ? *log_ : nullptr;
  if (log == nullptr) {
    line_.clear();
    carriageReturn_ = false;
    return;
  }
  for (char c : text) {
    if (carriageReturn_) {
      carriageReturn_ = false;
      // A return on its own starts the line again: what it held is replaced.
      if (c != '\n') line_.clear();
    }
    if (c == '\r') {
      carriageReturn_ = true;
      continue;
    }
    line_.push_back(c);
    if (c == '\n') {
      std::fputs(line_.c_str(), log);
      line_.clear();
    }
  }
}
