#include "tests/support/hex_text.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

std::string record(uint8_t type, uint16_t address, const uint8_t* data, size_t length) {
  char text[16];
  std::string line = ":";
  unsigned sum = static_cast<unsigned>(length) + (address >> 8) + (address & 0xFF) + type;
  std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<unsigned>(length), address, type);
  line += text;
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(text, sizeof text, "%02X", data[i]);
    line += text;
    sum += data[i];
  }
  std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + text + "\n";
}

}  // namespace

std::string intelHexText(const std::vector<uint8_t>& data, uint32_t start) {
  std::string text;
  uint32_t block = 0;
  size_t i = 0;
  while (i < data.size()) {
    uint32_t address = start + static_cast<uint32_t>(i);
    if ((address >> 16) != block) {
      block = address >> 16;
      uint8_t upper[2] = {static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
      text += record(0x04, 0, upper, 2);
    }
    size_t room = 0x10000 - (address & 0xFFFF);
    size_t length = std::min<size_t>({16, data.size() - i, room});
    text += record(0x00, static_cast<uint16_t>(address & 0xFFFF), &data[i], length);
    i += length;
  }
  return text + ":00000001FF\n";
}

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator() & 0xFF);
  return bytes;
}
