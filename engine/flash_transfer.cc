// Flash: read back, page programming, and the whole download.

#include <algorithm>
#include <vector>

#include "catalogue/part_record.h"
#include "engine/flash_pages.h"
#include "engine/isp_instructions.h"
#include "engine/memory_transfer.h"
#include "engine/part_check.h"
#include "engine/progress_line.h"
#include "engine/target_flows.h"
#include "engine/transfer_limits.h"
#include "image/download_file.h"
#include "run/session.h"

namespace {

// Flash instructions carry 16 bits of word address; parts above 128 KB take
// bits 23 to 16 from Load Extended Address, which stays in force until the
// next one. It is sent at the start and again at each 64K-word boundary.
class ExtendedAddress {
 public:
  explicit ExtendedAddress(IspLink& link) : link_(link) { ispLoadExtendedAddress(link_, 0); }
  void select(uint32_t word) {
    uint32_t block = word >> 16;
    if (block == block_) return;
    block_ = block;
    ispLoadExtendedAddress(link_, static_cast<uint8_t>(block));
  }

 private:
  IspLink& link_;
  uint32_t block_ = 0;
};

uint16_t low16(uint32_t word) {
  return static_cast<uint16_t>(word & 0xFFFF);
}

}  // namespace

// Without a read-back, each outcome is read before the next page's loads go
// out.
bool usePipelinedWaits(const Session& session) {
  return session.settings.verifyMode == 'v';
}

// Reads the runs into readImage, cleared to 0x00 first. The progress line
// shows how far through the image the reading has come.
int32_t readFlashRuns(Session& session, const std::vector<ByteRange>& runs) {
  ImageBuffer& image = *session.images.read;
  clearReadImage(session.images, 0x00);
  IspLink& link = *session.link;
  ExtendedAddress extended(link);
  ProgressLine progress(session.console, "Flash bytes read: %ld     \r");
  int32_t i = 0;
  for (size_t r = 0; r < runs.size(); ++r) {
    // Whole words are read, so an odd end reads one byte more.
    i = clampToImage(runs[r].begin) & ~1;
    const int32_t end = (clampToImage(runs[r].end) + 1) & ~1;
    const bool lastRun = r + 1 == runs.size();
    while (i < end) {
      uint32_t word = static_cast<uint32_t>(i) / 2;
      extended.select(word);
      // A run of queries never crosses into the next 64K-word block.
      int32_t blockEnd = static_cast<int32_t>(((word >> 16) + 1) << 17);
      int32_t runEnd = std::min({i + static_cast<int32_t>(kIspReadRunBytes), end, blockEnd});
      ispReadFlashBytes(link, static_cast<uint32_t>(i), static_cast<size_t>(runEnd - i),
                        &image[static_cast<size_t>(i)]);
      // One progress step a word, as if each had been read on its own.
      while (i < runEnd) {
        i += 2;
        progress.update(i, lastRun && i >= end);
      }
    }
  }
  return i;
}

int32_t readFlash(Session& session, int32_t n) {
  return readFlashRuns(session, {ByteRange{0, clampToImage(n)}});
}

