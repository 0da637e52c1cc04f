// pellory's link steps of start-up: bind the port library, test for the
// Marlow cable, bring the target into programming mode and report on it.

#include "catalogue/part_record.h"
#include "engine/fuse_explanation.h"
#include "engine/target_flows.h"
#include "frontend/startup.h"
#include "link_lpt/marlow_link.h"
#include "link_lpt/port_library.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

constexpr uint8_t kEnableEcho = 0x53;

void reportFuses(Session& session) {
  Console& console = session.console;
  const uint8_t* fuses = session.target.fuseBytes;  // extended, high, low
  const PartRecord* part = session.currentPart();
  // startupEnable has just read the fuses; they are judged, not read again.
  char check = compareDefaultFuses(session);
  if (!part) {
    console.print("- default fuses unknown\n");
    console.print("   Target fuses: %x %x %x\n", fuses[0], fuses[1], fuses[2]);
    return;
  }
  if (!partHasDefaultFuses(*part)) {
    console.print("- no default fuses are known for this part\n");
    return;
  }
  const uint8_t* defaults = part->defaultFuses;
  bool twoFuses = isHighLowDefaultsRow(session.catalogue, session.target.processorIndex);
  const int count = partFuseCount(*part);
  if (check == 'd') {
    if (twoFuses || count == 2) {
      console.print("- default fuses set: %x %x\n", fuses[1], fuses[2]);
    } else if (count == 1) {
      console.print("- default fuses set: %x\n", fuses[2]);
    } else {
      console.print("- default fuses set: %x %x %x\n", fuses[0], fuses[1], fuses[2]);
    }
    return;
  }
  console.print("- default fuses not set\n");
  if (twoFuses) {
    // This row keeps its high fuse in byte 0 and its low fuse in byte 1.
    console.print("   Default fuses: %x %x    Target fuses: %x %x\n", defaults[0], defaults[1],
                  fuses[1], fuses[2]);
  } else if (count == 2) {
    console.print("   Default fuses: %x %x    Target fuses: %x %x\n", defaults[kHighFuseByte],
                  defaults[kLowFuseByte], fuses[1], fuses[2]);
  } else if (count == 1) {
    console.print("   Default fuses: %x    Target fuses: %x\n", defaults[kLowFuseByte], fuses[2]);
  } else {
    console.print("   Default fuses: %x %x %x    Target fuses: %x %x %x\n", defaults[0],
                  defaults[1], defaults[2], fuses[0], fuses[1], fuses[2]);
  }
}

void reportTarget(Session& session, uint8_t echo) {
  Console& console = session.console;
  if (echo != kEnableEcho) {
    console.print("Target not responding to Enable Serial Programming command\n");
    console.print("Check that the parallel port default address is correct on this computer\n");
    return;
  }
  if (const PartRecord* part = session.currentPart()) {
    console.print("Target %s responding ", part->name);
  } else {
    console.print("Target Processor Unrecognized but responding ");
  }
  reportFuses(session);
  explainReportedFuses(session, 0);
}

}  // namespace

std::unique_ptr<IspLink> startMarlow(Session& session) {
  // Binding belongs before everything else in start-up, but nothing can be
  // seen of it until here, where its failure is reported.
  if (bindPortLibrary() != 0) {
    session.console.print("Can't load port I/O library: %s\n", portLibraryError().c_str());
    return nullptr;
  }
  // Against a simulated chip that runs faster than the datasheet, the waits
  // run faster with it; the real library leaves them at their full length.
  setDelayTimeScale(portLibraryTimeScale());
  auto link = std::make_unique<MarlowLink>(session, boundPortBits());
  if (!cablePresent(link->port())) return nullptr;
  session.link = link.get();
  uint8_t echo = startupEnable(session);
  reportTarget(session, echo);
  // The target stays in programming mode until the end of the first command.
  return link;
}
