// tarnwick's link start-up: find the Korvo (asking for another channel while
// the port will not open), read its sign-on, identify the target and report.

#include <cctype>
#include <string>
#include <vector>

#include "engine/fuse_explanation.h"
#include "engine/programming_mode.h"
#include "engine/target_flows.h"
#include "frontend/startup.h"
#include "link_usb/korvo_link.h"
#include "link_usb/port_diagnosis.h"
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

// The specified question, then the serial devices there are, numbered: on
// Linux the numbered COM channels stand for /dev/ttyS0-8, which a USB Korvo
// never is.
std::vector<std::string> askForChannel(Console& console) {
  console.print("Enter new com channel [1,2,3,4,5,6,7,8,e]: ");
  std::vector<std::string> devices = serialDevicePaths(deviceFoldersFromEnvironment());
  if (!devices.empty()) {
    console.print("\n");
    for (size_t i = 0; i < devices.size(); ++i) {
      console.print("  %zu: %s\n", i + 1, devices[i].c_str());
    }
    console.print("Number of a device above, a device path, or e: ");
  }
  console.flush();
  return devices;
}

// The rest of a path whose '/' was the answer, up to the next white space.
std::string readPathAfterSlash(Console& console) {
  std::string path = "/";
  for (int c = console.readKey(); c >= 0 && !std::isspace(c); c = console.readKey()) {
    path.push_back(static_cast<char>(c));
  }
  return path;
}

// Several USB serial devices and nothing to choose between them: a Korvo and
// a board's own serial port are both likely. Guessing would send the Korvo's
// frames to the board, and the default COM channel is no USB device at all.
// At a terminal the user picks one; anywhere else the run ends naming them.
std::string askForDevice(Console& console, const std::vector<std::string>& devices) {
  console.print("Several USB serial devices and no port named:\n");
  for (size_t i = 0; i < devices.size(); ++i) {
    console.print("  %zu: %s\n", i + 1, devices[i].c_str());
  }
  if (console.isTerminal()) {
    console.print("Number of a device above, a device path, or e: ");
    console.flush();
    const int answer = console.readAnswer();
    const size_t listed = answer >= '1' && answer <= '9' ? static_cast<size_t>(answer - '0') : 0;
    if (answer == '/') return readPathAfterSlash(console);
    if (listed >= 1 && listed <= devices.size()) return devices[listed - 1];
  }
  console.print("No port chosen: name one with --port DEVICE\n");
  console.flush();
  return std::string();
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

bool chooseSerialDevice(Session& session) {
  RunSettings& settings = session.settings;
  if (!settings.portOption.empty() || settings.portConfigured) return true;
  const std::vector<std::string> devices = usbSerialDevices(deviceFoldersFromEnvironment());
  if (devices.empty()) return true;
  const std::string device =
      devices.size() == 1 ? devices.front() : askForDevice(session.console, devices);
  if (device.empty()) return false;
  // Held as --port would be, so that it outlasts every re-read of the file.
  settings.portOption = device;
  applyPortOption(session.profile, device, settings);
  return true;
}

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
    std::vector<std::string> devices = askForChannel(console);
    link->setAwaitSignOn(false);
    int answer = console.readAnswer();
    if (answer < 0 || answer == 'e') break;  // end of input gives up as 'e' does
    size_t listed = answer >= '1' && answer <= '9' ? static_cast<size_t>(answer - '0') : 0;
    if (answer == '/') {
      settings.comDevicePath = readPathAfterSlash(console);
    } else if (listed >= 1 && listed <= devices.size()) {
      settings.comDevicePath = devices[listed - 1];
    } else {
      settings.comChannel = comChannelFromDigit(static_cast<char>(answer), console);
      settings.comDevicePath.clear();  // the channel typed wins over a configured path
    }
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
  if (session.target.responding) explainReportedFuses(session, 0);
  leaveProgrammingMode(session);
  return link;
}
