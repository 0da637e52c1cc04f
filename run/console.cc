#include "run/console.h"

#include <cctype>

bool ScriptedConsole::readToken(std::string& token) {
  while (pos_ < input_.size() && std::isspace(static_cast<unsigned char>(input_[pos_]))) ++pos_;
  if (pos_ >= input_.size()) return false;
  size_t start = pos_;
  while (pos_ < input_.size() && !std::isspace(static_cast<unsigned char>(input_[pos_]))) ++pos_;
  token = input_.substr(start, pos_ - start);
  return true;
}

void ScriptedConsole::skipRestOfLine() {
  while (pos_ < input_.size() && input_[pos_++] != '\n') {
  }
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
