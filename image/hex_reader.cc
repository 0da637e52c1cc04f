#include "image/hex_reader.h"

#include <algorithm>
#include <array>
#include <exception>
#include <iterator>
#include <limits>
#include <streambuf>
#include <string>

namespace {

constexpr std::array<int8_t, 256> makeDigitTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<int8_t>(10 + i);
    table['A' + i] = static_cast<int8_t>(10 + i);
  }
  return table;
}
constexpr std::array<int8_t, 256> kDigitValue = makeDigitTable();

void countUp(int32_t& counter, int64_t amount) {
  int64_t total = static_cast<int64_t>(counter) + amount;
  counter = static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
}

// Reads the characters of one record from the text. A character that is not a
// hex digit is left unread, so a ':' that interrupts a truncated record still
// starts the next one.
class RecordFields {
 public:
  RecordFields(const char*& at, const char* end) : at_(at), end_(end) {}

  bool readByte(uint8_t& value) {
    int high = digitAt(0);
    if (high < 0) return false;
    int low = digitAt(1);
    if (low < 0) {
      ++at_;
      return false;
    }
    at_ += 2;
    value = static_cast<uint8_t>(high << 4 | low);
    sum_ = static_cast<uint8_t>(sum_ + value);
    return true;
  }

  bool readBytes(uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
      if (!readByte(bytes[i])) return false;
    }
    return true;
  }

  // The checksum byte makes the sum of the whole record zero.
  bool readChecksum(bool& matches) {
    uint8_t checksum = 0;
    if (!readByte(checksum)) return false;
    matches = sum_ == 0;
    return true;
  }

 private:
  int digitAt(ptrdiff_t offset) const {
    return end_ - at_ > offset ? kDigitValue[static_cast<uint8_t>(at_[offset])] : -1;
  }

  const char*& at_;
  const char* end_;
  uint8_t sum_ = 0;
};

enum RecordType : uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegment = 0x02,
  kExtendedLinear = 0x04,
};

class HexLoader {
 public:
  HexLoader(ImageBuffer& image, HexLoadResult& result) : image_(image), result_(result) {}

  // Called after the ':' start code of a record on line `line`; leaves `at`
  // after the record.
  void loadRecord(const char*& at, const char* end, int32_t line) {
    RecordFields fields(at, end);
    uint8_t header[4];
    if (!fields.readBytes(header, 4)) return damaged(result_.malformedRecords, line);
    const int count = header[0];
    const int64_t offset = header[1] << 8 | header[2];
    bool checksumMatches = false;

    switch (header[3]) {
      case kData: {
        uint8_t data[255];
        if (!fields.readBytes(data, count) || !fields.readChecksum(checksumMatches)) {
          return damaged(result_.malformedRecords, line);
        }
        storeData(extension_ + offset, data, count);
        if (count > 0 && afterEnd_) countUp(result_.dataAfterEnd, 1);
        break;
      }
      case kExtendedSegment:
      case kExtendedLinear: {
        // The two bytes after the type are the address whatever the byte
        // count claims.
        uint8_t value[2];
        if (!fields.readBytes(value, 2) || !fields.readChecksum(checksumMatches)) {
          return damaged(result_.malformedRecords, line);
        }
        const int64_t base = value[0] << 8 | value[1];
        extension_ = header[3] == kExtendedSegment ? base * 16 : base * 65536;
        break;
      }
      case kEndOfFile: {
        // Not the end of loading: records after it still count. Its count is
        // normally 0, but any bytes it claims are part of its checksum.
        uint8_t ignored[255];
        if (!fields.readBytes(ignored, count) || !fields.readChecksum(checksumMatches)) {
          return damaged(result_.malformedRecords, line);
        }
        afterEnd_ = true;
        break;
      }
      default: {
        // Start addresses (03, 05) carry nothing for the image. A type byte
        // damaged in a copy looks the same, so the record must still check
        // out: read as far as its count says and test the sum.
        uint8_t ignored[255];
        if (!fields.readBytes(ignored, count) || !fields.readChecksum(checksumMatches)) {
          return damaged(result_.malformedRecords, line);
        }
        if (checksumMatches) return;
        break;
      }
    }
    countUp(result_.records, 1);
    if (!checksumMatches) damaged(result_.badChecksums, line);
  }

