// Our reader and writer against two independent HEX implementations: files
// they generate load into exactly the bytes they describe, and files we write
// read back in srec_cat (which checks every checksum) as the image we saved.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "image/hex_reader.h"
#include "image/hex_writer.h"
#include "run/console.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace {

const char kSrecCat[] = "/usr/bin/srec_cat";
// The interpreter Debian's python3-intelhex is installed for, not whichever
// python3 comes first on PATH.
const char kPython[] = "/usr/bin/python3";

class HexTools : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kSrecCat, X_OK) != 0) GTEST_SKIP() << "srec_cat missing: install srecord";
  }

  bool run(const std::string& program, const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    ProcessResult result = runProcess(program, arguments, options);
    EXPECT_EQ(result.exitStatus, 0) << program << ": " << result.errorOutput;
    return result.exitStatus == 0;
  }

  // srec_cat's reading of a HEX file: `size` bytes from address 0, gaps 0xFF.
  std::string toolBytes(const std::string& hexName, int32_t size) {
    run(kSrecCat, {hexName, "-intel", "-fill", "0xFF", "0", std::to_string(size), "-o", "tool.bin",
                   "-binary"});
    return readFile(dir.file("tool.bin"));
  }

  std::string ourBytes(const std::string& hexName, int32_t size) {
    std::ifstream stream(dir.file(hexName));
    result = loadHexRecords(stream, *image, 0xFF);
    EXPECT_EQ(result.bytesBeyondEnd + result.malformedRecords + result.badChecksums, 0);
    return std::string(image->begin(), image->begin() + size);
  }

  void writeRandomBlock(const std::string& name, size_t length) {
    std::string bytes(length, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    writeFile(dir.file(name), bytes);
  }

  TempDir dir;
  std::mt19937 random{20240611};
  std::unique_ptr<ImageBuffer> image = std::make_unique<ImageBuffer>();
  HexLoadResult result{};
};

// Each data record with the extended address record in force for it, in
// reverse order, so addresses descend and the last record is the lowest.
std::string reversedRecords(const std::string& text) {
  std::vector<std::string> pieces;
  std::string extension, line;
  std::istringstream lines(text);
  while (std::getline(lines, line)) {
    if (line.compare(7, 2, "00") == 0) pieces.push_back(extension + "\r\n" + line + "\r\n");
    if (line.compare(7, 2, "02") == 0 || line.compare(7, 2, "04") == 0) extension = line;
  }
  std::reverse(pieces.begin(), pieces.end());
  std::string reversed;
  for (const auto& piece : pieces) reversed += piece;
  return reversed + ":00000001FF";
}

TEST_F(HexTools, SrecCatFilesLoadIntoTheirBytes) {
  // Odd lengths, straddling the 64 KiB and 128 KiB boundaries, and above both.
  writeRandomBlock("low.bin", 1001);
  writeRandomBlock("middle.bin", 0x1235);
  writeRandomBlock("high.bin", 77);
  const int32_t end = 0x30001 + 77;
  for (const char* addressing : {"-address-length=3", "-address-length=4"}) {
    for (const char* recordSize : {"-obs=13", "-obs=255"}) {
      SCOPED_TRACE(std::string(addressing) + " " + recordSize);
      run(kSrecCat, {"low.bin", "-binary", "-offset", "0xFF05", "middle.bin", "-binary", "-offset",
                     "0x1FFF1", "high.bin", "-binary", "-offset", "0x30001", "-o", "tool.hex",
                     "-intel", addressing, recordSize});
      const std::string text = readFile(dir.file("tool.hex"));
      const bool segmented = addressing[16] == '3';
      ASSERT_NE(text.find(segmented ? ":02000002" : ":02000004"), std::string::npos);
      EXPECT_EQ(ourBytes("tool.hex", end), toolBytes("tool.hex", end));
      EXPECT_EQ(result.loadLength, end);

      writeFile(dir.file("reversed.hex"), reversedRecords(text));
      EXPECT_EQ(ourBytes("reversed.hex", end), toolBytes("reversed.hex", end));
      // The lowest record comes last, but the load still reaches the highest.
      EXPECT_EQ(result.loadLength, end);
    }
  }
}

TEST_F(HexTools, PythonIntelhexFilesLoadIntoTheirBytes) {
  ProcessResult probe = runProcess(kPython, {"-c", "import intelhex"}, {});
  if (probe.exitStatus != 0) GTEST_SKIP() << "intelhex missing: install python3-intelhex";
  writeFile(dir.file("make.py"),
            "import random, sys\n"
            "from intelhex import IntelHex\n"
            "random.seed(11)\n"
            "image = IntelHex()\n"
            "for start, length in [(3, 501), (0xFFF0, 40), (0x1FFFE, 9), (0x2A000, 300)]:\n"
            "    for address in range(start, start + length):\n"
            "        image[address] = random.randrange(256)\n"
            "image.write_hex_file('py.hex', byte_count=int(sys.argv[1]))\n"
            "image.tobinfile('py.bin', start=0, end=0x2A000 + 300 - 1)\n");
  for (const char* recordSize : {"11", "32"}) {
    run(kPython, {"make.py", recordSize});
    EXPECT_EQ(ourBytes("py.hex", 0x2A000 + 300), readFile(dir.file("py.bin"))) << recordSize;
    EXPECT_EQ(result.loadLength, 0x2A000 + 300);
  }
}

TEST_F(HexTools, EveryWrittenFileReadsBackInSrecCat) {
  for (uint8_t& byte : *image) byte = static_cast<uint8_t>(random());
  ScriptedConsole console;
  // (An empty file, n = 0, is one srec_cat refuses to read.)
  for (int32_t n : {20, 0x10000, 0x10008, 0x20000 - 8, 0x20000, kImageBytes}) {
    for (int hexRecordType : {2, 4}) {
      SCOPED_TRACE(std::to_string(n) + " type " + std::to_string(hexRecordType));
      ASSERT_EQ(writeHexFile(dir.file("up.hex"), *image, n, hexRecordType, console), 1);
      ASSERT_TRUE(run(kSrecCat, {"up.hex", "-intel", "-o", "back.bin", "-binary"}));
      EXPECT_TRUE(readFile(dir.file("back.bin")) ==
                  std::string(image->begin(), image->begin() + n));
    }
  }
}

}  // namespace
