// The S-record reader and writer and the raw binary files: hand-made records
// for the strict checks, and srec_cat as the independent implementation the
// files must agree with in both directions.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "image/binary_file.h"
#include "image/srec_reader.h"
#include "image/srec_writer.h"
#include "image/upload_file.h"
#include "run/console.h"
#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace {

const char kSrecCat[] = "/usr/bin/srec_cat";

class SrecFiles : public ::testing::Test {
 protected:
  SrecLoadResult load(const std::string& text, uint8_t fill = 0xFF) {
    return loadSrecText(text.data(), text.size(), *image, fill);
  }
  std::string bytes(size_t from, size_t count) const {
    return std::string(image->begin() + from, image->begin() + from + count);
  }
  std::string formatted(int32_t n, int addressBytes, const std::string& header = "") {
    std::string text;
    formatSrecRecords(*image, n, addressBytes, header, [&](const char* t, size_t length) {
      text.append(t, length);
      return true;
    });
    return text;
  }
  // srec_cat run in the test's folder; false (and a failure) when it refused.
  bool srecCat(const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    ProcessResult result = runProcess(kSrecCat, arguments, options);
    EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
    return result.exitStatus == 0;
  }
  void requireSrecCat() {
    if (::access(kSrecCat, X_OK) != 0) GTEST_SKIP() << "srec_cat missing: install srecord";
  }

  std::unique_ptr<ImageBuffer> image = std::make_unique<ImageBuffer>();
  TempDir dir;
};

const char kHeader[] = "S00F000068656C6C6F202020202000003C\n";
const char kFirst[] = "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n";
const char kSecond[] = "S11F001C4BFFFFE5398000007D83637880010014382100107C0803A64E800020E9\n";
const char kCountTwo[] = "S5030002FA\n";
const char kEnd[] = "S9030000FC\n";

std::string twoRecords() {
  return std::string(kHeader) + kFirst + kSecond + kCountTwo + kEnd;
}

TEST_F(SrecFiles, LoadsDataRecordsAtTheirAddressesAndKeepsTheFillElsewhere) {
  const SrecLoadResult result = load(twoRecords(), 0xA5);
  ASSERT_EQ(result.trouble, SrecTrouble::kNone) << result.line;
  EXPECT_EQ(result.dataRecords, 2);
  EXPECT_EQ(result.loadLength, 0x1C + 28);
  EXPECT_EQ(bytes(0, 4), std::string("\x7C\x08\x02\xA6", 4));
  EXPECT_EQ(bytes(0x1C, 4), std::string("\x4B\xFF\xFF\xE5", 4));
  EXPECT_EQ((*image)[0x1C + 28], 0xA5);

  // S3 and S2 addresses, CR LF line ends, blank lines, lower-case digits; the
  // load length is the highest end, not the last record's.
  const std::string wide =
      "S2080100000102030AE6\r\n"
      "   \n"
      "S30900000100a1a2a3a46b\r\n"
      "S70500000000FA\n";
  const SrecLoadResult both = load(wide);
  ASSERT_EQ(both.trouble, SrecTrouble::kNone) << both.line;
  EXPECT_EQ(bytes(0x100, 4), "\xa1\xa2\xa3\xa4");
  EXPECT_EQ(bytes(0x10000, 4), std::string("\x01\x02\x03\x0A", 4));
  EXPECT_EQ(both.loadLength, 0x10004);

  // Bytes past the image are counted, not stored.
  const SrecLoadResult beyond = load("S208058DDE0102030A77\n");
  ASSERT_EQ(beyond.trouble, SrecTrouble::kNone);
  EXPECT_EQ(beyond.loadLength, kImageBytes);
  EXPECT_EQ(beyond.bytesBeyondEnd, 2);
  EXPECT_EQ(bytes(kImageBytes - 2, 2), std::string("\x01\x02", 2));
  EXPECT_EQ(beyond.firstAddressBeyond, kImageBytes);
  // Wholly beyond it: left out, and the length stays the data's.
  const SrecLoadResult far = load(std::string(kFirst) + "S307001000000102E5\n");
  ASSERT_EQ(far.trouble, SrecTrouble::kNone);
  EXPECT_EQ(far.loadLength, 28);
  EXPECT_EQ(far.bytesBeyondEnd, 2);
  EXPECT_EQ(far.firstAddressBeyond, 0x100000);
}

