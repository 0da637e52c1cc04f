#pragma once
// One supported AVR part and the table the programs identify targets against.

#include <array>
#include <cstdint>

struct PartRecord {
  char name[32];
  int32_t signatureLength;
  uint8_t signature[3];
  int32_t fuseCount;
  // Byte 0 extended, byte 1 high, byte 2 low; byte 3 is never read. The
  // two-fuse ATmega32 row (row 1) holds high in byte 0 and low in byte 1.
  uint8_t defaultFuses[4];
  int32_t flashPageWords;
  int32_t eepromPageBytes;
  int32_t flashBytes;
  int32_t eepromBytes;
};

constexpr int kCatalogueRows = 13;
// Rows that flows test for by position.
constexpr int kTwoFuseRow = 1;    // ATmega32
constexpr int kFixedWaitRow = 6;  // ATmega644P, waited for instead of polled by pellory

struct PartCatalogue {
  std::array<PartRecord, kCatalogueRows> rows{};
  int partCount = 0;
};

// The rows each deliverable carries (they differ in rows 5, 6 and 10 to 12).
using PartRows = std::array<PartRecord, kCatalogueRows>;
const PartRows& korvoPartRows();
const PartRows& marlowPartRows();

// Writes rows 0 to 12 from the given table; returns the row count, 13.
int fillPartCatalogue(PartCatalogue& catalogue, const PartRows& rows);

// Index of the first row whose three signature bytes equal `signature`, or -1.
int findPartBySignature(const PartCatalogue& catalogue, const uint8_t signature[3]);
