#pragma once
// A number of its own for every board of a batch: where it goes on the chip,
// how it is laid out there, and the counter file that hands numbers out.

#include <cstdint>
#include <string>
#include <vector>

enum class SerialMemory { kEeprom, kFlash };
enum class SerialFormat { kBinary, kDecimalDigits };

struct SerialPlan {
  SerialMemory memory = SerialMemory::kEeprom;
  uint32_t address = 0;
  int byteCount = 0;         // 1 to 8
  bool littleEndian = true;  // binary numbers only
  SerialFormat format = SerialFormat::kBinary;
  std::string counterFile;  // holds the next number, in decimal
};

// Reads "MEMORY:ADDRESS:BYTES[:ORDER][:FORMAT]" ("eeprom:0x3F0:4:le:bin",
// "flash:0x7FF0:6:ascii"); false with a one-line reason.
bool parseSerialPlan(const std::string& text, SerialPlan& plan, std::string& reason);

// Whether `number` fits the plan's bytes: below 2^(8n) in binary, below 10^n
// as digits.
bool serialFits(const SerialPlan& plan, uint64_t number);
// The plan's bytes for `number`, which must fit: binary in the plan's byte
// order, or decimal digits in ASCII padded with '0' on the left.
std::vector<uint8_t> encodeSerial(const SerialPlan& plan, uint64_t number);

// Hands out the counter file's number and writes the next one back before
// returning, through a write that replaces the file whole, so that a number
// can reach a chip only after the file has moved past it. False, with the
// reason, when the file is missing, holds no number, holds one that does not
// fit the plan, or cannot be written; the file is then unchanged.
bool takeSerialNumber(const SerialPlan& plan, uint64_t& number, std::string& reason);
