// Saving images as HEX files: the exact text for the lengths around 64 KiB
// boundaries, and failed writes that must not cost the user an existing file.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "image/hex_writer.h"
#include "run/console.h"
#include "tests/support/temp_dir.h"

namespace {

std::unique_ptr<ImageBuffer> countingImage() {
  auto image = std::make_unique<ImageBuffer>();
  for (size_t i = 0; i < image->size(); ++i) (*image)[i] = static_cast<uint8_t>(i);
  return image;
}

std::string hexText(const ImageBuffer& image, int32_t n, int hexRecordType) {
  std::ostringstream stream;
  EXPECT_TRUE(writeHexRecords(stream, image, n, hexRecordType));
  return stream.str();
}

// The text after its first `records` lines.
std::string tailFrom(const std::string& text, size_t records) {
  size_t position = 0;
  for (size_t i = 0; i < records; ++i) position = text.find('\n', position) + 1;
  return text.substr(position);
}

size_t lineCount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

const char kFullRecordAtFff0[] = ":10fff000f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff89\n";

TEST(HexWriter, ShortImagesNeedNoExtendedAddress) {
  auto image = countingImage();
  for (int32_t n : {0, -5}) EXPECT_EQ(hexText(*image, n, 4), ":00000001FF\n");
  EXPECT_EQ(hexText(*image, 20, 4),
            ":10000000000102030405060708090a0b0c0d0e0f78\n"
            ":0400100010111213a6\n"
            ":00000001FF\n");
}

TEST(HexWriter, EachBlockEndIsAnnouncedInTheChosenAddressing) {
  auto image = countingImage();
  struct Case {
    int32_t n;
    int hexRecordType;
    std::string tail;  // from the record at offset fff0 of block 0
  };
  const Case cases[] = {
      {0x10000, 4, std::string(kFullRecordAtFff0) + ":020000040001f9\n:00000001FF\n"},
      {0x10000, 2, std::string(kFullRecordAtFff0) + ":020000021000ec\n:00000001FF\n"},
      {0x10008, 4,
       std::string(kFullRecordAtFff0) +
           ":020000040001f9\n:080000000001020304050607dc\n:00000001FF\n"},
  };
  for (const Case& c : cases) {
    std::string text = hexText(*image, c.n, c.hexRecordType);
    EXPECT_EQ(tailFrom(text, 4095), c.tail) << c.n << " type " << c.hexRecordType;
  }

  // The short final record that ends block 1 still brings the announcement of
  // block 2; so does a full one.
  std::string shortEnd = hexText(*image, 0x20000 - 8, 2);
  EXPECT_EQ(tailFrom(shortEnd, 8192),
            ":08fff000f0f1f2f3f4f5f6f76d\n:020000022000dc\n:00000001FF\n");
  std::string fullEnd = hexText(*image, 0x20000, 4);
  EXPECT_EQ(lineCount(fullEnd), 8192u + 3);
  EXPECT_EQ(tailFrom(fullEnd, 8192),
            std::string(kFullRecordAtFff0) + ":020000040002f8\n:00000001FF\n");
}

TEST(HexWriter, LengthsPastTheImageStopAtItsEnd) {
  auto image = countingImage();
  EXPECT_EQ(hexText(*image, kImageBytes + 4096, 4), hexText(*image, kImageBytes, 4));
}

TEST(HexWriter, StreamErrorsAreReported) {
  auto image = countingImage();
  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  EXPECT_FALSE(writeHexRecords(broken, *image, 64, 4));
}

class HexFileWriting : public ::testing::Test {
 protected:
  TempDir dir;
  ScriptedConsole console;
  std::unique_ptr<ImageBuffer> image = countingImage();

  bool onlyFileIs(const std::string& name) {
    auto entries = std::filesystem::directory_iterator(dir.path());
    return std::distance(entries, {}) == 1 && fileExists(dir.file(name));
  }
};

TEST_F(HexFileWriting, NewAndExistingFilesGetTheFullText) {
  const std::string path = dir.file("flash.hex");
  EXPECT_EQ(writeHexFile(path, *image, 20, 4, console), 1);
  EXPECT_EQ(readFile(path), hexText(*image, 20, 4));

  ::chmod(path.c_str(), 0640);
  EXPECT_EQ(writeHexFile(path, *image, 0x10008, 2, console), 1);
  EXPECT_EQ(readFile(path), hexText(*image, 0x10008, 2));
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_TRUE(onlyFileIs("flash.hex"));
  EXPECT_EQ(console.output(),
            "Write Flash/EEPROM data to " + path + "\nWrite Flash/EEPROM data to " + path + "\n");
}

TEST_F(HexFileWriting, UncreatableFilesAreReported) {
  writeFile(dir.file("plain"), "x");
  const std::string missing = dir.file("missing/flash.hex"), plain = dir.file("plain/flash.hex");
  EXPECT_EQ(writeHexFile(missing, *image, 20, 4, console), -1);
  EXPECT_EQ(console.output(), "Can't open output file " + missing + "\n   " + missing +
                                  ": No such file or directory\n");
  console.clearOutput();
  EXPECT_EQ(writeHexFile(plain, *image, 20, 4, console), -1);
  EXPECT_EQ(console.output(),
            "Can't open output file " + plain + "\n   " + plain + ": Not a directory\n");
  EXPECT_TRUE(onlyFileIs("plain"));
}

TEST_F(HexFileWriting, AFullDeviceIsAnErrorNotASuccess) {
  EXPECT_EQ(writeHexFile("/dev/full", *image, 20, 4, console), -1);
  EXPECT_EQ(console.output(),
            "Write Flash/EEPROM data to /dev/full\nError writing output file /dev/full\n"
            "   /dev/full: No space left on device\n");
}

TEST_F(HexFileWriting, AWriteThatFailsMidwayKeepsTheOldFile) {
  const std::string path = dir.file("flash.hex");
  writeFile(path, "the previous upload\n");
  // A file size limit makes the disk "full" after 4 KiB; the signal it would
  // raise is ignored so that the write itself reports the error.
  struct rlimit previous;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = previous;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = writeHexFile(path, *image, 0x10000, 4, console);
  ::setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(console.output(), "Write Flash/EEPROM data to " + path +
                                  "\nError writing output file " + path + "\n   " + path +
                                  ": File too large\n");
  EXPECT_EQ(readFile(path), "the previous upload\n");
  EXPECT_TRUE(onlyFileIs("flash.hex"));
}

}  // namespace
