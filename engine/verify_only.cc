// Comparing a memory of the target with a file, writing nothing: whether a
// board still holds a given firmware. The reading, the count and the verdict
// lines are the download's own verification, so the two read alike.

#include <algorithm>
#include <vector>

#include "catalogue/part_record.h"
#include "engine/flash_pages.h"
#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "engine/transfer_limits.h"
#include "image/download_file.h"
#include "run/session.h"

namespace {

// The file into loadImage, refused when it does not fit the memory: its
// length, or -1 when nothing is to be compared (the reason printed).
int32_t loadForComparison(Session& session, ImageMemory memory, int32_t room, const char* what,
                          const char* partName) {
  const std::string& fileName = session.settings.downloadFileName;
  const DownloadLoad load = loadDownloadFile(fileName, memory, *session.images.load,
                                             session.settings.fillChar, session.console);
  if (load.outcome != DownloadOutcome::kLoaded) return -1;
  if (load.loadLength > room) {
    session.console.print("File is larger than the target's %s: %d bytes, %s has %d\n", what,
                          load.loadLength, partName, room);
    return -1;
  }
  return load.loadLength;
}

}  // namespace

bool verifyFlashOnly(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  bool ok = false;
  if (part != nullptr && part->flashPageWords > 0 && part->flashPageWords <= 256) {
    const std::string fileName = session.settings.downloadFileName;
    const int32_t n =
        loadForComparison(session, ImageMemory::kFlash, part->flashBytes, "flash", part->name);
    if (n >= 0) {
      Console& console = session.console;
      console.print("Read back target to verify\n");
      // The pages a download would leave erased are compared only with
      // --verify-erased, as the download's verification does.
      const FlashPages pages = FlashPages::leavingErased(
          *session.images.load, n, static_cast<uint32_t>(part->flashPageWords));
      const std::vector<ByteRange> runs = pages.readBackRuns(session.settings.verifyErased);
      readFlashRuns(session, runs);
      ok = compareImageRuns(session, runs) == 1;
      console.print(ok ? "\nTarget matches %s\n" : "\nERROR - Target does not match %s\n",
                    fileName.c_str());
    }
  }
  restoreDefaultSettings(session);
  return ok;
}

bool verifyEepromOnly(Session& session) {
  const PartRecord* part = requireRecognisedPart(session);
  bool ok = false;
  if (part != nullptr) {
    const std::string fileName = session.settings.downloadFileName;
    const int32_t loaded =
        loadForComparison(session, ImageMemory::kEeprom, part->eepromBytes, "EEPROM", part->name);
    if (loaded >= 0) {
      Console& console = session.console;
      console.print("Read back target to verify\n");
      readEeprom(session, part->eepromBytes);
      // As after a download: the target's trailing erased bytes are left out,
      // the file's bytes never.
      const int32_t compared =
          std::max(usedLength(*session.images.read, part->eepromBytes), loaded);
      ok = compareImages(session, compared) == 1;
      console.print(ok ? "Target matches %s\n" : "ERROR - Target does not match %s\n",
                    fileName.c_str());
    }
  }
  restoreDefaultSettings(session);
  return ok;
}
