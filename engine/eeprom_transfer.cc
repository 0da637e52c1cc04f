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

// Writes the first n bytes of loadImage, or with `held` only those whose value
// differs from what `held` says the target holds.
int32_t writeEepromBytes(Session& session, int32_t n, const ImageBuffer* held,
                         int32_t* timeouts) {
  n = clampToEepromAddresses(n);
  const ImageBuffer& image = *session.images.load;
  IspLink& link = *session.link;
  for (int32_t i = 0; i < n; ++i) {
    const size_t at = static_cast<size_t>(i);
    if (held != nullptr && (*held)[at] == image[at]) continue;
    ispWriteEepromByte(link, static_cast<uint16_t>(i), image[at]);
    if (link.waitReady() < 0) {
      session.console.print("Error - EEPROM write timeout\n");
      ++*timeouts;
    }
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
  // A byte write takes milliseconds and wears the cell; reading the range
  // first costs a windowed read, a fraction of one write per byte.
  readEepromQuietly(session, n);
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
