#include "catalogue/parts_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "catalogue/avr_libc_parts.h"

namespace {

// The largest flash the programs' memory images hold, and the EEPROM address
// room of the ISP instructions.
constexpr long kMaxFlashBytes = 0x40000;
constexpr long kMaxEepromBytes = 0x10000;

bool parseHexByte(const std::string& text, uint8_t* value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 2) return false;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  *value = static_cast<uint8_t>(std::strtoul(digits.c_str(), nullptr, 16));
  return true;
}

// Decimal, or hexadecimal after 0x: a leading zero is no octal prefix here, as
// sizes are copied from datasheets with their digits padded ("01024").
bool parseNumber(const std::string& text, long max, long* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  const bool hexadecimal = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hexadecimal ? 2 : 0);
  if (!std::isxdigit(static_cast<unsigned char>(*digits))) return false;
  errno = 0;
  char* end = nullptr;
  long parsed = std::strtol(digits, &end, hexadecimal ? 16 : 10);
  if (errno != 0 || *end != '\0' || parsed < 0 || parsed > max) return false;
  *value = parsed;
  return true;
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() >= sizeof(PartRecord{}.name)) return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '/' && c != '_' && c != '-' && c != '.' && c != '+') {
      return false;
    }
  }
  return true;
}

// A field as it may be shown on a terminal: a control character or a byte
// outside ASCII is written as \xNN, so a line cannot move the cursor or
// change the terminal.
std::string shown(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

bool powerOfTwo(long value) {
  return value > 0 && (value & (value - 1)) == 0;
}

// Parses one line's fields; the fault in words, or "" when the line is good.
std::string parseFields(const std::vector<std::string>& fields, PartRecord* part) {
  size_t at = 0;
  auto next = [&]() -> const std::string* { return at < fields.size() ? &fields[at++] : nullptr; };
  const std::string* name = next();
  if (!validName(*name)) {
    return "the name '" + shown(*name) +
           "' is not one word of at most 63 letters, digits, '/', '_', "
           "'-', '.' or '+'";
  }
  std::strncpy(part->name, name->c_str(), sizeof part->name - 1);
  part->signatureLength = 3;

  const std::string* signature = next();
  if (signature == nullptr) return "the signature is missing";
  std::string joined = *signature;
  if (joined.size() > 2 && joined[0] == '0' && (joined[1] == 'x' || joined[1] == 'X')) {
    joined = joined.substr(2);
  }
  if (joined.size() == 6) {
    for (int i = 0; i < 3; ++i) {
      if (!parseHexByte(joined.substr(static_cast<size_t>(i) * 2, 2), &part->signature[i])) {
        return "the signature '" + shown(*signature) + "' is not three hexadecimal bytes";
      }
    }
  } else {
    if (!parseHexByte(*signature, &part->signature[0])) {
      return "the signature '" + shown(*signature) + "' is not three hexadecimal bytes";
    }
    for (int i = 1; i < 3; ++i) {
      const std::string* byte = next();
      if (byte == nullptr || !parseHexByte(*byte, &part->signature[i])) {
        return "the signature is not three hexadecimal bytes";
      }
    }
  }

  long flash = 0, pageWords = 0, eeprom = 0, fuseCount = 0;
  const std::string* field = next();
  if (field == nullptr) return "the flash size is missing";
  if (!parseNumber(*field, kMaxFlashBytes, &flash) || flash == 0) {
    return "the flash size '" + shown(*field) + "' is not a byte count from 1 to 262144";
  }
  field = next();
  if (field == nullptr) return "the flash page size is missing";
  if (!parseNumber(*field, 256, &pageWords) || !powerOfTwo(pageWords)) {
    return "the flash page size '" + shown(*field) + "' is not a power of two from 1 to 256 words";
  }
  if (flash % (pageWords * 2) != 0) {
    return "the flash size " + std::to_string(flash) + " is not a whole number of " +
           std::to_string(pageWords) + "-word pages";
  }
  field = next();
  if (field == nullptr) return "the EEPROM size is missing";
  if (!parseNumber(*field, kMaxEepromBytes, &eeprom)) {
    return "the EEPROM size '" + shown(*field) + "' is not a byte count from 0 to 65536";
  }
  field = next();
  if (field == nullptr) return "the number of fuse bytes is missing";
  if (!parseNumber(*field, 3, &fuseCount) || fuseCount < 1) {
    return "the number of fuse bytes '" + shown(*field) + "' is not 1, 2 or 3";
  }
  part->flashBytes = static_cast<int32_t>(flash);
  part->flashPageWords = static_cast<int32_t>(pageWords);
  part->eepromBytes = static_cast<int32_t>(eeprom);
  part->eepromPageBytes = 4;
  part->fuseCount = static_cast<int32_t>(fuseCount);
  std::memset(part->defaultFuses, 0xFF, sizeof part->defaultFuses);

  field = next();
  if (field == nullptr) return "the default fuses (or '-') are missing";
  if (*field == "-") {
    part->noDefaultFuses = true;
  } else {
    // Given low first; kept extended, high, low.
    const int positions[3] = {kLowFuseByte, kHighFuseByte, kExtendedFuseByte};
    for (long i = 0; i < fuseCount; ++i) {
      if (i > 0) field = next();
      if (field == nullptr) {
        return "the part has " + std::to_string(fuseCount) + " fuse bytes but gives " +
               std::to_string(i) + " defaults";
      }
      if (!parseHexByte(*field, &part->defaultFuses[positions[i]])) {
        return "the default fuse '" + shown(*field) + "' is not a hexadecimal byte";
      }
    }
  }
  if (at < fields.size()) return "'" + shown(fields[at]) + "' follows the last field";
  part->origin = PartOrigin::kPartsFile;
  return "";
}

}  // namespace

