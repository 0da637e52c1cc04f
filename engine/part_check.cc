#include "engine/part_check.h"

#include <cstdio>
#include <cstring>

#include "catalogue/part_record.h"
#include "image/elf_part.h"
#include "run/session.h"
#include "run/text_util.h"

namespace {

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && prefixEqualsIgnoreCase(a, b, a.size());
}

// The name of a row as the file knows it: rows shared by several parts join
// their names ("ATmega8/ATmega8A"), and the one the file was built for is
// the one to name.
std::string nameInRow(const char* rowName, const std::string& wanted) {
  const std::string joined = rowName;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string one = joined.substr(start, end - start);
    if (sameName(one, wanted)) return one;
    start = end + 1;
  }
  return joined;
}

std::string described(const std::string& name, bool known, const uint8_t signature[3]) {
  if (!known) return name;
  char text[16];
  std::snprintf(text, sizeof text, " (%02X %02X %02X)", signature[0], signature[1], signature[2]);
  return name + text;
}

}  // namespace

bool fileSuitsTarget(Session& session, const std::string& fileName, const ElfPart& elf) {
  const PartRecord* target = session.currentPart();
  if (!elf.namesPart() || target == nullptr) return true;
  const PartCatalogue& catalogue = session.catalogue;

  // The signature section is what the chip itself will say; the note's name
  // is looked up for one when the program did not include it.
  uint8_t signature[3] = {0, 0, 0};
  bool known = elf.hasSignature;
  std::string name = elf.deviceName;
  const int byName = name.empty() ? -1 : findPartByName(catalogue, name.c_str());
  if (elf.hasSignature) {
    std::memcpy(signature, elf.signature, sizeof signature);
  } else if (byName >= 0) {
    std::memcpy(signature, catalogue.rows[static_cast<size_t>(byName)].signature, 3);
    known = true;
  }
  if (byName >= 0) {
    name = nameInRow(catalogue.rows[static_cast<size_t>(byName)].name, name);
  } else if (name.empty()) {
    const int bySignature = findPartBySignature(catalogue, signature);
    name = bySignature >= 0 ? catalogue.rows[static_cast<size_t>(bySignature)].name
                            : "an unknown part";
  }

  const uint8_t* actual = session.target.signature;
  const bool same = known ? std::memcmp(signature, actual, 3) == 0
                          : sameName(nameInRow(target->name, name), name);
  if (same) return true;
  const std::string file = described(name, known, signature);
  const std::string chip = described(target->name, true, actual);
  if (session.forcePart) {
    session.console.print("Note: %s was built for %s; programming the %s all the same\n",
                          fileName.c_str(), file.c_str(), target->name);
    return true;
  }
  session.console.print("%s was built for %s; the target is %s - nothing programmed\n",
                        fileName.c_str(), file.c_str(), chip.c_str());
  return false;
}

bool checkElfBeforeErase(Session& session, const std::string& fileName, const ElfPart& elf) {
  if (!fileSuitsTarget(session, fileName, elf)) return false;
  if (session.wholeChipDownload || (elf.fuseCount == 0 && !elf.hasLock)) return true;
  const char* fuse = elf.fuseCount > 0 ? ".fuse" : "";
  const char* lock = elf.hasLock ? ".lock" : "";
  session.console.print("Note: %s%s%s of %s not written (dc%s writes them after the flash)\n", fuse,
                        *fuse != '\0' && *lock != '\0' ? " and " : "", lock, fileName.c_str(),
                        fileName.c_str());
  return true;
}
