// tarnwick's link start-up: find the Korvo (asking for another channel while
// the port will not open), read its sign-on, identify the target and report.

#include "engine/programming_mode.h"
#include "engine/target_flows.h"
#include "frontend/startup.h"
#include "link_usb/korvo_link.h"
#include "run/session.h"

namespace {

constexpr uint8_t kEnableEcho = 0x53;

void printChannelHints(Console& console) {
  console.print("\nThe default com channel can be set by creating a text file\n");
  console.print("called sfconfig.txt in the current directory with the two lines:\n\n");
  console.print("   comchannel comx\n");
  console.print("   baudrate 38400\n\n");
  console.print(" where x is the COM port id\n\n");
}

void reportTarget(Session& session, uint8_t echo, char fuseResult) {
  Console& console = session.console;
  if (echo != kEnableEcho) {
    console.print("Target not responding to Enable Serial Programming command\n");
    return;
  }
  const PartRecord* part = session.currentPart();
  const uint8_t* fuses = session.target.fuseBytes;  // extended, high, low
  if (part == nullptr) {
    // No row to compare with: show what the target carries.
    console.print("Target Processor Unrecognized but responding ");
    console.print("- default fuses unknown\n");
    console.print("   Target fuses: %x %x %x\n", fuses[0], fuses[1], fuses[2]);
    return;
  }
  console.print("Target %s responding ", part->name);
  if (!partHasDefaultFuses(*part)) {
    console.print("- no default fuses are known for this part\n");
    return;
  }
  if (fuseResult == 'd') {
    console.print("- default fuses set\n");
    return;
  }
  console.print("- default fuses not set\n");
  const uint8_t* defaults = part->defaultFuses;
  if (isHighLowDefaultsRow(session.catalogue, session.target.processorIndex)) {
    // This row holds its default high fuse in byte 0 and its low fuse in byte 1.
    console.print("   Default fuses: %x %x    Target fuses: %x %x\n", defaults[0], defaults[1],
                  fuses[1], fuses[2]);
  } else if (partFuseCount(*part) == 2) {
    console.print("   Default fuses: %x %x    Target fuses: %x %x\n", defaults[kHighFuseByte],
                  defaults[kLowFuseByte], fuses[1], fuses[2]);
  } else if (partFuseCount(*part) == 1) {
    console.print("   Default fuses: %x    Target fuses: %x\n", defaults[kLowFuseByte], fuses[2]);
  } else {
    console.print("   Default fuses: %x %x %x    Target fuses: %x %x %x\n", defaults[0],
                  defaults[1], defaults[2], fuses[0], fuses[1], fuses[2]);
  }
}

}  // namespace

std::unique_ptr<IspLink> startKorvo(Session& session) {
  Console& console = session.console;
  RunSettings& settings = session.settings;
  auto link = std::make_unique<KorvoLink>(session);
  link->setAwaitSignOn(true);
  bool prompted = false;
  bool chosen = false;

  int opened = link->openProgrammerPort();
  while (opened == -1) {
    prompted = true;
    console.print("Enter new com channel [1,2,3,4,5,6,7,8,e]: ");
    console.flush();
    link->setAwaitSignOn(false);
    int answer = console.readAnswer();
    if (answer < 0 || answer == 'e') break;  // end of input gives up as 'e' does
    settings.comChannel = comChannelFromDigit(static_cast<char>(answer), console);
    settings.comDevicePath.clear();  // the channel typed wins over a configured path
    opened = link->openProgrammerPort();
    if (opened == 1) chosen = true;
  }

  if (prompted) printChannelHints(console);
  console.print(chosen ? "Connected to Korvo\n" : "Output Korvo Signon message:\n");
  bool signedOn = link->checkSignOn();
  if (!signedOn && !chosen) return nullptr;

  console.print("\n\n");
  session.link = link.get();
  uint8_t echo = identifyTarget(session);
  char fuseResult = checkDefaultFuses(session);
  reportTarget(session, echo, fuseResult);
  leaveProgrammingMode(session);
  return link;
}
