// The target's state file: plain text, so a test or a user can look at it.
//
//   avr-target-state 1
//   part ATmega644P
//   fuses 62 99 FF          low, high, extended (hex)
//   lock FF
//   flash 65536             then the bytes in hex, 32 to a line
//   ...
//   eeprom 2048             likewise
//   ...
//
// A file made for another part is refused: its memories would not fit.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/avr_target.h"

namespace {

constexpr const char* kMagic = "avr-target-state";
constexpr int kVersion = 1;
constexpr size_t kBytesPerLine = 32;

void fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
}

void writeHexBlock(std::ostream& out, const char* name, const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  out << name << ' ' << bytes.size() << '\n';
  std::string line;
  for (size_t i = 0; i < bytes.size(); i += kBytesPerLine) {
    line.clear();
    for (size_t j = i; j < bytes.size() && j < i + kBytesPerLine; ++j) {
      line += kDigits[bytes[j] >> 4];
      line += kDigits[bytes[j] & 0x0F];
    }
    out << line << '\n';
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool readHexByte(std::istream& in, uint8_t* value) {
  std::string word;
  if (!(in >> word) || word.size() != 2) return false;
  int high = hexDigit(word[0]), low = hexDigit(word[1]);
  if (high < 0 || low < 0) return false;
  *value = static_cast<uint8_t>(high << 4 | low);
  return true;
}

bool readHexBlock(std::istream& in, const char* name, size_t expected, std::vector<uint8_t>* bytes,
                  std::string* error) {
  std::string key;
  size_t size = 0;
  if (!(in >> key >> size) || key != name) {
    fail(error, std::string("missing the ") + name + " section");
    return false;
  }
  if (size != expected) {
    fail(error, std::string(name) + " holds " + std::to_string(size) + " bytes, the part has " +
                    std::to_string(expected));
    return false;
  }
  bytes->assign(size, 0xFF);
  size_t filled = 0;
  std::string line;
  while (filled < size && in >> line) {
    if (line.size() % 2 != 0 || filled + line.size() / 2 > size) {
      fail(error, std::string("bad line in the ") + name + " section");
      return false;
    }
    for (size_t i = 0; i < line.size(); i += 2) {
      int high = hexDigit(line[i]), low = hexDigit(line[i + 1]);
      if (high < 0 || low < 0) {
        fail(error, std::string("bad hex digit in the ") + name + " section");
        return false;
      }
      (*bytes)[filled++] = static_cast<uint8_t>(high << 4 | low);
    }
  }
  if (filled < size) {
    fail(error, std::string("the ") + name + " section is cut short");
    return false;
  }
  return true;
}

}  // namespace

bool AvrTarget::saveState(const std::string& path, std::string* error) const {
  // Written beside the old file and renamed over it, so a failed write leaves
  // the previous state intact.
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) {
      fail(error, "cannot create " + temporary);
      return false;
    }
    char line[64];
    std::snprintf(line, sizeof line, "fuses %02X %02X %02X\nlock %02X\n", fuseLow_, fuseHigh_,
                  fuseExtended(), lock_);
    out << kMagic << ' ' << kVersion << "\npart " << part_.name << '\n' << line;
    writeHexBlock(out, "flash", flash_);
    writeHexBlock(out, "eeprom", eeprom_);
    out.flush();
    if (!out) {
      out.close();
      std::remove(temporary.c_str());
      fail(error, "cannot write " + temporary);
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    fail(error, "cannot replace " + path);
    return false;
  }
  return true;
}

bool AvrTarget::loadState(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    fail(error, "cannot open " + path);
    return false;
  }
  std::string magic, key, partName;
  int version = 0;
  if (!(in >> magic >> version) || magic != kMagic) {
    fail(error, path + " is not a target state file");
    return false;
  }
  if (version != kVersion) {
    fail(error, path + ": unsupported state file version " + std::to_string(version));
    return false;
  }
  if (!(in >> key >> partName) || key != "part") {
    fail(error, path + ": missing the part line");
    return false;
  }
  const SimPart* named = findSimPart(partName);
  if (named == nullptr || std::strcmp(named->name, part_.name) != 0) {
    fail(error, path + " was made for " + partName + ", not " + part_.name);
    return false;
  }
  uint8_t low = 0, high = 0, extended = 0, lock = 0;
  if (!(in >> key) || key != "fuses" || !readHexByte(in, &low) || !readHexByte(in, &high) ||
      !readHexByte(in, &extended)) {
    fail(error, path + ": bad fuses line");
    return false;
  }
  if (!(in >> key) || key != "lock" || !readHexByte(in, &lock)) {
    fail(error, path + ": bad lock line");
    return false;
  }
  std::vector<uint8_t> flash, eeprom;
  std::string reason;
  if (!readHexBlock(in, "flash", flash_.size(), &flash, &reason) ||
      !readHexBlock(in, "eeprom", eeprom_.size(), &eeprom, &reason)) {
    fail(error, path + ": " + reason);
    return false;
  }
  // Only a file read to the end changes the chip.
  flash_ = std::move(flash);
  eeprom_ = std::move(eeprom);
  fuseLow_ = low;
  fuseHigh_ = high;
  fuseExtended_ = part_.hasExtendedFuse ? extended : 0xFF;
  lock_ = lock | 0xC0;
  return true;
}
