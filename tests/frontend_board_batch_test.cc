// The pieces of a batch run that stand alone: the serial number's layout and
// its counter file, the record's CSV and the file digests it carries.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/board_record.h"
#include "frontend/serial_number.h"
#include "run/sha256.h"
#include "tests/support/temp_dir.h"

namespace {

struct PlanCase {
  const char* text;
  bool valid;
  uint64_t number;
  std::vector<uint8_t> bytes;  // the number's bytes on the chip, when it fits
};

const PlanCase kPlans[] = {
    {"eeprom:0x10:4", true, 0x01020304, {0x04, 0x03, 0x02, 0x01}},
    {"eeprom:16:4:be", true, 0x01020304, {0x01, 0x02, 0x03, 0x04}},
    {"FLASH:0x7FF0:2:le:bin", true, 0xFFFF, {0xFF, 0xFF}},
    {"eeprom:0:2", true, 0x10000, {}},  // one past two bytes
    {"eeprom:0:1", true, 255, {0xFF}},
    {"eeprom:0:6:ascii", true, 4711, {'0', '0', '4', '7', '1', '1'}},
    {"eeprom:0:3:ascii", true, 1000, {}},  // one past three digits
    {"eeprom:0:8", true, ~uint64_t{0}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"eeprom:0:9", false, 0, {}},
    {"eeprom:0:0", false, 0, {}},
    {"sram:0:4", false, 0, {}},
    {"eeprom:x:4", false, 0, {}},
    {"eeprom:0:4:middle", false, 0, {}},
    {"eeprom:0", false, 0, {}},
    {"eeprom:0:4:le:bin:extra", false, 0, {}},
};

TEST(SerialNumber, PlansParseAndNumbersLayOutAsTheyFit) {
  for (const PlanCase& c : kPlans) {
    SCOPED_TRACE(c.text);
    SerialPlan plan;
    std::string reason;
    ASSERT_EQ(parseSerialPlan(c.text, plan, reason), c.valid) << reason;
    if (!c.valid) {
      EXPECT_FALSE(reason.empty());
      continue;
    }
    EXPECT_EQ(serialFits(plan, c.number), !c.bytes.empty());
    if (!c.bytes.empty()) {
      EXPECT_EQ(encodeSerial(plan, c.number), c.bytes);
    }
  }
}

TEST(SerialNumber, TheCounterMovesOnBeforeANumberIsUsedAndOnlyThen) {
  TempDir dir;
  SerialPlan plan;
  std::string reason;
  ASSERT_TRUE(parseSerialPlan("eeprom:0:1", plan, reason));
  plan.counterFile = dir.file("counter");
  uint64_t number = 0;

  EXPECT_FALSE(takeSerialNumber(plan, number, reason));  // no file: no guess at a start
  writeFile(plan.counterFile, "254\n");
  ASSERT_TRUE(takeSerialNumber(plan, number, reason)) << reason;
  EXPECT_EQ(number, 254u);
  ASSERT_TRUE(takeSerialNumber(plan, number, reason)) << reason;
  EXPECT_EQ(number, 255u);
  EXPECT_EQ(readFile(plan.counterFile), "256\n");
  // 256 does not fit one byte: refused, and the file keeps it.
  EXPECT_FALSE(takeSerialNumber(plan, number, reason));
  EXPECT_NE(reason.find("does not fit"), std::string::npos) << reason;
  EXPECT_EQ(readFile(plan.counterFile), "256\n");

  for (const char* bad : {"", "12a\n", "-1\n", "0x10\n", "1 2\n"}) {
    writeFile(plan.counterFile, bad);
    EXPECT_FALSE(takeSerialNumber(plan, number, reason)) << bad;
    EXPECT_EQ(readFile(plan.counterFile), bad);
  }
}

TEST(BoardRecord, DigestsMatchTheStandardVectors) {
  const struct {
    std::string text;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    Sha256 hash;
    // In two pieces, so that a block split across updates is covered.
    const size_t half = v.text.size() / 2 + 1;
    hash.update(reinterpret_cast<const uint8_t*>(v.text.data()), std::min(half, v.text.size()));
    if (half < v.text.size()) {
      hash.update(reinterpret_cast<const uint8_t*>(v.text.data()) + half, v.text.size() - half);
    }
    EXPECT_EQ(hash.hexDigest(), v.digest) << v.text.size();
  }
}

TEST(BoardRecord, LinesAreAppendedUnderOneHeaderAndQuotedWhereNeeded) {
  TempDir dir;
  BoardOutcome board;
  board.time = "2026-12-08T22:04:47+0000";
  board.port = "/dev/ttyACM0";
  board.part = "ATmega328P";
  board.signature = "1E 95 0F";
  board.files = {"a,b.hex:00"};
  board.hasSerial = true;
  board.serial = 7;
  board.fuseCount = 2;
  board.fuses[0] = 0xE2;
  board.fuses[1] = 0xD9;
  board.failure = "Can't open \"x\"";
  board.seconds = 1.5;
  std::string reason;
  ASSERT_TRUE(appendBoardRecord(dir.file("r.csv"), board, reason)) << reason;
  board.ok = true;
  ASSERT_TRUE(appendBoardRecord(dir.file("r.csv"), board, reason)) << reason;
  EXPECT_EQ(readFile(dir.file("r.csv")),
            boardRecordHeader() +
                "2026-12-08T22:04:47+0000,/dev/ttyACM0,ATmega328P,1E 95 0F,\"a,b.hex:00\",7,no,"
                "E2,D9,,,\"failed: Can't open \"\"x\"\"\",1.50\n"
                "2026-12-08T22:04:47+0000,/dev/ttyACM0,ATmega328P,1E 95 0F,\"a,b.hex:00\",7,no,"
                "E2,D9,,,ok,1.50\n");
}

}  // namespace
