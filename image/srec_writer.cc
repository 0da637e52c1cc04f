#include "image/srec_writer.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "image/upload_writing.h"

namespace {

constexpr int32_t kRecordBytes = 16;

std::string lowerSuffix(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string suffix = path.substr(dot);
  for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return suffix;
}

int leastAddressBytes(int32_t n) {
  if (n <= 0x10000) return 2;
  if (n <= 0x1000000) return 3;
  return 4;
}

class RecordText {
 public:
  explicit RecordText(const HexTextSink& sink) : sink_(sink) {}

  void begin(int type, int dataBytes, int addressBytes, uint32_t address) {
    if (text_.size() > 16000) flush();
    text_ += 'S';
    text_ += static_cast<char>('0' + type);
    sum_ = 0;
    add(static_cast<uint8_t>(addressBytes + dataBytes + 1));
    for (int shift = 8 * (addressBytes - 1); shift >= 0; shift -= 8) {
      add(static_cast<uint8_t>(address >> shift));
    }
  }
  void add(uint8_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    text_ += kDigits[value >> 4];
    text_ += kDigits[value & 15];
    sum_ = static_cast<uint8_t>(sum_ + value);
  }
  void end() {
    add(static_cast<uint8_t>(~sum_));
    text_ += '\n';
  }
  bool flush() {
    if (ok_ && !text_.empty()) ok_ = sink_(text_.data(), text_.size());
    text_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  const HexTextSink& sink_;
  std::string text_;
  uint8_t sum_ = 0;
  bool ok_ = true;
};

}  // namespace

bool namesSrecFile(const std::string& path) {
  const std::string suffix = lowerSuffix(path);
  return suffix == ".srec" || suffix == ".s19" || suffix == ".s28" || suffix == ".s37";
}

int srecAddressBytes(const std::string& path, int32_t n) {
  const std::string suffix = lowerSuffix(path);
  const int asked = suffix == ".s37" ? 4 : suffix == ".s28" ? 3 : 2;
  return std::max(asked, leastAddressBytes(n));
}

bool formatSrecRecords(const ImageBuffer& readImage, int32_t n, int addressBytes,
                       const std::string& header, const HexTextSink& sink) {
  n = std::clamp<int32_t>(n, 0, kImageBytes);
  addressBytes = std::clamp(addressBytes, 2, 4);
  RecordText text(sink);
  const std::string_view title = std::string_view(header).substr(0, 32);
  text.begin(0, static_cast<int>(title.size()), 2, 0);
  for (char c : title) text.add(static_cast<uint8_t>(c));
  text.end();

  const int dataType = addressBytes - 1;  // S1, S2, S3
  int32_t records = 0;
  for (int32_t address = 0; address < n && text.ok(); address += kRecordBytes) {
    const int32_t count = std::min(kRecordBytes, n - address);
    text.begin(dataType, count, addressBytes, static_cast<uint32_t>(address));
    for (int32_t i = 0; i < count; ++i) text.add(readImage[static_cast<size_t>(address + i)]);
    text.end();
    ++records;
  }
  // The count lets a reader notice lost lines; S6 when it needs 24 bits.
  if (records <= 0xFFFF) {
    text.begin(5, 0, 2, static_cast<uint32_t>(records));
  } else {
    text.begin(6, 0, 3, static_cast<uint32_t>(records));
  }
  text.end();
  text.begin(10 - dataType, 0, addressBytes, 0);  // S9, S8, S7: start address 0
  text.end();
  return text.flush();
}

int writeSrecFile(const std::string& path, const ImageBuffer& readImage, int32_t n,
                  OutputSink& console) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return writeUploadFile(path, console, [&](const UploadWriter& write) {
    return formatSrecRecords(readImage, n, srecAddressBytes(path, n), name, write);
  });
}
