#include <cstddef>

#include "catalogue/part_record.h"

int fillPartCatalogue(PartCatalogue& catalogue, const PartRows& rows) {
  for (int i = 0; i < kCatalogueRows; ++i) {
    PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    row = rows[static_cast<size_t>(i)];
    row.name[sizeof row.name - 1] = '\0';
  }
  catalogue.partCount = kCatalogueRows;
  return catalogue.partCount;
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
