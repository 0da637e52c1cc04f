#include "engine/flash_pages.h"

#include <algorithm>

#include "engine/transfer_limits.h"

namespace {
// Whole words: the page loads send both bytes of a word.
int32_t wordEnd(int32_t n) {
  return (n + 1) & ~1;
}
}  // namespace

FlashPages::FlashPages(int32_t n, uint32_t pageWords)
    : length_(clampToImage(n)), pageWords_(pageWords == 0 ? 1 : pageWords) {
  const int32_t bytes = pageBytes();
  written_.assign(static_cast<size_t>((wordEnd(length_) + bytes - 1) / bytes), true);
}

FlashPages FlashPages::every(int32_t n, uint32_t pageWords) {
  return FlashPages(n, pageWords);
}

FlashPages FlashPages::leavingErased(const ImageBuffer& image, int32_t n, uint32_t pageWords) {
  FlashPages pages(n, pageWords);
  for (int32_t page = 0; page < pages.pageCount(); ++page) {
    ByteRange loaded = pages.loadedBytes(page);
    pages.written_[static_cast<size_t>(page)] =
        std::any_of(image.begin() + loaded.begin, image.begin() + loaded.end,
                    [](uint8_t byte) { return byte != 0xFF; });
  }
  return pages;
}

ByteRange FlashPages::loadedBytes(int32_t page) const {
  const int32_t begin = page * pageBytes();
  // length_ is at most the (even) image size, so the word end stays inside it.
  return ByteRange{begin, std::min(begin + pageBytes(), wordEnd(length_))};
}

std::vector<ByteRange> FlashPages::readBackRuns(bool withErased) const {
  std::vector<ByteRange> runs;
  for (int32_t page = 0; page < pageCount(); ++page) {
    if (!withErased && !written(page)) continue;
    ByteRange bytes{page * pageBytes(), std::min((page + 1) * pageBytes(), length_)};
    if (!runs.empty() && runs.back().end == bytes.begin) {
      runs.back().end = bytes.end;
    } else {
      runs.push_back(bytes);
    }
  }
  return runs;
}
