#include "frontend/fuse_arguments.h"

#include <cctype>

#include "run/text_util.h"

namespace {
constexpr size_t kMostDigits = 2;
constexpr int kFieldCount = 3;
}  // namespace

bool parseHexByte(std::string_view text, uint8_t& value) {
  unsigned long number = 0;
  if (!scanHex(text, number)) return false;
  value = static_cast<uint8_t>(number & 0xFF);
  return true;
}

bool parseFuseByte(std::string_view text, uint8_t& value) {
  if (text.empty() || text.size() > kMostDigits) return false;
  unsigned number = 0;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
    const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    number = number * 16 + static_cast<unsigned>(digit);
  }
  value = static_cast<uint8_t>(number);
  return true;
}

bool parseFuseTriple(std::string_view text, uint8_t values[3]) {
  uint8_t parsed[kFieldCount];
  std::string_view rest = text;
  for (int field = 0; field < kFieldCount; ++field) {
    size_t comma = rest.find(',');
    bool last = field == kFieldCount - 1;
    if (last != (comma == std::string_view::npos)) return false;
    std::string_view piece = last ? rest : rest.substr(0, comma);
    if (!parseFuseByte(piece, parsed[field])) return false;
    if (!last) rest.remove_prefix(comma + 1);
  }
  for (int field = 0; field < kFieldCount; ++field) values[field] = parsed[field];
  return true;
}