  void missingStartCode(int32_t line) { damaged(result_.malformedRecords, line); }

 private:
  void storeData(int64_t start, const uint8_t* data, int count) {
    const int64_t end = start + count;
    const int64_t storedEnd = std::min<int64_t>(end, kImageBytes);
    for (int64_t address = start; address < storedEnd; ++address) {
      image_[static_cast<size_t>(address)] = data[address - start];
    }
    countUp(result_.bytesBeyondEnd, end - std::max<int64_t>(start, storedEnd));
    // The highest address, not the last record's: records in descending
    // order, or two files joined, must still be programmed whole.
    if (start < storedEnd) {
      result_.loadLength = std::max(result_.loadLength, static_cast<int32_t>(storedEnd));
    }
  }

  void damaged(int32_t& counter, int32_t line) {
    countUp(counter, 1);
    if (result_.firstBadLine == 0) result_.firstBadLine = line;
  }

  ImageBuffer& image_;
  HexLoadResult& result_;
  // Wider than the image's index: a type 04 record can name addresses up to
  // 4 GiB, which must be recognised as beyond the end, not wrapped.
  int64_t extension_ = 0;
  bool afterEnd_ = false;
};

// A line ends at LF, or at a CR that no LF follows (old Macintosh files).
bool endsLine(const char* at, const char* end) {
  return *at == '\n' || (*at == '\r' && (at + 1 == end || at[1] != '\n'));
}

bool isLineBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// The fewest digits a record holds: count, offset, type and checksum.
constexpr int kShortestRecordDigits = 10;

// True when the line starting at `at` holds nothing but hex digits, at least a
// record's worth, between blanks: a record that lost its ':' start code.
// Text lines, blank lines and lines holding a ':' are not such records.
bool lacksStartCode(const char* at, const char* end) {
  while (at < end && isLineBlank(*at) && !endsLine(at, end)) ++at;
  int digits = 0;
  for (; at < end && !endsLine(at, end); ++at) {
    if (kDigitValue[static_cast<uint8_t>(*at)] >= 0) {
      if (digits > 0 && isLineBlank(at[-1])) return false;  // two words
      ++digits;
    } else if (!isLineBlank(*at)) {
      return false;
    }
  }
  return digits >= kShortestRecordDigits;
}

}  // namespace

HexLoadResult loadHexText(const char* text, size_t size, ImageBuffer& loadImage, uint8_t fillChar) {
  HexLoadResult result{};
  clearImage(loadImage, fillChar);
  HexLoader loader(loadImage, result);
  const char* end = text + size;
  int32_t line = 1;
  bool lineStart = true;
  for (const char* at = text; at < end;) {
    if (lineStart && lacksStartCode(at, end)) loader.missingStartCode(line);
    // A record never holds a line end: it stops at the first character that
    // is not a hex digit.
    lineStart = endsLine(at, end);
    if (lineStart && line < std::numeric_limits<int32_t>::max()) ++line;
    if (*at++ == ':') loader.loadRecord(at, end, line);
  }
  return result;
}

HexLoadResult loadHexRecords(std::istream& downloadStream, ImageBuffer& loadImage,
                             uint8_t fillChar) {
  // Read through the stream's own guard: a read error (a directory, EIO) ends
  // the text instead of escaping as an exception.
  std::string text;
  try {
    text.assign(std::istreambuf_iterator<char>(downloadStream), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
  }
  return loadHexText(text.data(), text.size(), loadImage, fillChar);
}

void reportHexTrouble(const HexLoadResult& result, OutputSink& console) {
  if (result.bytesBeyondEnd > 0) {
    console.print("Warning: %d bytes beyond the end of the memory image were ignored\n",
                  result.bytesBeyondEnd);
  }
  if (result.malformedRecords > 0) {
    console.print("Warning: %d malformed HEX records were skipped\n", result.malformedRecords);
  }
  if (result.badChecksums > 0) {
    console.print("Warning: %d HEX records have bad checksums\n", result.badChecksums);
  }
}

int32_t readHexFile(std::istream& downloadStream, ImageBuffer& loadImage, uint8_t fillChar,
                    OutputSink& console) {
  const HexLoadResult result = loadHexRecords(downloadStream, loadImage, fillChar);
  reportHexTrouble(result, console);
  return result.loadLength;
}
