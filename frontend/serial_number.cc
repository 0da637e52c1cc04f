#include "frontend/serial_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "image/output_file.h"
#include "run/regular_file.h"
#include "run/text_util.h"

namespace {

constexpr int kMostSerialBytes = 8;
// A counter file is one number; anything longer is not one.
constexpr size_t kCounterFileLimit = 64;

std::vector<std::string> splitFields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) return fields;
    start = colon + 1;
  }
}

// Decimal, or hexadecimal after 0x; the whole text must be the number.
bool readNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  value = parsed;
  return true;
}

uint64_t decimalLimit(int digits) {
  uint64_t limit = 1;
  for (int i = 0; i < digits; ++i) limit *= 10;
  return limit;
}

}  // namespace

bool parseSerialPlan(const std::string& text, SerialPlan& plan, std::string& reason) {
  const std::vector<std::string> fields = splitFields(text);
  if (fields.size() < 3 || fields.size() > 5) {
    reason = "'" + text + "' is not MEMORY:ADDRESS:BYTES[:ORDER][:FORMAT]";
    return false;
  }
  SerialPlan parsed;
  parsed.counterFile = plan.counterFile;
  if (equalsIgnoreCase(fields[0], "eeprom")) {
    parsed.memory = SerialMemory::kEeprom;
  } else if (equalsIgnoreCase(fields[0], "flash")) {
    parsed.memory = SerialMemory::kFlash;
  } else {
    reason = "the serial number's memory '" + fields[0] + "' is neither eeprom nor flash";
    return false;
  }
  uint64_t address = 0;
  if (!readNumber(fields[1], address) || address > 0xFFFFFF) {
    reason = "the serial number's address '" + fields[1] + "' is no address";
    return false;
  }
  uint64_t count = 0;
  if (!readNumber(fields[2], count) || count < 1 || count > kMostSerialBytes) {
    reason = "the serial number's byte count '" + fields[2] + "' is not 1 to 8";
    return false;
  }
  parsed.address = static_cast<uint32_t>(address);
  parsed.byteCount = static_cast<int>(count);
  for (size_t i = 3; i < fields.size(); ++i) {
    const std::string& field = fields[i];
    if (equalsIgnoreCase(field, "le")) {
      parsed.littleEndian = true;
    } else if (equalsIgnoreCase(field, "be")) {
      parsed.littleEndian = false;
    } else if (equalsIgnoreCase(field, "bin")) {
      parsed.format = SerialFormat::kBinary;
    } else if (equalsIgnoreCase(field, "ascii")) {
      parsed.format = SerialFormat::kDecimalDigits;
    } else {
      reason = "'" + field + "' is none of le, be, bin, ascii";
      return false;
    }
  }
  plan = parsed;
  return true;
}

bool serialFits(const SerialPlan& plan, uint64_t number) {
  if (plan.format == SerialFormat::kDecimalDigits) {
    // 10^20 does not fit 64 bits, but neither does a 20-digit field here.
    return number < decimalLimit(plan.byteCount);
  }
  if (plan.byteCount >= kMostSerialBytes) return true;
  return number < (uint64_t{1} << (8 * plan.byteCount));
}

std::vector<uint8_t> encodeSerial(const SerialPlan& plan, uint64_t number) {
  std::vector<uint8_t> bytes(static_cast<size_t>(plan.byteCount));
  if (plan.format == SerialFormat::kDecimalDigits) {
    for (size_t i = bytes.size(); i-- > 0;) {
      bytes[i] = static_cast<uint8_t>('0' + number % 10);
      number /= 10;
    }
    return bytes;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t byte = static_cast<uint8_t>(number >> (8 * i));
    bytes[plan.littleEndian ? i : bytes.size() - 1 - i] = byte;
  }
  return bytes;
}

bool takeSerialNumber(const SerialPlan& plan, uint64_t& number, std::string& reason) {
  const std::string& path = plan.counterFile;
  std::string text;
  std::string why;
  if (!readRegularFileText(path, kCounterFileLimit, text, why)) {
    reason = "Can't read the serial number counter " + path + ": " + why;
    return false;
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  uint64_t next = 0;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) ||
      text.find_first_not_of("0123456789") != std::string::npos || !readNumber(text, next) ||
      next == std::numeric_limits<uint64_t>::max()) {
    reason = "The serial number counter " + path + " holds no decimal number";
    return false;
  }
  if (!serialFits(plan, next)) {
    reason = "Serial number " + std::to_string(next) + " from " + path + " does not fit in " +
             std::to_string(plan.byteCount) + " bytes - nothing programmed";
    return false;
  }
  OutputFile file;
  const std::string after = std::to_string(next + 1) + "\n";
  if (!file.open(path) || !file.write(after.data(), after.size()) || !file.commit()) {
    reason = "Can't write the serial number counter " + path + ": " + file.error();
    return false;
  }
  number = next;
  return true;
}
