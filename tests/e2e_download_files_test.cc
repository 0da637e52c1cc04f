// Download files that are no firmware (a folder, a binary not named as one, an
// empty file, damaged S-records, an endless device) given to both programs against their
// simulators: each is refused before the erase with status 2, the chip keeps what it held, and the
// run goes on to its closing line.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

class BadDownloadFile : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  bool tarnwick() const { return GetParam() == Program::kTarnwick; }
  std::string closingLine() const {
    return tarnwick() ? "\nProgram finished - hit any key to exit!\n" : "\nProgram finished!\n";
  }

  // One run on an ATmega168 whose memories persist between runs.
  ProcessResult run(const std::vector<std::string>& arguments, const std::string& input = "") {
    ProcessOptions options;
    options.standardInput = input;
    options.timeLimitSeconds = 120;
    return runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments, options);
  }

  bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }

  TempDir dir;
};

TEST_P(BadDownloadFile, IsRefusedBeforeTheEraseAndTheChipKeepsItsFirmware) {
  writeFile(dir.file("good.hex"), intelHexText(randomBytes(300, 12)));
  ProcessResult first = run({"-dfgood.hex", "-ufbefore.hex"});
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  const std::string before = readFile(dir.file("before.hex"));
  ASSERT_NE(before.find(":10"), std::string::npos);

  ::mkdir(dir.file("somedir").c_str(), 0755);
  // A binary is one only by its name; under any other it is no firmware.
  writeFile(dir.file("blink.img"), std::string("\x0c\x94\x5c\x00\x0c\x94:\x6e\x00\xff", 10));
  writeFile(dir.file("empty.hex"), "");
  writeFile(dir.file("empty.bin"), "");
  writeFile(dir.file("bad.srec"), "S1050000AABB95\nS1050002CCDD4E\nS9030000FC\n");
  struct Case {
    std::string file;
    std::string refusal;
  } cases[] = {
      {"somedir", "Can't open download file\n   somedir: Is a directory\n"},
      {"blink.img", "No Intel HEX records in blink.img - nothing programmed\n"},
      {"empty.hex", "No Intel HEX records in empty.hex - nothing programmed\n"},
      {"empty.bin", "empty.bin is empty - nothing programmed\n"},
      {"bad.srec", "Bad S-record checksum on line 2 of bad.srec - nothing programmed\n"},
      {"/dev/zero", "   /dev/zero: File too large (more than 64 MiB)\n"},
  };
  for (const Case& c : cases) {
    std::remove(dir.file("after.hex").c_str());
    ProcessResult result = run({"-df" + c.file, "-ufafter.hex"});
    EXPECT_FALSE(result.timedOut) << c.file;
    EXPECT_EQ(result.exitStatus, 2) << c.file << "\n" << result.output;
    EXPECT_NE(result.output.find(c.refusal), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Erase chip"), std::string::npos) << result.output;
    EXPECT_TRUE(endsWith(result.output, closingLine())) << result.output;
    EXPECT_EQ(readFile(dir.file("after.hex")), before) << c.file;
  }

  // At the prompt too, for every command that names a download file.
  ProcessResult prompt =
      run({}, "dfsomedir\ndffsomedir\ndesomedir\nldsomedir\nfsomedir\nufafter.hex\n");
  EXPECT_EQ(prompt.exitStatus, 2) << prompt.output;
  EXPECT_EQ(prompt.output.find("Erase chip"), std::string::npos) << prompt.output;
  EXPECT_TRUE(endsWith(prompt.output, closingLine())) << prompt.output;
  EXPECT_EQ(readFile(dir.file("after.hex")), before);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, BadDownloadFile,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
