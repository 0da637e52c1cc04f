#include "tests/support/fake_parallel_port.h"

namespace {

FakeParallelPort* current = nullptr;

constexpr int kSck = 4;
constexpr int kMosi = 5;
constexpr int kMiso = 6;

void fakeSet(uint16_t address, uint8_t bit) {
  current->change(true, address, bit);
}
void fakeClear(uint16_t address, uint8_t bit) {
  current->change(false, address, bit);
}
int16_t fakeGet(uint16_t address, uint8_t bit) {
  return current->read(address, bit);
}

int levelOf(uint8_t value, int bit) {
  return (value >> bit) & 1;
}

}  // namespace

FakeParallelPort::FakeParallelPort(uint16_t dataPort, uint16_t statusPort)
    : dataPort_(dataPort), statusPort_(statusPort) {
  current = this;
}

FakeParallelPort::~FakeParallelPort() {
  if (current == this) current = nullptr;
}

PortBits FakeParallelPort::bits() const {
  PortBits bits;
  bits.setBit = fakeSet;
  bits.clearBit = fakeClear;
  bits.getBit = fakeGet;
  return bits;
}

void FakeParallelPort::change(bool set, uint16_t address, uint8_t bit) {
  changes_.push_back({set, address, bit});
  if (address != dataPort_) {
    ++strayAccesses_;
    return;
  }
  uint8_t before = data_;
  uint8_t mask = static_cast<uint8_t>(1u << bit);
  data_ = set ? static_cast<uint8_t>(data_ | mask) : static_cast<uint8_t>(data_ & ~mask);
  if (levelOf(before, kMosi) != levelOf(data_, kMosi) && levelOf(data_, kSck)) {
    mosiWhileHigh_ = true;
  }
  if (!levelOf(before, kSck) && levelOf(data_, kSck)) mosiAtEdges_.push_back(levelOf(data_, kMosi));
}

int16_t FakeParallelPort::read(uint16_t address, uint8_t bit) {
  if (address != statusPort_) {
    ++strayAccesses_;
    return statusFloatsHigh ? -1 : 0;
  }
  int level = statusFloatsHigh ? 1 : 0;
  if (bit == kMiso && !mosiAtEdges_.empty()) {
    ++misoSamples_;
    size_t edge = mosiAtEdges_.size() - 1;
    level = levelOf(answer(edge / 8), 7 - static_cast<int>(edge % 8));
  } else if (loopbacksFitted && bit == 5) {
    level = levelOf(data_, 0);
  } else if (loopbacksFitted && bit == 7) {
    level = !levelOf(data_, 1);
  }
  return level ? -1 : 0;
}

std::string FakeParallelPort::dataChangeText() const {
  std::string text;
  for (const PortChange& c : changes_) {
    if (c.address != dataPort_) continue;
    if (!text.empty()) text += ' ';
    text += (c.set ? '+' : '-');
    text += std::to_string(c.bit);
  }
  return text;
}

std::vector<uint8_t> FakeParallelPort::bytesOut() const {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 8 <= mosiAtEdges_.size(); i += 8) {
    unsigned value = 0;
    for (size_t b = 0; b < 8; ++b)
      value = (value << 1) | static_cast<unsigned>(mosiAtEdges_[i + b]);
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}
