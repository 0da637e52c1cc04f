#include "tests/support/hex_mutator.h"

#include <algorithm>
#include <cstdint>

namespace {

int pick(std::mt19937& random, int below) {
  return std::uniform_int_distribution<int>(0, below - 1)(random);
}

std::string record(std::mt19937& random) {
  static const uint8_t kTypes[] = {0, 0, 0, 0, 1, 2, 4, 4, 3, 5, 0x7E};
  const uint8_t type = kTypes[pick(random, sizeof kTypes)];
  const int count = pick(random, 4) == 0 ? pick(random, 256) : pick(random, 33);
  const bool upper = pick(random, 2) == 0;
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text = ":";
  uint8_t sum = 0;
  auto add = [&](uint8_t value) {
    text += digits[value >> 4];
    text += digits[value & 15];
    sum = static_cast<uint8_t>(sum + value);
  };
  add(static_cast<uint8_t>(count));
  add(static_cast<uint8_t>(pick(random, 256)));
  add(static_cast<uint8_t>(pick(random, 256)));
  add(type);
  for (int i = 0; i < count; ++i) add(static_cast<uint8_t>(pick(random, 256)));
  add(static_cast<uint8_t>(pick(random, 8) == 0 ? pick(random, 256) : -sum));
  return text;
}

}  // namespace

std::string randomHexText(std::mt19937& random) {
  static const char* const kLineEnds[] = {"\n", "\r\n", "", " ; note\n"};
  std::string text;
  for (int records = pick(random, 40); records > 0; --records) {
    text += record(random) + kLineEnds[pick(random, 4)];
  }
  return text;
}

std::string mutateHexText(std::string text, std::mt19937& random) {
  for (int edits = 1 + pick(random, 8); edits > 0; --edits) {
    const size_t at = text.empty() ? 0 : static_cast<size_t>(pick(random, int(text.size())));
    switch (pick(random, 6)) {
      case 0:
        if (!text.empty()) text[at] = static_cast<char>(pick(random, 256));
        break;
      case 1:
        text.insert(at, 1, ':');
        break;
      case 2:
        text.erase(at, static_cast<size_t>(pick(random, 20)));
        break;
      case 3:
        text.resize(at);
        break;
      case 4:
        text.insert(at, text.substr(at, static_cast<size_t>(pick(random, 200))));
        break;
      default:
        text.insert(at, std::string(static_cast<size_t>(pick(random, 9)), "0F9a"[pick(random, 4)]));
        break;
    }
  }
  return text;
}
