#include "run/text_util.h"

#include <cctype>

namespace {
int lower(char c) {
  return std::tolower(static_cast<unsigned char>(c));
}
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool prefixEqualsIgnoreCase(std::string_view text, std::string_view word, size_t length) {
  // Like strnicmp over `length` characters: running out of either text before
  // `length` only matches when both run out together.
  for (size_t i = 0; i < length; ++i) {
    char a = i < text.size() ? text[i] : '\0';
    char b = i < word.size() ? word[i] : '\0';
    if (lower(a) != lower(b)) return false;
    if (a == '\0') return true;
  }
  return true;
}

bool scanHex(std::string_view text, unsigned long& value) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A bare "0x" is read as the number 0, as scanf reads it.
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      i + 2 < text.size() && hexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  unsigned long result = 0;
  size_t digits = 0;
  while (i < text.size() && hexDigit(text[i]) >= 0) {
    result = result * 16 + static_cast<unsigned long>(hexDigit(text[i]));
    ++i;
    ++digits;
  }
  if (digits == 0) return false;
  value = negative ? 0ul - result : result;
  return true;
}
