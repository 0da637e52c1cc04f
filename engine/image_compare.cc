// Verification of a download against what was read back.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/flash_pages.h"
#include "engine/memory_transfer.h"
#include "engine/transfer_limits.h"
#include "image/output_file.h"
#include "run/session.h"

namespace {

// A mismatch file that cannot be written fails the command that verified,
// whatever the comparison found: the user asked for the list.
void writeMismatchFile(Session& session, const std::vector<ByteRange>& runs) {
  const std::string& name = session.settings.mismatchFileName;
  const ImageBuffer& expected = *session.images.load;
  const ImageBuffer& actual = *session.images.read;
  std::string text;
  for (const ByteRange& run : runs) {
    for (int32_t i = clampToImage(run.begin); i < clampToImage(run.end); ++i) {
      size_t at = static_cast<size_t>(i);
      if (expected[at] == actual[at]) continue;
      char line[32];
      int length = std::snprintf(line, sizeof line, "%06x %02x %02x\n", static_cast<unsigned>(i),
                                 expected[at], actual[at]);
      text.append(line, static_cast<size_t>(length));
    }
  }
  OutputFile file;
  if (!file.open(name)) {
    session.console.print("Can't open mismatch file %s\n", name.c_str());
    session.console.print("   %s: %s\n", name.c_str(), file.error().c_str());
    session.commandFailed = true;
    return;
  }
  if (!file.write(text.data(), text.size()) || !file.commit()) {
    session.console.print("Can't write mismatch file %s\n", name.c_str());
    session.console.print("   %s: %s\n", name.c_str(), file.error().c_str());
    session.commandFailed = true;
  }
}

}  // namespace

int compareImageRuns(Session& session, const std::vector<ByteRange>& runs) {
  const ImageBuffer& expected = *session.images.load;
  const ImageBuffer& actual = *session.images.read;
  int32_t mismatched = 0;
  for (const ByteRange& run : runs) {
    for (int32_t i = clampToImage(run.begin); i < clampToImage(run.end); ++i) {
      if (expected[static_cast<size_t>(i)] != actual[static_cast<size_t>(i)]) ++mismatched;
    }
  }
  if (mismatched != 0) session.console.print("\n%d bytes mismatched\n", mismatched);
  // Written even when all match, so an old list never passes for this run's.
  if (!session.settings.mismatchFileName.empty()) writeMismatchFile(session, runs);
  return mismatched == 0 ? 1 : 0;
}

int compareImages(Session& session, int32_t n) {
  return compareImageRuns(session, {ByteRange{0, n}});
}

int32_t usedLength(const ImageBuffer& image, int32_t size) {
  for (int32_t i = clampToImage(size); i > 0; --i) {
    if (image[static_cast<size_t>(i - 1)] != 0xFF) return i;
  }
  return 0;
}