int32_t programFlashPages(Session& session, const FlashPages& pages, int32_t* timeouts) {
  const ImageBuffer& image = *session.images.load;
  IspLink& link = *session.link;
  const int32_t n = pages.length();
  const uint32_t pageWords = pages.pageWords();
  ExtendedAddress extended(link);
  ProgressLine progress(session.console, "Bytes written to target: %ld  \r");

  // A link that can split the wait for a page write sends it and goes on
  // loading the next page while the target writes; the outcome is taken just
  // before the next page write (or at the end), with the same message.
  const char* owedTimeout = nullptr;
  auto collectOwedWait = [&] {
    if (owedTimeout != nullptr && link.collectWaitReady() < 0) {
      session.console.print("%s", owedTimeout);
      ++*timeouts;
    }
    owedTimeout = nullptr;
  };
  auto waitForPage = [&](const char* timeoutMessage) {
    if (usePipelinedWaits(session) && link.sendWaitReady()) {
      owedTimeout = timeoutMessage;
    } else if (link.waitReady() < 0) {
      session.console.print("%s", timeoutMessage);
      ++*timeouts;
    }
  };

  for (int32_t page = 0; page < pages.pageCount(); ++page) {
    const ByteRange loaded = pages.loadedBytes(page);
    if (!pages.written(page)) {
      // Counted as done: the erase left these bytes as the image has them.
      progress.update(loaded.end, loaded.end >= n);
      continue;
    }
    const uint32_t pageWord = static_cast<uint32_t>(loaded.begin) / 2;
    extended.select(pageWord);
    for (int32_t a = loaded.begin; a < loaded.end;) {
      uint8_t index = static_cast<uint8_t>((static_cast<uint32_t>(a) / 2) % pageWords);
      ispLoadPageLowByte(link, index, image[static_cast<size_t>(a++)]);
      ispLoadPageHighByte(link, index, image[static_cast<size_t>(a++)]);
      progress.update(a, a >= n);
    }
    collectOwedWait();
    ispWritePage(link, low16(pageWord));
    const bool wholePage = loaded.end - loaded.begin == pages.pageBytes();
    waitForPage(wholePage ? "Error - Flash write timeout    \n" : "Error - Flash write timeout\n");
  }
  collectOwedWait();
  return n;
}

int32_t programFlashCounting(Session& session, int32_t n, int32_t* timeouts) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr || part->flashPageWords <= 0 || part->flashPageWords > 256) return 0;
  return programFlashPages(
      session, FlashPages::every(n, static_cast<uint32_t>(part->flashPageWords)), timeouts);
}

int32_t programFlash(Session& session, int32_t n) {
  int32_t timeouts = 0;
  return programFlashCounting(session, n, &timeouts);
}

bool downloadFlash(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  Console& console = session.console;
  const std::string fileName = session.settings.downloadFileName;

  // The whole file is read and checked before the erase: a file that cannot
  // be read or holds no flash data leaves the target as it was.
  const DownloadLoad load = loadDownloadFile(fileName, ImageMemory::kFlash, *session.images.load,
                                             session.settings.fillChar, console);
  if (load.outcome != DownloadOutcome::kLoaded) return false;
  if (!checkElfBeforeErase(session, fileName, load.elf)) return false;
  int32_t n = load.loadLength;
  // Refused before the erase, so a file meant for a larger part leaves the
  // target as it was.
  if (n > part->flashBytes) {
    console.print("File is larger than the target's flash: %d bytes, %s has %d\n", n, part->name,
                  part->flashBytes);
    return false;
  }

  if (part->flashPageWords <= 0 || part->flashPageWords > 256) return false;
  const uint32_t pageWords = static_cast<uint32_t>(part->flashPageWords);

  ispChipErase(*session.link);
  console.print("Erase chip\n");
  if (session.link->waitReady() < 0) {
    console.print("Error - Erase chip timeout\n");
    return false;
  }

  console.print("Programming\n");
  // The erase succeeded (or, in the fast variant, was sent), so the pages the
  // image leaves erased are already right.
  const FlashPages pages = FlashPages::leavingErased(*session.images.load, n, pageWords);
  int32_t timeouts = 0;
  n = programFlashPages(session, pages, &timeouts);
  console.print("Bytes written to target %ld   \n", static_cast<long>(n));
  bool ok = timeouts == 0;

  if (session.settings.verifyMode == 'v') {
    console.print("Read back target to verify\n");
    // The pages left out hold 0xFF in the image, so checking them as well is
    // the same comparison over every page.
    const std::vector<ByteRange> runs = pages.readBackRuns(session.settings.verifyErased);
    readFlashRuns(session, runs);
    if (compareImageRuns(session, runs) == 1) {
      console.print("\nTarget matches %s\n", fileName.c_str());
    } else {
      console.print("\nERROR - Target does not match %s\n", fileName.c_str());
      ok = false;
    }
  }
  restoreDefaultSettings(session);
  return ok;
}
