// The part tables both programs identify targets against.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "catalogue/part_record.h"

namespace {

struct Geometry {
  const char* name;
  int32_t flashBytes;
  int32_t pageWords;
  int32_t eepromBytes;
};

// Flash, page and EEPROM sizes as the parts' datasheets give them.
const Geometry kDatasheets[] = {
    {"ATmega16", 16384, 64, 512},       {"ATmega32", 32768, 64, 1024},
    {"ATmega48", 4096, 32, 256},        {"ATmega88", 8192, 32, 512},
    {"ATmega168", 16384, 64, 512},      {"ATmega644", 65536, 128, 2048},
    {"ATmega644P", 65536, 128, 2048},   {"ATmega128", 131072, 128, 4096},
    {"ATmega1280", 131072, 128, 4096},  {"ATmega1281", 131072, 128, 4096},
    {"ATmega1284P", 131072, 128, 4096}, {"ATmega2560", 262144, 128, 4096},
    {"ATmega2561", 262144, 128, 4096},  {"AT90USB162", 16384, 64, 512},
};

const Geometry* datasheetFor(const char* name) {
  for (const Geometry& g : kDatasheets) {
    if (std::strcmp(g.name, name) == 0) return &g;
  }
  return nullptr;
}

PartCatalogue filled(const PartRows& rows) {
  PartCatalogue catalogue;
  EXPECT_EQ(fillPartCatalogue(catalogue, rows), 13);
  return catalogue;
}

int lookup(const PartCatalogue& catalogue, uint8_t a, uint8_t b, uint8_t c) {
  const uint8_t signature[3] = {a, b, c};
  return findPartBySignature(catalogue, signature);
}

class BothCatalogues : public ::testing::TestWithParam<const PartRows* (*)()> {};

const PartRows* korvo() {
  return &korvoPartRows();
}
const PartRows* marlow() {
  return &marlowPartRows();
}

TEST_P(BothCatalogues, RowsAgreeWithTheDatasheetsAndHaveUniqueSignatures) {
  PartCatalogue catalogue = filled(*GetParam()());
  std::set<std::string> signatures;
  for (int i = 0; i < catalogue.partCount; ++i) {
    const PartRecord& row = catalogue.rows[static_cast<size_t>(i)];
    SCOPED_TRACE(row.name);
    const Geometry* expected = datasheetFor(row.name);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(row.flashBytes, expected->flashBytes);
    EXPECT_EQ(row.flashPageWords, expected->pageWords);
    EXPECT_EQ(row.eepromBytes, expected->eepromBytes);
    EXPECT_EQ(row.signatureLength, 3);
    EXPECT_EQ(row.defaultFuses[3], 0xFF);
    EXPECT_EQ(row.fuseCount, i == kTwoFuseRow ? 2 : 3);
    EXPECT_EQ(row.signature[0], 0x1E);
    std::string key(reinterpret_cast<const char*>(row.signature), 3);
    EXPECT_TRUE(signatures.insert(key).second) << "duplicate signature";
    // Every row must be found by its own signature, at its own position.
    EXPECT_EQ(lookup(catalogue, row.signature[0], row.signature[1], row.signature[2]), i);
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, BothCatalogues, ::testing::Values(korvo, marlow));

TEST(Catalogue, RowsStandInTheirFixedOrder) {
  // Flows test rows 1 (two fuses) and 6 (fixed write wait) by position.
  const char* const shared[] = {"ATmega16",  "ATmega32",   "ATmega48",  "ATmega88",   "ATmega168",
                                "ATmega644", "ATmega644P", "ATmega128", "ATmega1280", "ATmega1281"};
  PartCatalogue tarnwick = filled(korvoPartRows());
  PartCatalogue pellory = filled(marlowPartRows());
  for (int i = 0; i < 10; ++i) {
    EXPECT_STREQ(tarnwick.rows[static_cast<size_t>(i)].name, shared[i]);
    EXPECT_STREQ(pellory.rows[static_cast<size_t>(i)].name, shared[i]);
  }
  EXPECT_STREQ(tarnwick.rows[10].name, "ATmega1284P");
  EXPECT_STREQ(tarnwick.rows[11].name, "ATmega2560");
  EXPECT_STREQ(tarnwick.rows[12].name, "ATmega2561");
  EXPECT_STREQ(pellory.rows[10].name, "ATmega2560");
  EXPECT_STREQ(pellory.rows[11].name, "ATmega2561");
  EXPECT_STREQ(pellory.rows[12].name, "AT90USB162");
}

TEST(Catalogue, DefaultFusesDifferOnlyWhereTheProgramsDisagree) {
  const PartRows& k = korvoPartRows();
  const PartRows& m = marlowPartRows();
  const uint8_t k644[4] = {0xFF, 0xD9, 0xEE, 0xFF};
  const uint8_t k644p[4] = {0xFF, 0xD9, 0xE7, 0xFF};
  const uint8_t m644[4] = {0xFF, 0xD9, 0xE2, 0xFF};
  EXPECT_EQ(std::memcmp(k[5].defaultFuses, k644, 4), 0);
  EXPECT_EQ(std::memcmp(k[6].defaultFuses, k644p, 4), 0);
  EXPECT_EQ(std::memcmp(m[5].defaultFuses, m644, 4), 0);
  EXPECT_EQ(std::memcmp(m[6].defaultFuses, m644, 4), 0);
  for (size_t i : {0u, 1u, 2u, 3u, 4u, 7u, 8u, 9u}) {
    SCOPED_TRACE(k[i].name);
    EXPECT_STREQ(k[i].name, m[i].name);
    EXPECT_EQ(std::memcmp(k[i].signature, m[i].signature, 3), 0);
    EXPECT_EQ(std::memcmp(k[i].defaultFuses, m[i].defaultFuses, 4), 0);
    EXPECT_EQ(k[i].fuseCount, m[i].fuseCount);
    EXPECT_EQ(k[i].eepromPageBytes, m[i].eepromPageBytes);
  }
  const uint8_t atmega32[4] = {0xD9, 0xE4, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(k[1].defaultFuses, atmega32, 4), 0);
}

TEST(Catalogue, LookupMatchesAllThreeBytes) {
  PartCatalogue tarnwick = filled(korvoPartRows());
  PartCatalogue pellory = filled(marlowPartRows());
  EXPECT_EQ(lookup(tarnwick, 0xFF, 0xFF, 0xFF), -1);
  EXPECT_EQ(lookup(tarnwick, 0x00, 0x00, 0x00), -1);
  EXPECT_EQ(lookup(tarnwick, 0x1E, 0x94, 0x03), 0);
  EXPECT_EQ(lookup(tarnwick, 0x1E, 0x94, 0x06), 4);
  EXPECT_EQ(lookup(tarnwick, 0x1E, 0x97, 0x05), 10);
  EXPECT_EQ(lookup(tarnwick, 0x1E, 0x94, 0x82), -1);
  EXPECT_EQ(lookup(pellory, 0x1E, 0x97, 0x05), -1);
  EXPECT_EQ(lookup(pellory, 0x1E, 0x94, 0x82), 12);
  EXPECT_EQ(lookup(pellory, 0x1E, 0x95, 0x0F), -1);  // ATmega328P is in neither table
}

TEST(Catalogue, EmptyUntilFilled) {
  PartCatalogue catalogue;
  EXPECT_EQ(catalogue.partCount, 0);
  EXPECT_EQ(lookup(catalogue, 0x1E, 0x94, 0x03), -1);
}

}  // namespace
