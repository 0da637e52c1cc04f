#include "image/srec_reader.h"

#include <algorithm>
#include <limits>

namespace {

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Address bytes of each record type; 0 for the reserved S4.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

struct Record {
  int type;
  uint32_t address;
  const char* data;  // hex digits of the data bytes
  int dataBytes;
};

// Parses one line (without its line end and trailing blanks). False when it is
// not a well-formed record; `checksumGood` says whether its sum is right.
bool parseRecord(const char* at, const char* end, Record& record, bool& checksumGood) {
  const ptrdiff_t length = end - at;
  if (length < 4 || at[0] != 'S' || at[1] < '0' || at[1] > '9') return false;
  record.type = at[1] - '0';
  const int addressBytes = kAddressBytes[record.type];
  if (addressBytes == 0 || (length - 2) % 2 != 0) return false;
  const ptrdiff_t bytes = (length - 2) / 2;
  uint8_t sum = 0;
  int count = 0;
  for (ptrdiff_t i = 0; i < bytes; ++i) {
    const int high = digitValue(at[2 + 2 * i]);
    const int low = digitValue(at[3 + 2 * i]);
    if (high < 0 || low < 0) return false;
    const uint8_t value = static_cast<uint8_t>(high << 4 | low);
    if (i == 0) count = value;
    sum = static_cast<uint8_t>(sum + value);
  }
  // The count covers the address, the data and the checksum.
  if (count != bytes - 1 || count < addressBytes + 1) return false;
  record.address = 0;
  for (int i = 0; i < addressBytes; ++i) {
    record.address = record.address << 8 | static_cast<uint32_t>(digitValue(at[4 + 2 * i]) << 4 |
                                                                 digitValue(at[5 + 2 * i]));
  }
  record.data = at + 4 + 2 * addressBytes;
  record.dataBytes = count - addressBytes - 1;
  // The checksum does not cover the type digit: a data record whose S1 became
  // S9 would sum right and lose its data, so count and end records carry none.
  if (record.type >= 5 && record.dataBytes != 0) return false;
  // The checksum is the ones' complement of the sum of the other bytes, so
  // the whole record sums to 0xFF.
  checksumGood = sum == 0xFF;
  return true;
}

void countUp(int32_t& counter, int64_t amount) {
  const int64_t total = static_cast<int64_t>(counter) + amount;
  counter = static_cast<int32_t>(std::min<int64_t>(total, std::numeric_limits<int32_t>::max()));
}

// One pass over the text; stores into `image` only when it is given.
SrecLoadResult scan(const char* text, size_t size, ImageBuffer* image) {
  SrecLoadResult result{SrecTrouble::kNone, 0, 0, 0, 0, 0};
  const char* end = text + size;
  int32_t line = 0;
  bool closed = false;  // a count or end record was read
  for (const char* at = text; at < end;) {
    const char* lineEnd = std::find(at, end, '\n');
    const char* next = lineEnd == end ? end : lineEnd + 1;
    ++line;
    while (at < lineEnd && isBlank(*at)) ++at;
    while (lineEnd > at && isBlank(lineEnd[-1])) --lineEnd;
    if (at == lineEnd) {
      at = next;
      continue;
    }
    Record record{};
    bool checksumGood = false;
    if (!parseRecord(at, lineEnd, record, checksumGood)) {
      return {SrecTrouble::kMalformed, line, 0, 0, 0, 0};
    }
    if (!checksumGood) return {SrecTrouble::kBadChecksum, line, 0, 0, 0, 0};
    if (record.type >= 1 && record.type <= 3) {
      countUp(result.dataRecords, 1);
      const int64_t start = record.address;
      const int64_t stop = start + record.dataBytes;
      const int64_t storedEnd = std::min<int64_t>(stop, kImageBytes);
      if (image != nullptr) {
        for (int64_t address = start; address < storedEnd; ++address) {
          const char* digits = record.data + 2 * (address - start);
          (*image)[static_cast<size_t>(address)] =
              static_cast<uint8_t>(digitValue(digits[0]) << 4 | digitValue(digits[1]));
        }
      }
      const int64_t beyond = stop - std::max<int64_t>(start, storedEnd);
      if (beyond > 0 && result.bytesBeyondEnd == 0) {
        result.firstAddressBeyond = std::max<int64_t>(start, kImageBytes);
      }
      countUp(result.bytesBeyondEnd, beyond);
      // Data wholly beyond the image is left out, as Intel HEX leaves it out;
      // it must not stretch the length programmed.
      if (start < storedEnd && storedEnd > result.loadLength) {
        result.loadLength = static_cast<int32_t>(storedEnd);
      }
    } else if (record.type >= 5) {
      closed = true;
    }
    if (record.type == 5 || record.type == 6) {
      if (record.address != static_cast<uint32_t>(result.dataRecords)) {
        SrecLoadResult mismatch{SrecTrouble::kCountMismatch, line, 0, 0, result.dataRecords, 0};
        mismatch.countedRecords = record.address;
        return mismatch;
      }
    }
    // S0 (header) and S7/S8/S9 (start address) carry nothing for the image.
    // Records after an end record still load, as with joined files.
    at = next;
  }
  // A count or an end record with no data is what an upload of an erased chip
  // writes: valid, and it loads nothing, as the Intel HEX end record alone does.
  if (result.dataRecords == 0 && !closed) return {SrecTrouble::kNoData, 0, 0, 0, 0, 0};
  return result;
}

}  // namespace

bool looksLikeSrec(const char* text, size_t size) {
  size_t at = 0;
  while (at < size && (isBlank(text[at]) || text[at] == '\n')) ++at;
  return size - at >= 3 && text[at] == 'S' && text[at + 1] >= '0' && text[at + 1] <= '9' &&
         digitValue(text[at + 2]) >= 0;
}

SrecLoadResult loadSrecText(const char* text, size_t size, ImageBuffer& loadImage,
                            uint8_t fillChar) {
  const SrecLoadResult checked = scan(text, size, nullptr);
  if (checked.trouble != SrecTrouble::kNone) return checked;
  clearImage(loadImage, fillChar);
  return scan(text, size, &loadImage);
}

void reportSrecTrouble(const SrecLoadResult& result, const std::string& name, OutputSink& console) {
  const char* file = name.c_str();
  switch (result.trouble) {
    case SrecTrouble::kNone:
      return;
    case SrecTrouble::kMalformed:
      console.print("Line %d of %s is not a valid S-record - nothing programmed\n", result.line,
                    file);
      return;
    case SrecTrouble::kBadChecksum:
      console.print("Bad S-record checksum on line %d of %s - nothing programmed\n", result.line,
                    file);
      return;
    case SrecTrouble::kCountMismatch:
      console.print(
          "Line %d of %s counts %lld data records, but %d come before it - nothing programmed\n",
          result.line, file, static_cast<long long>(result.countedRecords), result.dataRecords);
      return;
    case SrecTrouble::kNoData:
      console.print("No S-record data in %s - nothing programmed\n", file);
      return;
  }
}