std::vector<PartsFileLine> parsePartsText(const std::string& text) {
  std::vector<PartsFileLine> lines;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::vector<std::string> fields;
    std::string word;
    while (words >> word) fields.push_back(word);
    if (fields.empty()) continue;
    PartsFileLine entry;
    entry.lineNumber = number;
    if (fields.size() > 1 && fields.back() == kOverrideWord) {
      entry.override = true;
      fields.pop_back();
    }
    entry.fault = parseFields(fields, &entry.part);
    lines.push_back(entry);
  }
  return lines;
}

namespace {

std::string signatureText(const uint8_t* signature) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X", signature[0], signature[1], signature[2]);
  return text;
}

bool sameMemory(const PartRecord& a, const PartRecord& b) {
  return a.flashBytes == b.flashBytes && a.flashPageWords == b.flashPageWords &&
         a.eepromBytes == b.eepromBytes;
}

std::string lowerCase(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

int addPartsText(PartCatalogue& catalogue, const std::string& path, const std::string& text,
                 std::vector<std::string>* messages) {
  int taken = 0;
  char where[32];
  // Each name's first line and signature: one name cannot stand for two chips.
  std::map<std::string, const PartsFileLine*> named;
  const std::vector<PartsFileLine> lines = parsePartsText(text);
  for (const PartsFileLine& line : lines) {
    std::snprintf(where, sizeof where, " line %d: ", line.lineNumber);
    if (!line.fault.empty()) {
      messages->push_back(path + where + line.fault + " - line skipped");
      continue;
    }
    const std::string signature = signatureText(line.part.signature);
    auto first = named.emplace(lowerCase(line.part.name), &line).first->second;
    if (std::memcmp(first->part.signature, line.part.signature, 3) != 0) {
      messages->push_back(path + where + line.part.name + " is line " +
                          std::to_string(first->lineNumber) + "'s name already, for " +
                          signatureText(first->part.signature) + ", not " + signature +
                          " - line skipped");
      continue;
    }
    int row = findPartBySignature(catalogue, line.part.signature);
    if (row >= 0) {
      PartRecord& old = catalogue.rows[static_cast<size_t>(row)];
      const bool builtIn = old.origin == PartOrigin::kBuiltIn;
      // A line may rename a chip the program knows and give its defaults; its
      // memory comes from the datasheet, and a wrong page size misprograms
      // every page, so changing it takes a word that says it is meant.
      if (builtIn && !line.override && !sameMemory(old, line.part)) {
        messages->push_back(
            path + where + line.part.name + " changes the memory of the built-in " + old.name +
            " (" + signature + ": flash " + std::to_string(old.flashBytes) + " bytes, " +
            std::to_string(old.flashPageWords) + "-word pages, EEPROM " +
            std::to_string(old.eepromBytes) + " bytes) - line skipped; end the line with '" +
            kOverrideWord + "' to mean it");
        continue;
      }
      messages->push_back(path + where + line.part.name + " replaces " +
                          (builtIn ? "the built-in " : "") + old.name + " (" + signature +
                          ") for this run");
      PartRecord replacement = line.part;
      if (builtIn) {
        // The datasheet's programming times stay the chip's whatever its name.
        replacement.hasPollReady = old.hasPollReady;
        replacement.eraseWaitMicros = old.eraseWaitMicros;
        replacement.flashWaitMicros = old.flashWaitMicros;
        replacement.eepromWaitMicros = old.eepromWaitMicros;
        replacement.fuseWaitMicros = old.fuseWaitMicros;
      }
      old = replacement;
    } else if (catalogue.partCount >= kMaxCatalogueRows) {
      messages->push_back(path + where + "the part table is full - line skipped");
      continue;
    } else {
      catalogue.rows[static_cast<size_t>(catalogue.partCount++)] = line.part;
    }
    ++taken;
  }
  return taken;
}
