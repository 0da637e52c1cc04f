// EEPROM: read back, byte programming, and the whole download.

#include <algorithm>

#include "catalogue/part_record.h"
#include "engine/isp_instructions.h"
#include "engine/memory_transfer.h"
#include "engine/part_check.h"
#include "engine/target_flows.h"
#include "engine/transfer_limits.h"
#include "image/download_file.h"
#include "run/session.h"

namespace {
// EEPROM instructions carry a 16-bit byte address.
constexpr int32_t kEepromAddressRoom = 0x10000;

int32_t clampToEepromAddresses(int32_t n) {
  return std::min(clampToImage(n), kEepromAddressRoom);
}

// The first n bytes into readImage, cleared to 0x00 first, without a word on
// the console.
void readEepromQuietly(Session& session, int32_t n) {
  clearReadImage(session.images, 0x00);
  ImageBuffer& image = *session.images.read;
  for (int32_t i = 0; i < n; i += static_cast<int32_t>(kIspReadRunBytes)) {
    size_t run = std::min(kIspReadRunBytes, static_cast<size_t>(n - i));
    ispReadEepromBytes(*session.link, static_cast<uint16_t>(i), run,
                       &image[static_cast<size_t>(i)]);
  }
}

// The waits of one download's writes. Where a read-back follows and the link
// can split a wait, it is sent and its outcome taken a few writes later (or
// at the end), so the next writes' bytes travel while the chip writes and no
// round trip stands between two writes; otherwise each outcome is read at
// once. A 4-byte page goes over the Korvo's line in about 4 ms, so eight
// owed outcomes outlast a 16 ms round trip twice over.
class EepromWaits {
 public:
  static constexpr int kOwedWaits = 8;

  EepromWaits(Session& session, int32_t* timeouts)
      : session_(session), timeouts_(timeouts), pipelined_(usePipelinedWaits(session)) {}
  ~EepromWaits() {
    while (owed_ > 0) collectOldest();
  }
  void afterWrite() {
    if (pipelined_ && session_.link->sendWaitReady()) {
      if (++owed_ > kOwedWaits) collectOldest();
    } else if (session_.link->waitReady() < 0) {
      fail();
    }
  }

 private:
  void collectOldest() {
    --owed_;
    if (session_.link->collectWaitReady() < 0) fail();
  }
  void fail() {
    session_.console.print("Error - EEPROM write timeout\n");
    ++*timeouts_;
  }
  Session& session_;
  int32_t* timeouts_;
  bool pipelined_;
  int owed_ = 0;
};

// Bytes per page of Load/Write EEPROM Memory Page, or 0 where bytes are
// written one by one. Every datasheet we have read whose instruction set
// lacks Poll RDY/BSY (ATmega8, ATmega32: 2486AA Table 98, 8155I Table 29-16)
// lacks the EEPROM page instructions too, so such a part is written by bytes
// whatever its page size says.
int32_t eepromPageSize(const PartRecord* part) {
  if (part == nullptr || !part->hasPollReady) return 0;
  const int32_t bytes = part->eepromPageBytes;
  return bytes > 0 && bytes <= 256 && (bytes & (bytes - 1)) == 0 ? bytes : 0;
}

// Writes the first n bytes of loadImage, or with `held` only those whose value
// differs from what `held` says the target holds.
int32_t writeEepromBytes(Session& session, int32_t n, const ImageBuffer* held,
                         int32_t* timeouts) {
  n = clampToEepromAddresses(n);
  const ImageBuffer& image = *session.images.load;
  IspLink& link = *session.link;
  EepromWaits waits(session, timeouts);
  for (int32_t i = 0; i < n; ++i) {
    const size_t at = static_cast<size_t>(i);
    if (held != nullptr && (*held)[at] == image[at]) continue;
    // Sent behind the last write's busy wait, which the Korvo keeps until
    // the chip is done.
    ispWriteEepromByte(link, static_cast<uint16_t>(i), image[at]);
    waits.afterWrite();
  }
  return n;
}

// Writes each page holding a byte of the first n that differs from `held`,
// whole: the bytes past n keep what `held` has for them. `held` covers the
// last page to its end.
int32_t writeEepromPages(Session& session, int32_t n, const ImageBuffer& held, int32_t pageBytes,
                         int32_t* timeouts) {
  n = clampToEepromAddresses(n);
  const ImageBuffer& image = *session.images.load;
  IspLink& link = *session.link;
  EepromWaits waits(session, timeouts);
  for (int32_t page = 0; page < n; page += pageBytes) {
    const int32_t fileEnd = std::min(page + pageBytes, n);
    if (std::equal(image.begin() + page, image.begin() + fileEnd, held.begin() + page)) continue;
    for (int32_t i = page; i < page + pageBytes; ++i) {
      const size_t at = static_cast<size_t>(i);
      ispLoadEepromPage(link, static_cast<uint16_t>(i), i < n ? image[at] : held[at]);
    }
    ispWriteEepromPage(link, static_cast<uint16_t>(page));
    waits.afterWrite();
  }
  return n;
}

}  // namespace

