#include "frontend/logged_console.h"

void LoggedConsole::write(std::string_view text) {
  inner_.write(text);
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
