#include "frontend/console.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

void Console::print(const char* format, ...) {
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

bool ScriptedConsole::readToken(std::string& token) {
  while (pos_ < input_.size() && std::isspace(static_cast<unsigned char>(input_[pos_]))) ++pos_;
  if (pos_ >= input_.size()) return false;
  size_t start = pos_;
  while (pos_ < input_.size() && !std::isspace(static_cast<unsigned char>(input_[pos_]))) ++pos_;
  token = input_.substr(start, pos_ - start);
  return true;
}

int ScriptedConsole::readAnswer() {
  while (pos_ < input_.size() && std::isspace(static_cast<unsigned char>(input_[pos_]))) ++pos_;
  if (pos_ >= input_.size()) return -1;
  return static_cast<unsigned char>(input_[pos_++]);
}

int ScriptedConsole::readKey() {
  if (pos_ >= input_.size()) return -1;
  return static_cast<unsigned char>(input_[pos_++]);
}
