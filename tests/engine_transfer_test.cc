// Flash and EEPROM transfers over a scripted link: page handling, read back,
// verification and the download flows' messages and refusals.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "engine/progress_line.h"
#include "engine/transfer_limits.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega32Row = 1;  // 64-word pages, 32 KB flash, 1 KB EEPROM
constexpr int kAtmega48Row = 2;  // 4 KB flash, 256 bytes EEPROM
constexpr int32_t kPageBytes = 128;

std::string lastLines(const std::string& text, int lines) {
  size_t at = text.size();
  for (int i = 0; i <= lines && at != std::string::npos && at > 0; ++i) {
    at = text.rfind('\n', at - 1);
  }
  return at == std::string::npos ? text : text.substr(at + 1);
}

class Transfer : public ::testing::Test {
 protected:
  Transfer() {
    dir.enter();
    h.identifyAs(kAtmega32Row);
  }
  void loadImage(const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), h.session.images.load->begin());
  }
  void downloadFile(const std::vector<uint8_t>& bytes, uint32_t start = 0) {
    writeFile(dir.file("prog.hex"), intelHexText(bytes, start));
    h.session.settings.downloadFileName = "prog.hex";
  }
  TempDir dir;
  EngineHarness h;
};

TEST_F(Transfer, ExactlyOnePageIsWrittenOnce) {
  loadImage(randomBytes(kPageBytes, 1));
  EXPECT_EQ(programFlash(h.session, kPageBytes), kPageBytes);
  auto writes = h.link.instructionsWith(0x4C);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes[2], 0x00);
  EXPECT_EQ(h.link.instructionsWith(0x40).size(), 64u);
  EXPECT_EQ(lastLines(h.link.transcript(), 2), "send 4C 00 00 00\nwait 0\n");
}

TEST_F(Transfer, OnePagePlusTwoBytesWritesTheSecondPageAtWordP) {
  std::vector<uint8_t> bytes = randomBytes(kPageBytes + 2, 2);
  loadImage(bytes);
  programFlash(h.session, kPageBytes + 2);
  ASSERT_EQ(h.link.instructionsWith(0x4C).size(), 2u);
  char tail[128];
  std::snprintf(tail, sizeof tail,
                "send 40 00 00 %02X\nsend 48 00 00 %02X\nsend 4C 00 40 00\nwait 0\n",
                bytes[kPageBytes], bytes[kPageBytes + 1]);
  EXPECT_EQ(lastLines(h.link.transcript(), 4), tail);
}

TEST_F(Transfer, ZeroBytesSendOnlyTheExtendedAddress) {
  EXPECT_EQ(programFlash(h.session, 0), 0);
  EXPECT_EQ(h.link.transcript(), "send 4D 00 00 00\n");
  EXPECT_EQ(h.console.output(), "");
}

TEST_F(Transfer, PageTimeoutsAreReportedAndProgrammingGoesOn) {
  h.link.waitResults = {-1, 0, -1};
  h.console.clearOutput();
  EXPECT_EQ(programFlash(h.session, 2 * kPageBytes + 2), 2 * kPageBytes + 2);
  std::string out = h.console.output();
  EXPECT_NE(out.find("Error - Flash write timeout    \n"), std::string::npos);
  EXPECT_NE(out.find("Error - Flash write timeout\n"), std::string::npos);
  auto writes = h.link.instructionsWith(0x4C);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[1].bytes[2], 0x40);
  EXPECT_EQ(writes[2].bytes[2], 0x80);
}

// A link that overlaps waits gets each page's wait sent right after the page
// write and collected after the next page's loads, before its write; every
// outcome is still reported with its page's message, the last one included.
TEST_F(Transfer, SplitPageWaitsAreCollectedBeforeTheNextPageWriteAndAtTheEnd) {
  h.link.splitWaits = true;
  h.link.waitResults = {0, -1, -1};
  loadImage(randomBytes(2 * kPageBytes + 2, 3));
  h.console.clearOutput();
  int32_t timeouts = 0;
  EXPECT_EQ(programFlashCounting(h.session, 2 * kPageBytes + 2, &timeouts), 2 * kPageBytes + 2);
  EXPECT_EQ(timeouts, 2);
  std::string out = h.console.output();
  EXPECT_NE(out.find("Error - Flash write timeout    \n"), std::string::npos);
  EXPECT_NE(out.find("Error - Flash write timeout\n"), std::string::npos);
  std::string order;
  for (const LinkEvent& event : h.link.events()) {
    if (event.kind == LinkEvent::kWaitSent) order += "S";
    if (event.kind == LinkEvent::kWaitReady) order += "C";
    if (event.kind == LinkEvent::kSend && event.instruction.bytes[0] == 0x4C) order += "W";
    if (event.kind == LinkEvent::kSend && event.instruction.bytes[0] == 0x40) {
      if (order.empty() || order.back() != 'L') order += "L";
    }
  }
  EXPECT_EQ(order, "LWSLCWSLCWSC");
}

