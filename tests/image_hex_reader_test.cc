// Loading HEX texts: the record rules, line ends, and what happens to records
// that are malformed, oversized or beyond the end of the image.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image/download_file.h"
#include "image/hex_reader.h"
#include "run/console.h"
#include "tests/support/temp_dir.h"

namespace {

struct Loaded {
  HexLoadResult result;
  std::unique_ptr<ImageBuffer> image = std::make_unique<ImageBuffer>();
};

Loaded load(const std::string& text, uint8_t fill = 0xFF) {
  Loaded loaded;
  loaded.image->fill(0x5A);  // whatever the last load left
  std::istringstream stream(text);
  loaded.result = loadHexRecords(stream, *loaded.image, fill);
  return loaded;
}

std::string join(const std::vector<std::string>& records, const std::string& lineEnd) {
  std::string text;
  for (const auto& record : records) text += record + lineEnd;
  return text;
}

// Every byte in [from, to) holds value.
bool holds(const ImageBuffer& image, int32_t from, int32_t to, uint8_t value) {
  for (int32_t i = from; i < to; ++i) {
    if (image[i] != value) return false;
  }
  return true;
}

const std::string kEnd = ":00000001FF";
const std::string kRecordAt10 = ":0400100001020304E2";

class EveryLineEnd : public ::testing::TestWithParam<std::string> {
 protected:
  Loaded loadRecords(const std::vector<std::string>& records, uint8_t fill = 0xFF) {
    return load(join(records, GetParam()), fill);
  }
};

TEST_P(EveryLineEnd, EmptyOrRecordlessTextLeavesOnlyFill) {
  for (const std::string& text : {std::string(), "no records here" + GetParam() + "at all"}) {
    Loaded loaded = load(text, 0x00);
    EXPECT_EQ(loaded.result.loadLength, 0);
    EXPECT_EQ(loaded.result.records, 0);
    EXPECT_TRUE(holds(*loaded.image, 0, kImageBytes, 0x00));
  }
  // The end record alone is a HEX file: an erased chip's upload.
  EXPECT_EQ(load(kEnd + GetParam()).result.records, 1);
}

TEST_P(EveryLineEnd, OneRecordLandsAtItsAddressAndSetsTheLength) {
  Loaded loaded = loadRecords({kRecordAt10, kEnd}, 0xA5);
  EXPECT_EQ(loaded.result.loadLength, 0x14);
  EXPECT_TRUE(holds(*loaded.image, 0, 0x10, 0xA5));
  EXPECT_EQ((*loaded.image)[0x10], 1);
  EXPECT_EQ((*loaded.image)[0x13], 4);
  EXPECT_TRUE(holds(*loaded.image, 0x14, kImageBytes, 0xA5));
  EXPECT_EQ(loaded.result.badChecksums, 0);

  // A wrong checksum still loads, and is counted.
  Loaded edited = loadRecords({":0400100001020304E3", kEnd}, 0xA5);
  EXPECT_EQ(edited.result.loadLength, 0x14);
  EXPECT_EQ(*edited.image, *loaded.image);
  EXPECT_EQ(edited.result.badChecksums, 1);
}

TEST_P(EveryLineEnd, ExtendedAddressesOfBothKindsReachTheSecondBlock) {
  for (const char* extension : {":020000040001F9", ":020000021000EC"}) {
    Loaded loaded = loadRecords({extension, ":02000000ABCD86", kEnd});
    EXPECT_EQ(loaded.result.loadLength, 0x10002) << extension;
    EXPECT_EQ((*loaded.image)[0x10000], 0xAB);
    EXPECT_EQ((*loaded.image)[0x10001], 0xCD);
    EXPECT_TRUE(holds(*loaded.image, 0, 0x10000, 0xFF));
  }
}

TEST_P(EveryLineEnd, LengthIsTheHighestAddressLoadedInAnyRecordOrder) {
  // Descending addresses: the last record in the file is the lowest.
  Loaded descending = loadRecords({":020100001122CA", kRecordAt10, kEnd});
  EXPECT_EQ(descending.result.loadLength, 0x102);
  EXPECT_EQ((*descending.image)[0x100], 0x11);
  EXPECT_EQ((*descending.image)[0x101], 0x22);
  EXPECT_EQ((*descending.image)[0x13], 4);
  EXPECT_EQ(descending.result.dataAfterEnd, 0);

  // Two files joined: a boot loader high up, then an application at 0. The
  // second file's records, after the first one's end record, load too.
  Loaded joined =
      loadRecords({":020000040001F9", ":02F00000AA550F", kEnd, ":020000040000FA", kRecordAt10, kEnd});
  EXPECT_EQ(joined.result.loadLength, 0x1F002);
  EXPECT_EQ((*joined.image)[0x1F000], 0xAA);
  EXPECT_EQ((*joined.image)[0x13], 4);
  EXPECT_EQ(joined.result.dataAfterEnd, 1);
  EXPECT_EQ(joined.result.firstBadLine, 0);

  // An empty data record loads nothing, wherever it points.
  for (const char* empty : {":0000000000", ":00FFF00011"}) {
    Loaded trailing = loadRecords({kRecordAt10, empty, kEnd});
    EXPECT_EQ(trailing.result.loadLength, 0x14) << empty;
    EXPECT_EQ(trailing.result.firstBadLine, 0) << empty;
  }
}

TEST_P(EveryLineEnd, TheFirstDamagedRecordIsFoundByItsLine) {
  const std::vector<std::string> sound = {":020000040000FA", kRecordAt10, ":0200500055AAAF", kEnd};
  EXPECT_EQ(loadRecords(sound).result.firstBadLine, 0);
  // Damage in each record in turn, then in two: the first one counts.
  const std::vector<std::string> damagedCopies[] = {
      {":020000040000FB", kRecordAt10, ":0200500055AAAF", kEnd},
      {":020000040000FA", ":0400100001020304E3", ":0200500055AAAF", kEnd},
      {":020000040000FA", kRecordAt10, ":0200500055AAAF", ":00000001FE"},
      {":020000040000FA", kRecordAt10, ":0200500055AA", kEnd},
      {":020000040000FA", kRecordAt10, ":0200500055AAAE", ":00000001FE"},
  };
  const int32_t expectedLines[] = {1, 2, 4, 3, 3};
  for (size_t i = 0; i < 5; ++i) {
    Loaded damaged = loadRecords(damagedCopies[i]);
    // Records run together without line ends all stand on line 1.
    EXPECT_EQ(damaged.result.firstBadLine, GetParam().empty() ? 1 : expectedLines[i]) << i;
    EXPECT_GT(damaged.result.malformedRecords + damaged.result.badChecksums, 0) << i;
  }
  // Cut inside the last record, as an interrupted copy leaves a file; and
  // with the line breaks of every kind, blank lines between records count.
  Loaded cut = load(join({kRecordAt10, "", ":0200500055"}, GetParam()));
  EXPECT_EQ(cut.result.malformedRecords, 1);
  EXPECT_EQ(cut.result.firstBadLine, GetParam().empty() ? 1 : 3);
}

// Every line that looks like a record must check out, whatever its type;
// lines people really have (blank, text, trailing blanks, no final line end)
// do not make a file damaged.
TEST(HexReader, LinesThatLookLikeRecordsMustCheckOut) {
  const struct {
    std::string text;
    int32_t badLine;
  } cases[] = {
      {":0400100801020304E2\n:00000001FF\n", 1},          // type 00 became 08
      {":00000001FF\n0400100001020304E2\n", 2},           // lost its ':'
      {"\r\n  0400100001020304E2  \r\n", 2},              // the same between blanks
      {":0400000500000100F6\n0400100001020304E2", 2},     // last line, no line end
      {":0400000300001234B3\n:0400000500000100F6\n", 0},  // start addresses
      {":0400000300001234B4\n", 1},                       // one with a bad sum
      {":04000003000012\n", 1},                           // one cut short
      {"\n\n" + std::string(kRecordAt10) + " \t\r\n\n:00000001FF", 0},
      {"made by hand\n" + std::string(kRecordAt10) + "\n; 1234\n", 0},
      {"DE AD BE EF 00 11\n1234ABCD\n", 0},  // not records
  };
  for (const auto& c : cases) {
    EXPECT_EQ(load(c.text).result.firstBadLine, c.badLine) << c.text;
  }
}

TEST_P(EveryLineEnd, MalformedRecordsStoreNothingAndKeepTheLength) {
  Loaded loaded = loadRecords({
      kRecordAt10,
      ":0400200001020G04D2",  // not a hex digit in the data
      ":04003X0001020304D2",  // nor in the load offset
      ":04004000010203",      // cut short, the next record's ':' follows
      ":0200000400",          // extension cut short: the block stays 0
      ":0200500055AAAF",
  });
  EXPECT_EQ(loaded.result.malformedRecords, 4);
  EXPECT_EQ(loaded.result.loadLength, 0x52);
  EXPECT_EQ((*loaded.image)[0x50], 0x55);
  EXPECT_TRUE(holds(*loaded.image, 0x14, 0x50, 0xFF));

  // Cut by the end of the text.
  Loaded cut = load(join({kRecordAt10}, GetParam()) + ":0400400001020304");
  EXPECT_EQ(cut.result.malformedRecords, 1);
  EXPECT_EQ(cut.result.loadLength, 0x14);
  EXPECT_TRUE(holds(*cut.image, 0x14, kImageBytes, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(HexReader, EveryLineEnd, ::testing::Values("\n", "\r\n", ""));

std::string dataRecord(int count, int offset, uint8_t first) {
  static const char digits[] = "0123456789ABCDEF";
  std::string record = ":";
  uint8_t sum = 0;
  auto add = [&](uint8_t value) {
    record += digits[value >> 4];
    record += digits[value & 15];
    sum = static_cast<uint8_t>(sum + value);
  };
  for (uint8_t value : {uint8_t(count), uint8_t(offset >> 8), uint8_t(offset), uint8_t(0)}) {
    add(value);
  }
  for (int i = 0; i < count; ++i) add(static_cast<uint8_t>(first + i));
  add(static_cast<uint8_t>(-sum));
  return record;
}

TEST(HexReader, LongRecordsLoadWholeAndRunOnPastTheBlockEnd) {
  Loaded loaded = load(dataRecord(255, 0xFF80, 0) + "\n" + kEnd);
  EXPECT_EQ(loaded.result.loadLength, 0xFF80 + 255);
  EXPECT_EQ(loaded.result.badChecksums, 0);
  for (int i = 0; i < 255; ++i) ASSERT_EQ((*loaded.image)[0xFF80 + i], i);
  EXPECT_EQ((*loaded.image)[0xFF80 + 255], 0xFF);
}

TEST(HexReader, BytesBeyondTheImageAreCountedNotStored) {
  // 0x58DE0 is the image size; the record straddles its end.
  Loaded loaded = load(":020000040005F5\n" + dataRecord(16, 0x8DD8, 1) + "\n" +
                       ":02000004FFFFFC\n" + dataRecord(255, 0xFFFF, 0) + "\n");
  EXPECT_EQ(loaded.result.bytesBeyondEnd, 8 + 255);
  EXPECT_EQ(loaded.result.loadLength, kImageBytes);
  EXPECT_EQ((*loaded.image)[kImageBytes - 1], 8);
  EXPECT_EQ((*loaded.image)[kImageBytes - 8], 1);
}

TEST(HexReader, AnEndRecordWithACountIsNoChecksumError) {
  Loaded loaded = load(":02000001AABB98\n" + kRecordAt10 + "\n");
  EXPECT_EQ(loaded.result.badChecksums, 0);
  EXPECT_EQ(loaded.result.malformedRecords, 0);
  EXPECT_EQ(loaded.result.records, 2);
  EXPECT_EQ(loaded.result.loadLength, 0x14);
}

// A read error of the stream (here a directory) ends the text; it must not
// escape as an exception.
TEST(HexReader, AnUnreadableStreamLoadsNothing) {
  auto image = std::make_unique<ImageBuffer>();
  std::ifstream folder("/", std::ios::binary);
  HexLoadResult result{};
  EXPECT_NO_THROW(result = loadHexRecords(folder, *image, 0xFF));
  EXPECT_EQ(result.records, 0);
}

TEST(HexReader, WarningsFollowTheLoadOnePerKindOfTrouble) {
  ScriptedConsole console;
  auto image = std::make_unique<ImageBuffer>();
  std::istringstream clean(kRecordAt10 + "\n" + kEnd + "\n");
  EXPECT_EQ(readHexFile(clean, *image, 0xFF, console), 0x14);
  EXPECT_EQ(console.output(), "");

  std::istringstream troubled(":020000040005F5\n" + dataRecord(16, 0x8DE0, 0) + "\n" +
                              ":0400100001020304E3\n:04001\n:0300300002337A1F\n");
  EXPECT_EQ(readHexFile(troubled, *image, 0xFF, console), 0x50033);
  EXPECT_EQ(console.output(),
            "Warning: 16 bytes beyond the end of the memory image were ignored\n"
            "Warning: 1 malformed HEX records were skipped\n"
            "Warning: 2 HEX records have bad checksums\n");
}

// What a download makes of a HEX file before anything is sent: a damaged one
// is refused with the warnings and one line naming it and its first damaged
// line; a joined one loads whole, with a note.
TEST(DownloadFile, DamagedHexIsRefusedAndJoinedHexIsNoted) {
  TempDir dir;
  writeFile(dir.file("bad.hex"), kRecordAt10 + "\n:0200500055AAAE\n" + kEnd + "\n");
  writeFile(dir.file("both.hex"), ":020100001122CA\n" + kEnd + "\n" + kRecordAt10 + "\n" + kEnd);
  ScriptedConsole console;
  auto image = std::make_unique<ImageBuffer>();
  DownloadLoad bad = loadDownloadFile(dir.file("bad.hex"), ImageMemory::kFlash, *image, 0xFF,
                                      console);
  EXPECT_EQ(bad.outcome, DownloadOutcome::kRefused);
  EXPECT_EQ(console.output(), "Warning: 1 HEX records have bad checksums\nDamaged HEX record in " +
                                  dir.file("bad.hex") + " at line 2 - nothing programmed\n");

  console.clearOutput();
  DownloadLoad both = loadDownloadFile(dir.file("both.hex"), ImageMemory::kFlash, *image, 0xFF,
                                       console);
  EXPECT_EQ(both.outcome, DownloadOutcome::kLoaded);
  EXPECT_EQ(both.loadLength, 0x102);
  EXPECT_EQ(console.output(), "Note: " + dir.file("both.hex") +
                                  " goes on after its end record (joined files?); all of it is "
                                  "loaded\n");
}

}  // namespace
