// Any text through the S-record reader: nothing is stored outside the image, a
// refused text leaves the image as it was, and the results stay within their
// meaning.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/srec_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto image = std::make_unique<ImageBuffer>();
  image->fill(0x3C);
  const char* text = reinterpret_cast<const char*>(data);
  const SrecLoadResult result = loadSrecText(text, size, *image, 0xFF);
  if (result.loadLength < 0 || result.loadLength > kImageBytes) std::abort();
  if (result.trouble == SrecTrouble::kNone) {
    if (result.dataRecords < 0 || result.line != 0) std::abort();
    if (result.dataRecords == 0 && result.loadLength != 0) std::abort();
  } else {
    for (uint8_t byte : *image) {
      if (byte != 0x3C) std::abort();
    }
    if (result.trouble != SrecTrouble::kNoData && result.line <= 0) std::abort();
  }
  (void)looksLikeSrec(text, size);
  return 0;
}
