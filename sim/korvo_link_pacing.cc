#include "sim/korvo_link_pacing.h"

#include <algorithm>

void KorvoLinkPacing::setBaud(long baud) {
  constexpr int64_t kBitsPerByte = 10;
  byteMicros_ = baud > 0 ? (kBitsPerByte * 1'000'000 + baud - 1) / baud : 0;
}

void KorvoLinkPacing::queueInput(const KorvoBytes& bytes, int64_t nowMicros,
                                 int64_t uncertaintyMicros) {
  for (uint8_t byte : bytes) {
    inputFreeAt_ = std::max(nowMicros, inputFreeAt_) + byteMicros_;
    input_.push_back({byte, inputFreeAt_, inputFreeAt_ - std::max<int64_t>(uncertaintyMicros, 0)});
  }
}

bool KorvoLinkPacing::takeDueInput(int64_t nowMicros, uint8_t* byte, int64_t* earliestMicros) {
  if (input_.empty() || input_.front().due > nowMicros) return false;
  *byte = input_.front().byte;
  if (earliestMicros != nullptr) *earliestMicros = input_.front().earliest;
  input_.pop_front();
  return true;
}

void KorvoLinkPacing::queueOutput(const KorvoBytes& bytes, int64_t nowMicros, int64_t delayMicros) {
  const int64_t earliest = nowMicros + delayMicros;
  for (uint8_t byte : bytes) {
    outputFreeAt_ = std::max(earliest, outputFreeAt_) + byteMicros_;
    output_.push_back({byte, outputFreeAt_});
  }
}

KorvoBytes KorvoLinkPacing::peekDueOutput(int64_t nowMicros) const {
  KorvoBytes due;
  for (const Timed& timed : output_) {
    if (timed.due > nowMicros) break;
    due.push_back(timed.byte);
  }
  return due;
}

void KorvoLinkPacing::dropOutput(size_t count) {
  output_.erase(output_.begin(),
                output_.begin() + static_cast<std::ptrdiff_t>(std::min(count, output_.size())));
}

void KorvoLinkPacing::clear() {
  input_.clear();
  output_.clear();
  inputFreeAt_ = 0;
  outputFreeAt_ = 0;
}
