#include "image/hex_writer.h"

#include <algorithm>
#include <array>

#include "image/upload_writing.h"

namespace {

constexpr int32_t kBlockBytes = 65536;
constexpr int32_t kRecordBytes = 16;

constexpr std::array<char, 512> makeDigitPairs() {
  std::array<char, 512> pairs{};
  const char digits[] = "0123456789abcdef";
  for (int value = 0; value < 256; ++value) {
    pairs[2 * value] = digits[value >> 4];
    pairs[2 * value + 1] = digits[value & 15];
  }
  return pairs;
}
constexpr std::array<char, 512> kDigitPairs = makeDigitPairs();

// Collects records in a fixed buffer and hands it to the sink when full.
class RecordText {
 public:
  explicit RecordText(const HexTextSink& sink) : sink_(sink) {}

  // Leaves room for one whole record of up to 16 data bytes.
  void beginRecord() {
    if (used_ + kLongestRecord > text_.size()) flush();
    sum_ = 0;
    text_[used_++] = ':';
  }
  void addByte(uint8_t value) {
    text_[used_++] = kDigitPairs[2 * value];
    text_[used_++] = kDigitPairs[2 * value + 1];
    sum_ = static_cast<uint8_t>(sum_ + value);
  }
  void endRecord() {
    addByte(static_cast<uint8_t>(-sum_));
    text_[used_++] = '\n';
  }
  void addText(const char* text, size_t length) {
    if (used_ + length > text_.size()) flush();
    std::copy(text, text + length, text_.data() + used_);
    used_ += length;
  }
  bool flush() {
    if (ok_ && used_ > 0) ok_ = sink_(text_.data(), used_);
    used_ = 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  static constexpr size_t kLongestRecord = 1 + 2 * (4 + kRecordBytes + 1) + 1;
  const HexTextSink& sink_;
  std::array<char, 16384> text_;
  size_t used_ = 0;
  uint8_t sum_ = 0;
  bool ok_ = true;
};

void addDataRecord(RecordText& text, const ImageBuffer& image, int32_t address, int32_t offset,
                   int32_t count) {
  text.beginRecord();
  text.addByte(static_cast<uint8_t>(count));
  text.addByte(static_cast<uint8_t>(offset >> 8));
  text.addByte(static_cast<uint8_t>(offset));
  text.addByte(0x00);
  for (int32_t i = 0; i < count; ++i) text.addByte(image[static_cast<size_t>(address + i)]);
  text.endRecord();
}

void addExtendedAddressRecord(RecordText& text, int32_t block, int hexRecordType) {
  // Type 02 names the segment whose base (segment x 16) is the block start.
  const bool linear = hexRecordType == 4;
  const int32_t value = linear ? block : block * 4096;
  text.beginRecord();
  text.addByte(2);
  text.addByte(0);
  text.addByte(0);
  text.addByte(linear ? 0x04 : 0x02);
  text.addByte(static_cast<uint8_t>(value >> 8));
  text.addByte(static_cast<uint8_t>(value));
  text.endRecord();
}

}  // namespace

bool formatHexRecords(const ImageBuffer& readImage, int32_t n, int hexRecordType,
                      const HexTextSink& sink) {
  // Never reads past the image, whatever length the caller asks for.
  n = std::clamp<int32_t>(n, 0, kImageBytes);
  RecordText text(sink);
  int32_t block = 0;  // the 64 KiB block last announced; block 0 needs no record
  for (int32_t address = 0; address < n && text.ok(); address += kRecordBytes) {
    const int32_t next = (address + kRecordBytes) / kBlockBytes;
    const int32_t count = std::min(kRecordBytes, n - address);
    addDataRecord(text, readImage, address, address - block * kBlockBytes, count);
    // Records start on multiples of 16, so the one that reaches a block end
    // fills it exactly; the next block is announced even if no data follows.
    if (next > block) {
      addExtendedAddressRecord(text, next, hexRecordType);
      block = next;
    }
  }
  static const char kEndOfFile[] = ":00000001FF\n";
  text.addText(kEndOfFile, sizeof kEndOfFile - 1);
  return text.flush();
}

bool writeHexRecords(std::ostream& uploadStream, const ImageBuffer& readImage, int32_t n,
                     int hexRecordType) {
  const bool formatted =
      formatHexRecords(readImage, n, hexRecordType, [&](const char* text, size_t length) {
        uploadStream.write(text, static_cast<std::streamsize>(length));
        return static_cast<bool>(uploadStream);
      });
  uploadStream.flush();
  return formatted && uploadStream.good();
}

int writeHexFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                 int hexRecordType, OutputSink& console) {
  return writeUploadFile(path, console, [&](const UploadWriter& write) {
    return formatHexRecords(readImage, n, hexRecordType, write);
  });
}
