#pragma once
// The one option record of a run.

#include <cstdint>
#include <string>
#include <vector>

class Console;
struct Profile;

// File names have room for 249 characters; longer names are refused where they
// are given.
constexpr size_t kFileNameRoom = 249;
constexpr int kDefaultComChannel = 1;  // COM2
constexpr int kDefaultBaudCode = 9;    // 115200

struct RunSettings {
  std::string downloadFileName;
  std::string uploadFileName;
  std::string logFileName;
  std::string mismatchFileName;
  char verifyMode = 'v';  // 'v' verify downloads, 'n' do not
  char outputMode = 'n';  // 'n' normal, 'v' verbose, 'q' quiet
  uint8_t fillChar = 0xFF;
  bool logEnabled = false;
  // tarnwick: the programmer's port. A configured path beginning with '/'
  // names the device itself and takes the place of the channel number.
  int comChannel = kDefaultComChannel;
  std::string comDevicePath;
  bool portConfigured = false;  // the configuration file named the port
  int baudCode = kDefaultBaudCode;
  // Outside the reset.
  int hexRecordType = 4;
  int lockArmCount = 0;
  bool noBusyWait = false;
  // The configuration file's unknown keys have been told (once per run).
  bool unknownKeysReported = false;
  // --verify-erased: verification also reads the flash pages a download left
  // to the chip erase, and checks that they hold 0xFF. For the whole run.
  bool verifyErased = false;
  // pellory: the parallel port; only the configuration file moves these.
  uint16_t lptDataPort = 0x378;
  uint16_t lptStatusPort = 0x379;
  uint16_t lptControlPort = 0x37A;
  // --port DEVICE: the link's port for the whole run, put back over the
  // configuration file at every reset. Empty when not given.
  std::string portOption;
};

// Channel and baud tables. Unknown inputs print their message and give the
// documented fallback.
int comChannelFromDigit(char digit, Console& console);
int comChannelFromName(const std::string& name, Console& console);
int baudCodeFromText(const std::string& text, Console& console);
int baudRateFromCode(int code);

// Sets the link's port from a --port value: tarnwick takes COMn (any letter
// case) as a channel and anything else as the device path; pellory takes the
// I/O address in hexadecimal. False, with nothing changed, for a value the
// program cannot use.
bool applyPortOption(const Profile& profile, const std::string& text, RunSettings& settings);
