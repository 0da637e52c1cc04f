// HEX files as they come from the field, downloaded by both programs against
// their simulators: records in any order, two files joined with cat and a
// trailing empty record program the whole image; a damaged file (a bad
// checksum, a damaged type byte, a line without its ':', a copy cut off inside
// a record) is refused before the erase with status 2, and the chip keeps what
// it held.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kEndRecord = ":00000001FF\n";

// The data records of `data` at `start` (below 64 KiB), one a line, without
// the end record.
std::vector<std::string> dataRecords(const std::vector<uint8_t>& data, uint32_t start) {
  std::vector<std::string> lines;
  std::istringstream text(intelHexText(data, start));
  for (std::string line; std::getline(text, line);) {
    if (line + "\n" != kEndRecord) lines.push_back(line + "\n");
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

class HexFileRun : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    writeCalibrationFor(GetParam(), dir.path());
    application = dataRecords(randomBytes(300, 21), 0);
    // A boot loader at the top of the ATmega168's 16 KB.
    bootLoader = dataRecords(randomBytes(200, 22), 0x3800);
  }

  ProcessResult run(const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.timeLimitSeconds = 120;
    return runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments, options);
  }

  // Downloads `file` and uploads the flash to `upload`.
  ProcessResult downloadThenUpload(const std::string& file, const std::string& upload) {
    std::remove(dir.file(upload).c_str());
    return run({"-df" + file, "-uf" + upload});
  }

  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  TempDir dir;
  std::vector<std::string> application;
  std::vector<std::string> bootLoader;
};

TEST_P(HexFileRun, AnyRecordOrderProgramsTheWholeImage) {
  // The reference: both pieces in one file, in ascending order.
  writeFile(dir.file("whole.hex"), joined(application) + joined(bootLoader) + kEndRecord);
  ProcessResult reference = downloadThenUpload("whole.hex", "reference.hex");
  ASSERT_EQ(reference.exitStatus, 0) << reference.output;
  const std::string expected = readFile(dir.file("reference.hex"));
  // 16-byte records up to the boot loader's end, 0x38C8.
  ASSERT_GE(expected.size(), size_t{0x3800 / 16 * 40}) << expected;

  std::vector<std::string> descending = application;
  descending.insert(descending.end(), bootLoader.begin(), bootLoader.end());
  std::reverse(descending.begin(), descending.end());
  writeFile(dir.file("descending.hex"), joined(descending) + kEndRecord);
  // `cat boot.hex app.hex`: the application comes last, after an end record.
  writeFile(dir.file("joined.hex"),
            joined(bootLoader) + kEndRecord + joined(application) + kEndRecord);
  writeFile(dir.file("trailing.hex"),
            joined(application) + joined(bootLoader) + ":0000000000\n" + kEndRecord);

  for (const char* file : {"descending.hex", "joined.hex", "trailing.hex"}) {
    ProcessResult result = downloadThenUpload(file, "back.hex");
    EXPECT_EQ(result.exitStatus, 0) << file << "\n" << result.output;
    EXPECT_EQ(readFile(dir.file("back.hex")), expected) << file;
    EXPECT_EQ(contains(result.output, "Note: joined.hex goes on after its end record"),
              std::string(file) == "joined.hex")
        << result.output;
  }
}

TEST_P(HexFileRun, ADamagedFileIsRefusedBeforeTheErase) {
  writeFile(dir.file("good.hex"), joined(application) + kEndRecord);
  ProcessResult first = downloadThenUpload("good.hex", "before.hex");
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  const std::string before = readFile(dir.file("before.hex"));

  // The boot loader's fifth record with its checksum off by one.
  std::vector<std::string> badChecksum = bootLoader;
  std::string& record = badChecksum[4];
  record[record.size() - 2] = record[record.size() - 2] == '0' ? '1' : '0';
  writeFile(dir.file("checksum.hex"), joined(badChecksum) + kEndRecord);
  // An interrupted copy: the file ends in the middle of the ninth record.
  const std::string whole = joined(bootLoader) + kEndRecord;
  const size_t cut = whole.find(bootLoader[8]) + 20;
  writeFile(dir.file("cut.hex"), whole.substr(0, cut));

  // A data record's type byte damaged (00 became 08, the checksum as it was),
  // and a line that lost its ':'.
  std::vector<std::string> badType = bootLoader;
  badType[4][8] = '8';
  writeFile(dir.file("type.hex"), joined(badType) + kEndRecord);
  std::vector<std::string> noStartCode = bootLoader;
  noStartCode[6].erase(0, 1);
  writeFile(dir.file("colon.hex"), joined(noStartCode) + kEndRecord);

  struct Case {
    std::string file;
    std::string lines;
  } cases[] = {
      {"type.hex",
       "Warning: 1 HEX records have bad checksums\n"
       "Damaged HEX record in type.hex at line 5 - nothing programmed\n"},
      {"colon.hex",
       "Warning: 1 malformed HEX records were skipped\n"
       "Damaged HEX record in colon.hex at line 7 - nothing programmed\n"},
      {"checksum.hex",
       "Warning: 1 HEX records have bad checksums\n"
       "Damaged HEX record in checksum.hex at line 5 - nothing programmed\n"},
      {"cut.hex",
       "Warning: 1 malformed HEX records were skipped\n"
       "Damaged HEX record in cut.hex at line 9 - nothing programmed\n"},
  };
  for (const Case& c : cases) {
    ProcessResult result = downloadThenUpload(c.file, "after.hex");
    EXPECT_FALSE(result.timedOut) << c.file;
    EXPECT_EQ(result.exitStatus, 2) << c.file << "\n" << result.output;
    EXPECT_TRUE(contains(result.output, c.lines)) << result.output;
    EXPECT_FALSE(contains(result.output, "Erase chip")) << result.output;
    EXPECT_EQ(readFile(dir.file("after.hex")), before) << c.file;
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, HexFileRun,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
