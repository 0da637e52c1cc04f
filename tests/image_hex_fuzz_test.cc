// Thousands of random and damaged HEX texts through the reader: it must stay in
// its buffers (this runs under AddressSanitizer) and keep its results sane.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>

#include "image/hex_reader.h"
#include "image/hex_writer.h"
#include "tests/support/hex_mutator.h"

namespace {

TEST(HexReaderFuzz, DamagedTextsLoadWithinBoundsAndRepeatably) {
  std::mt19937 random(7);
  auto first = std::make_unique<ImageBuffer>();
  auto second = std::make_unique<ImageBuffer>();
  for (int round = 0; round < 3000; ++round) {
    std::string text = randomHexText(random);
    if (round % 4 != 0) text = mutateHexText(text, random);
    std::istringstream stream(text), again(text);
    HexLoadResult result = loadHexRecords(stream, *first, 0xFF);
    ASSERT_GE(result.loadLength, 0) << text;
    ASSERT_LE(result.loadLength, kImageBytes) << text;
    ASSERT_GE(result.bytesBeyondEnd, 0);
    ASSERT_GE(result.malformedRecords, 0);
    ASSERT_GE(result.badChecksums, 0);
    // Nothing may depend on what the buffer held before.
    second->fill(0x00);
    HexLoadResult repeated = loadHexRecords(again, *second, 0xFF);
    ASSERT_EQ(repeated.loadLength, result.loadLength);
    ASSERT_TRUE(*first == *second) << text;
  }
}

TEST(HexReaderFuzz, WrittenImagesOfAnyLengthLoadBackExactly) {
  std::mt19937 random(11);
  auto saved = std::make_unique<ImageBuffer>();
  auto loaded = std::make_unique<ImageBuffer>();
  for (int round = 0; round < 200; ++round) {
    const int32_t n = std::uniform_int_distribution<int32_t>(0, kImageBytes)(random);
    saved->fill(0xFF);
    for (int32_t i = 0; i < n; ++i) (*saved)[i] = static_cast<uint8_t>(random());
    std::stringstream text;
    ASSERT_TRUE(writeHexRecords(text, *saved, n, round % 2 == 0 ? 4 : 2));
    HexLoadResult result = loadHexRecords(text, *loaded, 0xFF);
    ASSERT_EQ(result.loadLength, n);
    ASSERT_EQ(result.bytesBeyondEnd + result.malformedRecords + result.badChecksums, 0);
    ASSERT_TRUE(*loaded == *saved) << "n = " << n;
  }
}

}  // namespace
