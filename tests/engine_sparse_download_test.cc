// Flash downloads of images with erased stretches: the pages the chip erase
// already left right are neither written nor read back, unless the user asks
// for the erased pages to be checked too.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega32Row = 1;     // 64-word pages, 32 KB flash
constexpr int kAtmega2560Row = 11;  // 128-word pages, 256 KB flash
constexpr int32_t kPageBytes = 128;
constexpr int32_t kFlashBytes = 0x8000;

// Random bytes with no 0xFF among them, so every page they touch is written.
std::vector<uint8_t> denseBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes = randomBytes(size, seed);
  for (uint8_t& b : bytes) {
    if (b == 0xFF) b = 0x00;
  }
  return bytes;
}

std::vector<int> pageWriteWords(const ScriptedLink& link) {
  std::vector<int> words;
  for (const IspInstruction& i : link.instructionsWith(0x4C)) {
    words.push_back(i.bytes[1] << 8 | i.bytes[2]);
  }
  return words;
}

// The word addresses of the flash reads, as first and last of each stretch.
std::string readStretches(const ScriptedLink& link) {
  std::string text;
  int first = -1, last = -2;
  auto flush = [&] {
    if (first >= 0) text += std::to_string(first) + "-" + std::to_string(last) + " ";
  };
  for (const IspInstruction& i : link.instructionsWith(0x20)) {
    int word = i.bytes[1] << 8 | i.bytes[2];
    if (word != last + 1) {
      flush();
      first = word;
    }
    last = word;
  }
  flush();
  return text;
}

class SparseDownload : public ::testing::Test {
 protected:
  SparseDownload() {
    dir.enter();
    h.identifyAs(kAtmega32Row);
  }
  // A HEX file of `bytes` at `start`, and the link's flash holding it, so that
  // verification reads back what was meant to be written.
  void downloadFile(const std::vector<uint8_t>& bytes, uint32_t start) {
    writeFile(dir.file("prog.hex"), intelHexText(bytes, start));
    h.session.settings.downloadFileName = "prog.hex";
    h.link.flash.assign(start + bytes.size(), 0xFF);
    std::copy(bytes.begin(), bytes.end(), h.link.flash.begin() + start);
  }
  TempDir dir;
  EngineHarness h;
};

// A 2 KB bootloader at the top of a 32 KB part: its 16 pages are loaded,
// written and read back; the 240 below it are left to the erase. The lines on
// the console are those of a download that wrote all of them.
TEST_F(SparseDownload, ATopOfFlashImageWritesAndReadsOnlyItsOwnPages) {
  h.console.clearOutput();
  setProgressInterval(std::chrono::hours(1));
  downloadFile(denseBytes(2048, 5), kFlashBytes - 2048);
  EXPECT_TRUE(downloadFlash(h.session));

  std::vector<int> expected;
  for (int word = 0x3C00; word < 0x4000; word += 64) expected.push_back(word);
  EXPECT_EQ(pageWriteWords(h.link), expected);
  EXPECT_EQ(h.link.instructionsWith(0x40).size(), 1024u);
  EXPECT_EQ(h.link.instructionsWith(0x4D).size(), 2u);  // programming and reading
  EXPECT_EQ(readStretches(h.link), "15360-16383 ");
  EXPECT_EQ(h.console.output(),
            "Erase chip\nProgramming\nBytes written to target: 128  \r"
            "Bytes written to target: 32768  \rBytes written to target 32768   \n"
            "Read back target to verify\nFlash bytes read: 30722     \r"
            "Flash bytes read: 32768     \r\nTarget matches prog.hex\n");
}

// Erased stretches inside an image: only whole pages of 0xFF are skipped; a
// page with one other byte, or a partial last page, is written whole.
TEST_F(SparseDownload, OnlyPagesThatAreAllErasedAreSkipped) {
  std::vector<uint8_t> bytes = denseBytes(6 * kPageBytes + 10, 6);
  std::fill(bytes.begin() + kPageBytes, bytes.begin() + 3 * kPageBytes, 0xFF);  // pages 1, 2
  std::fill(bytes.begin() + 4 * kPageBytes, bytes.begin() + 5 * kPageBytes - 1, 0xFF);
  downloadFile(bytes, 0);
  EXPECT_TRUE(downloadFlash(h.session));
  EXPECT_EQ(pageWriteWords(h.link), (std::vector<int>{0, 192, 256, 320, 384}));
  EXPECT_EQ(readStretches(h.link), "0-63 192-388 ");
  // Every page written is loaded whole, erased words and all.
  EXPECT_EQ(h.link.instructionsWith(0x40).size(), 4 * 64u + 5u);
}