TEST_F(SrecFiles, RefusesDamagedFilesWholeAndLeavesTheImageAlone) {
  std::string badSum = kSecond;
  badSum.replace(badSum.size() - 3, 2, "E8");
  struct Case {
    std::string text;
    SrecTrouble trouble;
    int32_t line;
  } cases[] = {
      {std::string(kHeader) + kFirst + badSum + kCountTwo, SrecTrouble::kBadChecksum, 3},
      // The count byte says one byte more than the record holds.
      {"S1050000AA51\n", SrecTrouble::kMalformed, 1},
      // A digit that is no hexadecimal one, an odd length, the reserved S4,
      // text between records.
      {"S1050000AXBB95\n", SrecTrouble::kMalformed, 1},
      {"S1040000AA5\n", SrecTrouble::kMalformed, 1},
      {"S1040000AA51\nS403000000FC\n", SrecTrouble::kMalformed, 2},
      {"S1040000AA51\n\nhello\n", SrecTrouble::kMalformed, 3},
      // A data record whose type digit became 9, its sum still right.
      {"S1040000AA51\nS9040000AA51\n", SrecTrouble::kMalformed, 2},
      // A line lost: the count says three records where two came.
      {std::string(kFirst) + kSecond + "S5030003F9\n", SrecTrouble::kCountMismatch, 3},
      // Only a header.
      {"S00600004844521B\n", SrecTrouble::kNoData, 0},
      {"", SrecTrouble::kNoData, 0},
  };
  for (const Case& c : cases) {
    image->fill(0x5A);
    const SrecLoadResult result = load(c.text);
    EXPECT_EQ(result.trouble, c.trouble) << c.text;
    EXPECT_EQ(result.line, c.line) << c.text;
    EXPECT_EQ(bytes(0, 8), std::string(8, '\x5A')) << c.text;
  }

  ScriptedConsole console;
  reportSrecTrouble(load(cases[0].text), "app.srec", console);
  reportSrecTrouble(load(cases[7].text), "app.srec", console);
  EXPECT_EQ(console.output(),
            "Bad S-record checksum on line 3 of app.srec - nothing programmed\n"
            "Line 3 of app.srec counts 3 data records, but 2 come before it - nothing "
            "programmed\n");
}

TEST_F(SrecFiles, ContentDecidesTheFormatButOnlyTheNameMakesABinary) {
  EXPECT_TRUE(looksLikeSrec("\r\n  S00600004844521B", 19));
  EXPECT_FALSE(looksLikeSrec(":100000000C94", 13));
  EXPECT_FALSE(looksLikeSrec("Some text", 9));
  EXPECT_FALSE(looksLikeSrec("S", 1));
  EXPECT_TRUE(namesBinaryFile("out/app.BIN"));
  EXPECT_FALSE(namesBinaryFile(".bin"));
  EXPECT_FALSE(namesBinaryFile("app.bin.hex"));
  for (const char* name : {"a.srec", "a.S19", "a.s28", "a.s37"}) EXPECT_TRUE(namesSrecFile(name));
  for (const char* name : {"a.hex", "srec", "a.srec/x", "-"}) EXPECT_FALSE(namesSrecFile(name));
}

TEST_F(SrecFiles, WritesRecordsThatReadBackAsTheImage) {
  const std::vector<uint8_t> data = randomBytes(0x10008, 3);
  std::copy(data.begin(), data.end(), image->begin());
  // Sixteen bytes a record, the count, and the end record that suits S1.
  const std::string twenty = formatted(20, 2, "x");
  EXPECT_EQ(twenty.substr(0, 21), "S00400007883\nS1130000");
  const size_t second = twenty.find("\nS1070010");
  EXPECT_EQ(second, 12 + 1 + 42);
  EXPECT_EQ(twenty.substr(second + 1 + 19), "S5030002FA\nS9030000FC\n");
  EXPECT_EQ(formatted(0, 4), "S0030000FC\nS5030000FC\nS70500000000FA\n");
  // An erased chip's upload loads back as nothing, which still erases.
  const SrecLoadResult erased = load(formatted(0, 2, "erased"));
  EXPECT_EQ(erased.trouble, SrecTrouble::kNone);
  EXPECT_EQ(erased.loadLength, 0);
  EXPECT_EQ(srecAddressBytes("a.s19", 0x10000), 2);
  EXPECT_EQ(srecAddressBytes("a.s19", 0x10001), 3);
  EXPECT_EQ(srecAddressBytes("a.srec", 100), 2);
  EXPECT_EQ(srecAddressBytes("a.s37", 100), 4);

  for (int addressBytes : {2, 3, 4}) {
    const int32_t n = addressBytes == 2 ? 0x10000 : 0x10008;
    const std::string text = formatted(n, addressBytes, "round trip");
    auto copy = std::make_unique<ImageBuffer>(*image);
    const SrecLoadResult result = loadSrecText(text.data(), text.size(), *copy, 0xFF);
    ASSERT_EQ(result.trouble, SrecTrouble::kNone) << addressBytes;
    EXPECT_EQ(result.loadLength, n);
    EXPECT_TRUE(std::equal(copy->begin(), copy->begin() + n, image->begin()));
    EXPECT_EQ((*copy)[static_cast<size_t>(n)], 0xFF);
  }
}

