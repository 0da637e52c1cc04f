#include "image/binary_file.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "image/upload_writing.h"

bool namesBinaryFile(const std::string& path) {
  static const char kSuffix[] = ".bin";
  const size_t length = sizeof kSuffix - 1;
  if (path.size() <= length) return false;
  return std::equal(path.end() - length, path.end(), kSuffix, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

BinaryLoadResult loadBinaryImage(const char* bytes, size_t size, ImageBuffer& loadImage,
                                 uint8_t fillChar) {
  clearImage(loadImage, fillChar);
  const size_t stored = std::min<size_t>(size, kImageBytes);
  std::copy(bytes, bytes + stored, loadImage.begin());
  const size_t beyond = std::min<size_t>(size - stored, std::numeric_limits<int32_t>::max());
  return {static_cast<int32_t>(stored), static_cast<int32_t>(beyond)};
}

int writeBinaryFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                    OutputSink& console) {
  n = std::clamp<int32_t>(n, 0, kImageBytes);
  return writeUploadFile(path, console, [&](const UploadWriter& write) {
    return write(reinterpret_cast<const char*>(readImage.data()), static_cast<size_t>(n));
  });
}
