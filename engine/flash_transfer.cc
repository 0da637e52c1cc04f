// Flash: read back, page programming, and the whole download.

#include <algorithm>

#include "catalogue/part_record.h"
#include "engine/isp_instructions.h"
#include "engine/memory_transfer.h"
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

int32_t readFlash(Session& session, int32_t n) {
  n = clampToImage(n);
  ImageBuffer& image = *session.images.read;
  clearReadImage(session.images, 0x00);
  IspLink& link = *session.link;
  ExtendedAddress extended(link);
  ProgressLine progress(session.console, "Flash bytes read: %ld     \r");
  // Whole words are read, so an odd n reads one byte more.
  const int32_t end = (n + 1) & ~1;
  int32_t i = 0;
  while (i < end) {
    uint32_t word = static_cast<uint32_t>(i) / 2;
    extended.select(word);
    // A run never crosses into the next 64K-word block.
    int32_t blockEnd = static_cast<int32_t>(((word >> 16) + 1) << 17);
    int32_t runEnd = std::min({i + static_cast<int32_t>(kIspReadRunBytes), end, blockEnd});
    ispReadFlashBytes(link, static_cast<uint32_t>(i), static_cast<size_t>(runEnd - i),
                      &image[static_cast<size_t>(i)]);
    // One progress step a word, as if each had been read on its own.
    while (i < runEnd) {
      i += 2;
      progress.update(i, i >= end);
    }
  }
  return i;
}

int32_t programFlashCounting(Session& session, int32_t n, int32_t* timeouts) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr || part->flashPageWords <= 0 || part->flashPageWords > 256) return 0;
  n = clampToImage(n);
  const uint32_t pageWords = static_cast<uint32_t>(part->flashPageWords);
  const ImageBuffer& image = *session.images.load;
  IspLink& link = *session.link;
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
  // Only where a read-back follows: a Korvo that dropped loads sent behind
  // its busy command is then caught as a mismatch. Without one, each outcome
  // is read before the next page's loads go out.
  const bool splitWaits = session.settings.verifyMode == 'v';
  auto waitForPage = [&](const char* timeoutMessage) {
    if (splitWaits && link.sendWaitReady()) {
      owedTimeout = timeoutMessage;
    } else if (link.waitReady() < 0) {
      session.console.print("%s", timeoutMessage);
      ++*timeouts;
    }
  };

  uint32_t filled = 0;    // words loaded into the page buffer
  uint32_t pageWord = 0;  // word address of the page being filled
  int32_t a = 0;
  while (a < n) {
    if (filled == 0) extended.select(pageWord);
    // An odd n takes the high byte of the last word from one past the count;
    // n is at most the (even) image size, so that byte is inside the image.
    uint8_t index = static_cast<uint8_t>((static_cast<uint32_t>(a) / 2) % pageWords);
    ispLoadPageLowByte(link, index, image[static_cast<size_t>(a++)]);
    ispLoadPageHighByte(link, index, image[static_cast<size_t>(a++)]);
    progress.update(a, a >= n);
    if (++filled == pageWords) {
      filled = 0;
      collectOwedWait();
      ispWritePage(link, low16(pageWord));
      waitForPage("Error - Flash write timeout    \n");
      pageWord += pageWords;
    }
  }
  if (filled > 0) {
    collectOwedWait();
    ispWritePage(link, low16(pageWord));
    waitForPage("Error - Flash write timeout\n");
  }
  collectOwedWait();
  return n;
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
  int32_t n = load.loadLength;
  // Refused before the erase, so a file meant for a larger part leaves the
  // target as it was.
  if (n > part->flashBytes) {
    console.print("File is larger than the target's flash: %d bytes, %s has %d\n", n, part->name,
                  part->flashBytes);
    return false;
  }

  ispChipErase(*session.link);
  console.print("Erase chip\n");
  if (session.link->waitReady() < 0) {
    console.print("Error - Erase chip timeout\n");
    return false;
  }

  console.print("Programming\n");
  int32_t timeouts = 0;
  n = programFlashCounting(session, n, &timeouts);
  console.print("Bytes written to target %ld   \n", static_cast<long>(n));
  bool ok = timeouts == 0;

  if (session.settings.verifyMode == 'v') {
    console.print("Read back target to verify\n");
    readFlash(session, n);
    if (compareImages(session, n) == 1) {
      console.print("\nTarget matches %s\n", fileName.c_str());
    } else {
      console.print("\nERROR - Target does not match %s\n", fileName.c_str());
      ok = false;
    }
  }
  restoreDefaultSettings(session);
  return ok;
}
