// Where flash programming overlaps a page's wait with the next page's loads:
// only where a read-back follows, which catches a programmer that lost loads
// sent while the target wrote. Without one, each wait ends before the next
// page is loaded.

#include <gtest/gtest.h>

#include <string>

#include "engine/memory_transfer.h"
#include "engine/transfer_limits.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"

namespace {

constexpr int kAtmega32Row = 1;  // 64-word pages
constexpr int32_t kPageBytes = 128;

// "L" for a page's loads, "W" its write, "S" a wait sent and "C" a wait
// completed (collected or waited in one piece).
std::string pageOrder(const ScriptedLink& link) {
  std::string order;
  for (const LinkEvent& event : link.events()) {
    if (event.kind == LinkEvent::kWaitSent) order += "S";
    if (event.kind == LinkEvent::kWaitReady) order += "C";
    if (event.kind == LinkEvent::kSend && event.instruction.bytes[0] == 0x4C) order += "W";
    if (event.kind == LinkEvent::kSend && event.instruction.bytes[0] == 0x40) {
      if (order.empty() || order.back() != 'L') order += "L";
    }
  }
  return order;
}

TEST(PageWaits, OverlapOnlyWhenTheDownloadIsVerified) {
  for (char verify : {'v', 'n'}) {
    SCOPED_TRACE(verify);
    EngineHarness h;
    h.identifyAs(kAtmega32Row);
    h.link.splitWaits = true;
    h.session.settings.verifyMode = verify;
    const std::vector<uint8_t> bytes = randomBytes(3 * kPageBytes, 4);
    std::copy(bytes.begin(), bytes.end(), h.session.images.load->begin());
    int32_t timeouts = 0;
    programFlashCounting(h.session, 3 * kPageBytes, &timeouts);
    EXPECT_EQ(pageOrder(h.link), verify == 'v' ? "LWSLCWSLCWSC" : "LWCLWCLWC");
  }
}

}  // namespace