TEST_F(SrecFiles, AgreesWithSrecCatBothWays) {
  requireSrecCat();
  const std::vector<uint8_t> data = randomBytes(70000, 8);
  writeFile(dir.file("source.bin"), std::string(data.begin(), data.end()));
  // srec_cat's S-records of each address size, and with long lines.
  struct Made {
    const char* name;
    std::vector<std::string> options;
  } made[] = {{"tool.s19", {"-address-length=2"}},
              {"tool.s28", {"-address-length=3"}},
              {"tool.s37", {"-address-length=4", "-line-length=200"}}};
  for (const Made& m : made) {
    std::vector<std::string> arguments = {"source.bin", "-binary", "-o", m.name, "-motorola"};
    arguments.insert(arguments.end(), m.options.begin(), m.options.end());
    ASSERT_TRUE(srecCat(arguments));
    const std::string text = readFile(dir.file(m.name));
    ASSERT_TRUE(looksLikeSrec(text.data(), text.size())) << m.name;
    const SrecLoadResult result = load(text);
    ASSERT_EQ(result.trouble, SrecTrouble::kNone) << m.name << " line " << result.line;
    EXPECT_EQ(result.loadLength, 70000) << m.name;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image->begin())) << m.name;
  }

  // Ours, read by srec_cat (which checks every checksum), is the image; so is
  // our binary.
  ScriptedConsole console;
  for (const char* name : {"ours.srec", "ours.s19", "ours.s37", "ours.bin"}) {
    ASSERT_EQ(writeUploadFile(dir.file(name), *image, 70000, 4, console), 1) << name;
    const std::string format = namesBinaryFile(name) ? "-binary" : "-motorola";
    ASSERT_TRUE(srecCat({name, format, "-o", "back.bin", "-binary"}));
    EXPECT_TRUE(readFile(dir.file("back.bin")) == std::string(data.begin(), data.end())) << name;
  }
  EXPECT_NE(console.output().find("Write Flash/EEPROM data to " + dir.file("ours.bin") + "\n"),
            std::string::npos);
}

TEST_F(SrecFiles, BinaryLoadsFromAddressZeroAndWritesOnlyWhatIsAsked) {
  const BinaryLoadResult small = loadBinaryImage("\x0c\x94\x5c", 3, *image, 0x00);
  EXPECT_EQ(small.loadLength, 3);
  EXPECT_EQ(bytes(0, 4), std::string("\x0c\x94\x5c\x00", 4));

  const std::string large(kImageBytes + 5, '\x11');
  const BinaryLoadResult over = loadBinaryImage(large.data(), large.size(), *image, 0xFF);
  EXPECT_EQ(over.loadLength, kImageBytes);
  EXPECT_EQ(over.bytesBeyondEnd, 5);

  ScriptedConsole console;
  EXPECT_EQ(writeBinaryFile(dir.file("cut.bin"), *image, 7, console), 1);
  EXPECT_EQ(readFile(dir.file("cut.bin")), std::string(7, '\x11'));
  writeFile(dir.file("kept.bin"), "old contents");
  EXPECT_EQ(writeBinaryFile(dir.file("none/kept.bin"), *image, 7, console), -1);
  EXPECT_NE(console.output().find("Can't open output file " + dir.file("none/kept.bin") + "\n"),
            std::string::npos);
}

}  // namespace