// A fill character other than 0xFF makes the gaps data: those pages are
// written as they always were.
TEST_F(SparseDownload, AFillCharacterOtherThanErasedWritesTheGaps) {
  h.session.settings.fillChar = 0x00;
  downloadFile(denseBytes(kPageBytes, 7), 3 * kPageBytes);
  h.link.flash.assign(4 * kPageBytes, 0x00);
  std::vector<uint8_t> data = denseBytes(kPageBytes, 7);
  std::copy(data.begin(), data.end(), h.link.flash.begin() + 3 * kPageBytes);
  EXPECT_TRUE(downloadFlash(h.session));
  EXPECT_EQ(pageWriteWords(h.link), (std::vector<int>{0, 64, 128, 192}));
}

// The pages left to the erase are trusted without --verify-erased; with it
// they are read too, and a page the erase missed fails the download with the
// usual count and lines.
TEST_F(SparseDownload, VerifyErasedCatchesAPageTheEraseMissed) {
  std::vector<uint8_t> bytes = denseBytes(kPageBytes, 8);
  downloadFile(bytes, 4 * kPageBytes);
  h.link.flash[kPageBytes + 7] = 0x3C;  // page 1 kept a byte
  h.link.flash[kPageBytes + 8] = 0x00;
  EXPECT_TRUE(downloadFlash(h.session));
  EXPECT_EQ(readStretches(h.link), "256-319 ");

  h.link.clearEvents();
  h.console.clearOutput();
  h.session.settings.verifyErased = true;
  h.session.settings.mismatchFileName = "mismatch.txt";
  downloadFile(bytes, 4 * kPageBytes);
  h.link.flash[kPageBytes + 7] = 0x3C;
  h.link.flash[kPageBytes + 8] = 0x00;
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_EQ(pageWriteWords(h.link), (std::vector<int>{256}));  // still written sparsely
  EXPECT_EQ(readStretches(h.link), "0-319 ");
  const std::string out = h.console.output();
  EXPECT_NE(out.find("\n2 bytes mismatched\n\nERROR - Target does not match prog.hex\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(readFile(dir.file("mismatch.txt")), "000087 ff 3c\n000088 ff 00\n");
  // A run-wide option: the reset after a transfer keeps it.
  EXPECT_TRUE(h.session.settings.verifyErased);
}

// Above 64K words the extended address still comes before the first page
// written in each block, however many pages were skipped on the way, and
// before the reads of each block.
TEST_F(SparseDownload, TheExtendedAddressFollowsTheWrittenPages) {
  h.identifyAs(kAtmega2560Row);
  ASSERT_STREQ(h.session.currentPart()->name, "ATmega2560");
  std::vector<uint8_t> bytes(0x30000, 0xFF);
  std::vector<uint8_t> low = denseBytes(256, 10), high = denseBytes(256, 11);
  std::copy(low.begin(), low.end(), bytes.begin() + 0x100);
  std::copy(high.begin(), high.end(), bytes.begin() + 0x2FF00);
  downloadFile(bytes, 0);
  EXPECT_TRUE(downloadFlash(h.session));
  const std::string transcript = h.link.transcript();
  // One select of block 0 for programming, one of block 1 right before the
  // loads of the page at word 0x17F80, then the same for the reads.
  EXPECT_EQ(h.link.instructionsWith(0x4D).size(), 4u);
  EXPECT_NE(transcript.find("send 4D 00 01 00\nsend 40 00 00 "), std::string::npos);
  EXPECT_NE(transcript.find("send 4C 7F 80 00\n"), std::string::npos);
  EXPECT_NE(transcript.find("send 4D 00 01 00\nquery 20 7F 80 00\n"), std::string::npos);
  EXPECT_EQ(pageWriteWords(h.link), (std::vector<int>{0x0080, 0x7F80}));
}

}  // namespace
