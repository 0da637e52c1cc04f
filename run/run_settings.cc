#include "run/run_settings.h"

#include "run/console.h"
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
  console.print("Unrecognized baud rate\n");
  return 7;
}

int baudRateFromCode(int code) {
  static const int kRates[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57200, 115200};
  if (code < 0 || code > 9) return 0;
  return kRates[code];
}