TEST_F(Transfer, ReadFlashOfAnOddCountReadsTheWholeLastWord) {
  h.link.flash = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(readFlash(h.session, 5), 6);
  EXPECT_EQ(h.link.transcript(),
            "send 4D 00 00 00\nquery 20 00 00 00\nquery 28 00 00 00\nquery 20 00 01 00\n"
            "query 28 00 01 00\nquery 20 00 02 00\nquery 28 00 02 00\n");
  EXPECT_EQ(h.console.output(),
            "Flash bytes read: 2     \rFlash bytes read: 4     \rFlash bytes read: 6     \r");
  const ImageBuffer& read = *h.session.images.read;
  EXPECT_EQ(std::vector<int>(read.begin(), read.begin() + 8),
            (std::vector<int>{1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST_F(Transfer, ThrottledProgressStillEndsOnTheFinalCount) {
  setProgressInterval(std::chrono::hours(1));
  loadImage(randomBytes(3 * kPageBytes, 3));
  programFlash(h.session, 3 * kPageBytes);
  EXPECT_EQ(h.console.output(), "Bytes written to target: 2  \rBytes written to target: 384  \r");
}

TEST_F(Transfer, LargePartsSelectEachSixtyFourKiloWordBlock) {
  h.identifyAs(11);  // ATmega2560 (tarnwick's row order)
  ASSERT_STREQ(h.session.currentPart()->name, "ATmega2560");
  programFlash(h.session, 0x40000);
  EXPECT_EQ(h.link.instructionsWith(0x4D).size(), 2u);
  EXPECT_EQ(h.link.instructionsWith(0x4D)[1].bytes[2], 0x01);
  h.link.clearEvents();
  readFlash(h.session, 0x40000);
  auto selects = h.link.instructionsWith(0x4D);
  ASSERT_EQ(selects.size(), 2u);
  EXPECT_EQ(selects[1].bytes[2], 0x01);
  // The select comes right before the first read of word 0x10000, whose low
  // 16 bits start from 0 again.
  std::string transcript = h.link.transcript();
  EXPECT_NE(transcript.find("query 28 FF FF 00\nsend 4D 00 01 00\nquery 20 00 00 00\n"),
            std::string::npos);
}

TEST_F(Transfer, CompareCountsMismatchesAndListsThemInTheMismatchFile) {
  loadImage({0x10, 0x11, 0x12, 0x13, 0x14});
  std::copy_n(std::vector<uint8_t>{0x10, 0xEE, 0x12, 0x00, 0x15}.begin(), 5,
              h.session.images.read->begin());
  EXPECT_EQ(compareImages(h.session, 5), 0);
  EXPECT_EQ(compareImages(h.session, 1), 1);
  EXPECT_EQ(h.console.output(), "\n3 bytes mismatched\n");

  h.session.settings.mismatchFileName = "mismatch.txt";
  compareImages(h.session, 5);
  EXPECT_EQ(readFile(dir.file("mismatch.txt")), "000001 11 ee\n000003 13 00\n000004 14 15\n");

  h.console.clearOutput();
  h.session.settings.mismatchFileName = "no-such-dir/mismatch.txt";
  EXPECT_EQ(compareImages(h.session, 5), 0);
  EXPECT_EQ(h.console.output(),
            "\n3 bytes mismatched\nCan't open mismatch file no-such-dir/mismatch.txt\n"
            "   no-such-dir/mismatch.txt: No such file or directory\n");
  EXPECT_TRUE(h.session.commandFailed);
}

// The list was asked for: a verification that matches still fails the command
// when the list cannot be written.
TEST_F(Transfer, AMismatchFileThatCannotBeCreatedFailsEvenAMatch) {
  loadImage({0x10, 0x11});
  std::copy_n(std::vector<uint8_t>{0x10, 0x11}.begin(), 2, h.session.images.read->begin());
  h.session.settings.mismatchFileName = "no-such-dir/mismatch.txt";
  EXPECT_EQ(compareImages(h.session, 2), 1);
  EXPECT_TRUE(h.session.commandFailed);
}

TEST_F(Transfer, UsedLengthEndsAfterTheLastByteThatIsNotErased) {
  ImageBuffer& image = *h.session.images.read;
  image.fill(0xFF);
  EXPECT_EQ(usedLength(image, 0x400), 0);
  image[0] = 0x00;
  EXPECT_EQ(usedLength(image, 0x400), 1);
  image[0x1FF] = 0x12;
  EXPECT_EQ(usedLength(image, 0x400), 0x200);
  EXPECT_EQ(usedLength(image, 0x100), 1);
  image[kImageBytes - 1] = 0x00;
  EXPECT_EQ(usedLength(image, kImageBytes + 1000), kImageBytes);
}

TEST_F(Transfer, DownloadEndsAtAFailedEraseWait) {
  downloadFile(randomBytes(300, 4));
  h.link.waitResults = {-1};
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_EQ(h.console.output(), "Erase chip\nError - Erase chip timeout\n");
  EXPECT_TRUE(h.link.instructionsWith(0x40).empty());
}

TEST_F(Transfer, DownloadReportsAVerificationMismatchAsAFailure) {
  // The scripted link keeps nothing it is sent, so the read back is all 0xFF.
  downloadFile({0x0C, 0x94, 0xFF, 0xFF});
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_EQ(h.console.output(),
            "Erase chip\nProgramming\nBytes written to target: 2  \rBytes written to target: 4  \r"
            "Bytes written to target 4   \nRead back target to verify\n"
            "Flash bytes read: 2     \rFlash bytes read: 4     \r\n2 bytes mismatched\n"
            "\nERROR - Target does not match prog.hex\n");
  EXPECT_TRUE(h.session.settings.downloadFileName.empty());  // settings restored
}

TEST_F(Transfer, DownloadsRefuseWhatTheTargetCannotHold) {
  h.identifyAs(kAtmega48Row);
  downloadFile({0x01, 0x02}, 0x1000);  // ends 2 bytes past the 4 KB flash
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_EQ(h.console.output(),
            "File is larger than the target's flash: 4098 bytes, ATmega48 has 4096\n");
  h.console.clearOutput();
  downloadFile(std::vector<uint8_t>(257, 0x00));
  EXPECT_FALSE(downloadEeprom(h.session));
  EXPECT_EQ(h.console.output(),
            "File is larger than the target's EEPROM: 257 bytes, ATmega48 has 256\n");
  EXPECT_EQ(h.link.transcript(), "");  // nothing erased, nothing written

  h.console.clearOutput();
  h.session.target.processorIndex = -1;
  downloadFile({0x01});
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_FALSE(downloadEeprom(h.session));
  EXPECT_EQ(h.console.output(),
            "Target processor not recognized - command not run\n"
            "Target processor not recognized - command not run\n");
  EXPECT_EQ(h.link.transcript(), "");
}

TEST_F(Transfer, MissingDownloadFileFails) {
  h.session.settings.downloadFileName = "absent.hex";
  EXPECT_FALSE(downloadFlash(h.session));
  EXPECT_EQ(h.console.output(),
            "Can't open download file\n   absent.hex: No such file or directory\n");
  EXPECT_EQ(h.link.transcript(), "");
}

// Files that cannot be read, or read but hold no HEX record (a binary counts as
// one only by a .bin name), are refused before anything is sent: no erase, and
// the run goes on.
TEST_F(Transfer, UnusableDownloadFilesAreRefusedBeforeTheErase) {
  ::mkdir(dir.file("folder").c_str(), 0755);
  writeFile(dir.file("empty.hex"), "");
  writeFile(dir.file("binary.img"), std::string("\x0c\x94\x34\x00\x0c\x94:\x3e\x00", 10));
  writeFile(dir.file("prose.txt"), "no records here\n:zz\n");
  struct Case {
    std::string name;
    std::string message;
  } cases[] = {
      {"folder", "Can't open download file\n   folder: Is a directory\n"},
      {"/dev/zero", "Can't open download file\n   /dev/zero: File too large (more than 64 MiB)\n"},
      {"empty.hex", "No Intel HEX records in empty.hex - nothing programmed\n"},
      {"binary.img",
       "Warning: 1 malformed HEX records were skipped\n"
       "No Intel HEX records in binary.img - nothing programmed\n"},
      {"prose.txt",
       "Warning: 1 malformed HEX records were skipped\n"
       "No Intel HEX records in prose.txt - nothing programmed\n"},
  };
  for (const Case& c : cases) {
    h.console.clearOutput();
    h.session.settings.downloadFileName = c.name;
    EXPECT_FALSE(downloadFlash(h.session)) << c.name;
    EXPECT_EQ(h.console.output(), c.message);
    h.session.settings.downloadFileName = c.name;
    EXPECT_FALSE(downloadEeprom(h.session)) << c.name;
  }
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 0u);  // no Chip Erase
  EXPECT_EQ(h.link.instructionsWith(0x40).size(), 0u);
  EXPECT_EQ(h.link.instructionsWith(0xC0).size(), 0u);
}

TEST_F(Transfer, AFileWithOnlyTheEndRecordStillErases) {
  writeFile(dir.file("blank.hex"), ":00000001FF\n");
  h.session.settings.downloadFileName = "blank.hex";
  EXPECT_TRUE(downloadFlash(h.session));
  EXPECT_EQ(h.link.instructionsWith(0xAC).size(), 1u);
}

TEST_F(Transfer, EepromDownloadWritesEachByteAndVerifies) {
  h.identifyAs(kAtmega48Row);
  h.session.catalogue.rows[kAtmega48Row].eepromPageBytes = 0;  // a part written by bytes
  h.link.keepsEepromWrites = true;
  downloadFile({0x12, 0x34});
  h.link.waitResults = {0, -1};
  EXPECT_FALSE(downloadEeprom(h.session));  // the second byte's wait failed
  EXPECT_EQ(h.console.output(),
            "load file length = 2\nProgramming\nError - EEPROM write timeout\n"
            "Bytes written to target 2\nRead back target to verify\n"
            "Read 256 target EEPROM bytes\nTarget matches prog.hex\n");
  EXPECT_EQ(h.link.instructionsWith(0xC0).size(), 2u);
  // The two bytes of the file read before writing, then the whole EEPROM.
  EXPECT_EQ(h.link.instructionsWith(0xA0).size(), 2u + 256u);
}

// The same file again writes nothing, and a file that changes one byte writes
// that byte alone; the count line still gives the file's length.
TEST_F(Transfer, EepromDownloadWritesOnlyTheBytesThatDiffer) {
  h.identifyAs(kAtmega48Row);
  h.session.catalogue.rows[kAtmega48Row].eepromPageBytes = 0;  // a part written by bytes
  h.link.keepsEepromWrites = true;
  std::vector<uint8_t> bytes = randomBytes(200, 7);
  bytes[50] = 0xFF;  // erased already, so never written
  downloadFile(bytes);
  EXPECT_TRUE(downloadEeprom(h.session));
  EXPECT_EQ(h.link.instructionsWith(0xC0).size(),
            static_cast<size_t>(std::count_if(bytes.begin(), bytes.end(),
                                              [](uint8_t b) { return b != 0xFF; })));

  h.link.clearEvents();
  h.console.clearOutput();
  downloadFile(bytes);
  EXPECT_TRUE(downloadEeprom(h.session));
  EXPECT_TRUE(h.link.instructionsWith(0xC0).empty());
  EXPECT_EQ(h.link.count(LinkEvent::kWaitReady), 0);
  EXPECT_EQ(h.console.output(),
            "load file length = 200\nProgramming\nBytes written to target 200\n"
            "Read back target to verify\nRead 256 target EEPROM bytes\n"
            "Target matches prog.hex\n");

  h.link.clearEvents();
  bytes[199] = static_cast<uint8_t>(bytes[199] ^ 0x5A);
  downloadFile(bytes);
  EXPECT_TRUE(downloadEeprom(h.session));
  auto writes = h.link.instructionsWith(0xC0);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes[2], 199);
  EXPECT_EQ(writes[0].bytes[3], bytes[199]);
  EXPECT_EQ(h.link.eeprom[199], bytes[199]);
}

// A byte the target never took reads back erased; trimming the target's
// trailing 0xFF bytes must not hide it.
TEST_F(Transfer, EepromVerificationCatchesAByteThatStayedErased) {
  h.identifyAs(kAtmega48Row);
  downloadFile({0x12, 0x34});
  h.link.onQuery = [](const IspInstruction& i) -> uint8_t {
    return i.bytes[0] == 0xA0 && i.bytes[2] == 0 ? 0x12 : 0xFF;
  };
  EXPECT_FALSE(downloadEeprom(h.session));
  EXPECT_NE(
      h.console.output().find("\n1 bytes mismatched\nERROR - Target does not match prog.hex\n"),
      std::string::npos);
}

}  // namespace
