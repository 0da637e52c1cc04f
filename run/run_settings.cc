#include "run/run_settings.h"

#include <cstdlib>

#include "run/console.h"
#include "run/profile.h"
#include "run/text_util.h"

int comChannelFromDigit(char digit, Console& console) {
  if (digit >= '1' && digit <= '9') return digit - '1';
  console.print("Unrecognized com channel: com%c\n", digit);
  return 0;
}

int comChannelFromName(const std::string& name, Console& console) {
  static const char* const kNames[] = {"com1", "com2", "com3", "com4",  "com5", "com6",
                                       "com7", "com8", "com9", "com10", "com11"};
  for (int i = 0; i < 11; ++i) {
    if (equalsIgnoreCase(name, kNames[i])) return i;
  }
  console.print("Unrecognized com channel: %s\n", name.c_str());
  return 0;
}

int baudCodeFromText(const std::string& text, Console& console) {
  static const char* const kTexts[] = {"2400", "4800", "9600", "19200", "38400", "57200", "115200"};
  for (int i = 0; i < 7; ++i) {
    if (text == kTexts[i]) return i + 3;
  }
  // The rate every UART and every other program calls 57600 selects the code
  // that the table spells 57200.
  if (text == "57600") return 8;
  console.print("Unrecognized baud rate\n");
  return 7;
}

int baudRateFromCode(int code) {
  static const int kRates[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57200, 115200};
  if (code < 0 || code > 9) return 0;
  return kRates[code];
}

namespace {

// "COM3" (any letter case) is channel index 2; false for anything else.
bool channelFromPortOption(const std::string& text, int& channel) {
  if (text.size() < 4 || text.size() > 6 || !prefixEqualsIgnoreCase(text, "com", 3)) return false;
  int number = 0;
  for (size_t i = 3; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    number = number * 10 + (text[i] - '0');
  }
  if (number < 1) return false;
  channel = number - 1;
  return true;
}

// COM, COM0, COM-1 or COM1x: a channel mistyped, not a file in the current
// folder ("./COM0" still names one, and so does "combo").
bool mistypedChannel(const std::string& text) {
  if (text.size() < 3 || !prefixEqualsIgnoreCase(text, "com", 3)) return false;
  if (text.size() == 3) return true;
  const char next = text[3];
  return (next >= '0' && next <= '9') || next == '-' || next == '+';
}

}  // namespace

bool applyPortOption(const Profile& profile, const std::string& text, RunSettings& settings) {
  if (text.empty()) return false;
  if (profile.link == LinkKind::kKorvo) {
    int channel = 0;
    if (channelFromPortOption(text, channel)) {
      settings.comChannel = channel;
      settings.comDevicePath.clear();
    } else if (mistypedChannel(text)) {
      return false;
    } else {
      settings.comDevicePath = text;
    }
    return true;
  }
  // The whole value must be the address: a stray character is a typing error,
  // not something to read past as the configuration file does.
  char* end = nullptr;
  unsigned long address = std::strtoul(text.c_str(), &end, 16);
  if (text[0] == '-' || text[0] == '+' || *end != '\0' || address > 0xFFFD) return false;
  settings.lptDataPort = static_cast<uint16_t>(address);
  settings.lptStatusPort = static_cast<uint16_t>(address + 1);
  settings.lptControlPort = static_cast<uint16_t>(address + 2);
  return true;
}
