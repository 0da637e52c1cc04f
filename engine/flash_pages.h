#pragma once
// Which pages of a flash download are programmed. A chip erase leaves every
// byte 0xFF, so after one a page that the image leaves all 0xFF is already
// right: it needs no loads, no page write and no read back. Any other page is
// written whole. A bootloader at the top of flash is then the few pages it
// fills, not every page from word 0 up to it.

#include <cstdint>
#include <vector>

#include "run/memory_image.h"

// Bytes [begin, end) of an image.
struct ByteRange {
  int32_t begin = 0;
  int32_t end = 0;
};

class FlashPages {
 public:
  // Every page that holds any of the first n bytes, all written, as a
  // download onto a chip that was not erased must.
  static FlashPages every(int32_t n, uint32_t pageWords);
  // The same pages, with those whose bytes in `image` are all 0xFF left out.
  static FlashPages leavingErased(const ImageBuffer& image, int32_t n, uint32_t pageWords);

  int32_t length() const { return length_; }
  uint32_t pageWords() const { return pageWords_; }
  int32_t pageBytes() const { return static_cast<int32_t>(2 * pageWords_); }
  int32_t pageCount() const { return static_cast<int32_t>(written_.size()); }
  bool written(int32_t page) const { return written_[static_cast<size_t>(page)]; }
  // The bytes of `page` that are loaded: whole words, so an odd length takes
  // the byte past it too.
  ByteRange loadedBytes(int32_t page) const;
  // Runs of adjacent pages to read back and compare, within the first n
  // bytes: the written pages, or every page when the erased ones are checked
  // too.
  std::vector<ByteRange> readBackRuns(bool withErased) const;

 private:
  FlashPages(int32_t n, uint32_t pageWords);

  int32_t length_;
  uint32_t pageWords_;
  std::vector<bool> written_;
};
