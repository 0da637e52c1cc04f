#pragma once
// The two images of target memory: what is to be written (loaded from HEX
// files) and what was read back from the target. Index i is target byte i.

#include <array>
#include <cstdint>
#include <memory>

constexpr int32_t kImageBytes = 364000;
using ImageBuffer = std::array<uint8_t, kImageBytes>;

inline void clearImage(ImageBuffer& image, uint8_t value) {
  image.fill(value);
}

struct MemoryImages {
  MemoryImages() : load(std::make_unique<ImageBuffer>()), read(std::make_unique<ImageBuffer>()) {
    load->fill(0xFF);
    read->fill(0x00);
  }
  std::unique_ptr<ImageBuffer> load;  // source of programming, reference of verification
  std::unique_ptr<ImageBuffer> read;  // filled from the target, source of uploads
};

inline void clearLoadImage(MemoryImages& images, uint8_t value) {
  images.load->fill(value);
}
inline void clearReadImage(MemoryImages& images, uint8_t value) {
  images.read->fill(value);
}
