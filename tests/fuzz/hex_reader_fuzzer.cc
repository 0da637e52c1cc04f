// Any text through the Intel HEX reader: nothing is stored outside the image,
// and the counts stay within their meaning.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/hex_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto image = std::make_unique<ImageBuffer>();
  const HexLoadResult result = loadHexText(reinterpret_cast<const char*>(data), size, *image, 0xFF);
  if (result.loadLength < 0 || result.loadLength > kImageBytes) std::abort();
  if (result.records < 0 || result.badChecksums > result.records) std::abort();
  if (result.records == 0 && result.loadLength != 0) std::abort();
  return 0;
}
