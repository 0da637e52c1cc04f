// Looking up the generated rows by name or signature.

#include <cctype>

#include "catalogue/avr_libc_parts.h"

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool partNameMatches(const char* joinedName, std::string_view name) {
  if (name.empty() || joinedName == nullptr) return false;
  std::string_view joined(joinedName);
  if (sameIgnoringCase(joined, name)) return true;
  while (!joined.empty()) {
    size_t slash = joined.find('/');
    std::string_view one = joined.substr(0, slash);
    if (sameIgnoringCase(one, name)) return true;
    if (slash == std::string_view::npos) break;
    joined.remove_prefix(slash + 1);
  }
  return false;
}

const AvrLibcPart* findAvrLibcPart(std::string_view name) {
  const AvrLibcPart* parts = avrLibcParts();
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    if (partNameMatches(parts[i].name, name)) return &parts[i];
  }
  return nullptr;
}

const AvrLibcPart* findAvrLibcPartBySignature(const uint8_t signature[3]) {
  const AvrLibcPart* parts = avrLibcParts();
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    if (parts[i].signature[0] == signature[0] && parts[i].signature[1] == signature[1] &&
        parts[i].signature[2] == signature[2]) {
      return &parts[i];
    }
  }
  return nullptr;
}