void readEeprom(Session& session, int32_t n) {
  n = clampToEepromAddresses(n);
  session.console.print("Read %d target EEPROM bytes\n", n);
  readEepromQuietly(session, n);
}

int32_t programEepromCounting(Session& session, int32_t n, int32_t* timeouts) {
  return writeEepromBytes(session, n, nullptr, timeouts);
}

int32_t programEepromChanges(Session& session, int32_t n, int32_t* timeouts) {
  n = clampToEepromAddresses(n);
  const PartRecord* part = session.currentPart();
  int32_t pageBytes = eepromPageSize(part);
  // A write takes milliseconds and wears the cells; reading the range first
  // costs a windowed read, a fraction of one write per byte. With pages, the
  // read runs to the end of the last page, whose bytes past the file are
  // written back as they are.
  int32_t readEnd = n;
  if (pageBytes > 0) {
    const int32_t pagesEnd = (n + pageBytes - 1) / pageBytes * pageBytes;
    // A last page running past the part's EEPROM is not one the datasheet
    // has: such a part is written by bytes.
    if (pagesEnd <= std::min(part->eepromBytes, clampToEepromAddresses(pagesEnd))) {
      readEnd = pagesEnd;
    } else {
      pageBytes = 0;
    }
  }
  readEepromQuietly(session, readEnd);
  if (pageBytes > 0) {
    return writeEepromPages(session, n, *session.images.read, pageBytes, timeouts);
  }
  return writeEepromBytes(session, n, session.images.read.get(), timeouts);
}

int32_t programEeprom(Session& session, int32_t n) {
  int32_t timeouts = 0;
  return programEepromCounting(session, n, &timeouts);
}

bool downloadEeprom(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) {
    restoreDefaultSettings(session);
    return false;
  }
  Console& console = session.console;
  const std::string fileName = session.settings.downloadFileName;
  bool ok = true;
  int32_t loaded = 0;

  const DownloadLoad load = loadDownloadFile(fileName, ImageMemory::kEeprom, *session.images.load,
                                             session.settings.fillChar, console);
  if (load.outcome == DownloadOutcome::kRefused ||
      (load.outcome == DownloadOutcome::kLoaded &&
       !checkElfBeforeErase(session, fileName, load.elf))) {
    restoreDefaultSettings(session);
    return false;
  }
  if (load.outcome == DownloadOutcome::kUnreadable) {
    // As when the file is missing: the verification below still runs.
    ok = false;
  } else {
    loaded = load.loadLength;
    if (loaded > part->eepromBytes) {
      console.print("File is larger than the target's EEPROM: %d bytes, %s has %d\n", loaded,
                    part->name, part->eepromBytes);
      restoreDefaultSettings(session);
      return false;
    }
    console.print("load file length = %d\n", loaded);
    console.print("Programming\n");
    int32_t timeouts = 0;
    int32_t written = programEepromChanges(session, loaded, &timeouts);
    console.print("Bytes written to target %d\n", written);
    ok = timeouts == 0;
  }

  if (session.settings.verifyMode == 'v') {
    console.print("Read back target to verify\n");
    readEeprom(session, part->eepromBytes);
    // Trailing erased bytes on the target are left out, but never the loaded
    // data: a byte that stayed 0xFF where the file wrote something else is a
    // failed write, not trailing space.
    int32_t compared = std::max(usedLength(*session.images.read, part->eepromBytes), loaded);
    if (compareImages(session, compared) == 1) {
      console.print("Target matches %s\n", fileName.c_str());
    } else {
      console.print("ERROR - Target does not match %s\n", fileName.c_str());
      ok = false;
    }
  }
  restoreDefaultSettings(session);
  return ok;
}
