#include <cctype>
#include <cstddef>
#include <cstring>

#include "catalogue/avr_libc_parts.h"
#include "catalogue/part_record.h"

namespace {

void copyWaits(const AvrLibcPart& part, PartRecord& row) {
  row.hasPollReady = part.hasPollReady;
  row.eraseWaitMicros = part.eraseWaitMicros;
  row.flashWaitMicros = part.flashWaitMicros;
  row.eepromWaitMicros = part.eepromWaitMicros;
  row.fuseWaitMicros = part.fuseWaitMicros;
}

PartRecord recordFrom(const AvrLibcPart& part) {
  PartRecord row{};
  std::strncpy(row.name, part.name, sizeof row.name - 1);
  row.signatureLength = 3;
  std::memcpy(row.signature, part.signature, 3);
  row.fuseCount = part.fuseCount;
  std::memcpy(row.defaultFuses, part.defaultFuses, 3);
  row.defaultFuses[3] = 0xFF;
  row.flashPageWords = part.flashPageWords;
  // 0 where the datasheet has no Load/Write EEPROM Memory Page instructions,
  // or no page size is known: EEPROM is then written byte by byte.
  row.eepromPageBytes = part.eepromPageBytes;
  row.flashBytes = part.flashBytes;
  row.eepromBytes = part.eepromBytes;
  row.noDefaultFuses = !part.defaultsKnown;
  row.origin = PartOrigin::kBuiltIn;
  copyWaits(part, row);
  return row;
}

}  // namespace

int fillPartCatalogue(PartCatalogue& catalogue, const PartRows& rows) {
  for (int i = 0; i < kCatalogueRows; ++i) {
    PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    row = rows[static_cast<size_t>(i)];
    row.name[sizeof row.name - 1] = '\0';
    // The waits of rows 0 to 12 follow the datasheet facts once they give
    // any for the part; until then the row keeps its own.
    const AvrLibcPart* part = findAvrLibcPartBySignature(row.signature);
    if (part != nullptr && part->factsKnown &&
        (!part->hasPollReady || part->flashWaitMicros != 0)) {
      copyWaits(*part, row);
    }
  }
  catalogue.partCount = kCatalogueRows;
  return catalogue.partCount;
}

int addGeneratedParts(PartCatalogue& catalogue) {
  const AvrLibcPart* parts = avrLibcParts();
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    if (findPartBySignature(catalogue, parts[i].signature) >= 0) continue;
    if (catalogue.partCount >= kMaxCatalogueRows) break;
    catalogue.rows[static_cast<size_t>(catalogue.partCount++)] = recordFrom(parts[i]);
  }
  return catalogue.partCount;
}

int fillFullCatalogue(PartCatalogue& catalogue, const PartRows& rows) {
  fillPartCatalogue(catalogue, rows);
  return addGeneratedParts(catalogue);
}

int findPartBySignature(const PartCatalogue& catalogue, const uint8_t signature[3]) {
  for (int i = 0; i < catalogue.partCount; ++i) {
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    if (row.signature[0] == signature[0] && row.signature[1] == signature[1] &&
        row.signature[2] == signature[2]) {
      return i;
    }
  }
  return -1;
}

int findPartByName(const PartCatalogue& catalogue, const char* name) {
  for (int i = 0; i < catalogue.partCount; ++i) {
    if (partNameMatches(catalogue.rows[static_cast<size_t>(i)].name, name)) return i;
  }
  // A name of a generated row that rows 0 to 12 stand in for ("ATmega16A"
  // shares the ATmega16's signature): the row with that signature.
  if (const AvrLibcPart* part = findAvrLibcPart(name)) {
    return findPartBySignature(catalogue, part->signature);
  }
  return -1;
}

int partFuseCount(const PartRecord& part) {
  if (part.fuseCount < 1) return 1;
  return part.fuseCount > 3 ? 3 : part.fuseCount;
}

bool partHasFuse(const PartRecord& part, int fuseNumber) {
  return fuseNumber >= 1 && fuseNumber <= partFuseCount(part);
}

bool isHighLowDefaultsRow(const PartCatalogue& catalogue, int index) {
  return index == kTwoFuseRow && index < catalogue.partCount &&
         catalogue.rows[static_cast<size_t>(index)].origin == PartOrigin::kBuiltIn;
}

uint8_t partDefaultFuse(const PartCatalogue& catalogue, int index, int fuseNumber) {
  if (index < 0 || index >= catalogue.partCount) return 0xFF;
  const PartRecord& part = catalogue.rows[static_cast<size_t>(index)];
  if (!partHasFuse(part, fuseNumber)) return 0xFF;
  if (isHighLowDefaultsRow(catalogue, index)) {
    return fuseNumber == 2 ? part.defaultFuses[0] : part.defaultFuses[1];
  }
  switch (fuseNumber) {
    case 1:
      return part.defaultFuses[kLowFuseByte];
    case 2:
      return part.defaultFuses[kHighFuseByte];
    default:
      return part.defaultFuses[kExtendedFuseByte];
  }
}

bool partHasDefaultFuses(const PartRecord& part) {
  return !part.noDefaultFuses;
}
