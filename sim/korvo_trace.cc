#include "sim/korvo_trace.h"

#include <cerrno>
#include <cstring>

std::string formatTraceLine(const KorvoBytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line;
  for (uint8_t byte : bytes) {
    if (!line.empty()) line += ' ';
    line += kDigits[byte >> 4];
    line += kDigits[byte & 0x0F];
  }
  return line;
}

KorvoTrace::~KorvoTrace() {
  if (file_ != nullptr) std::fclose(file_);
}

bool KorvoTrace::open(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) {
    if (error != nullptr) *error = "cannot open trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void KorvoTrace::write(const KorvoBytes& bytes) {
  if (file_ == nullptr || bytes.empty()) return;
  const std::string line = formatTraceLine(bytes) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}
