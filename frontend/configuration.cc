#include "frontend/configuration.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalogue/parts_file.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/run_settings.h"
#include "run/text_util.h"

namespace {

// White-space separated tokens of a configuration file. A token longer than the
// room is consumed whole and reported as too long, never cut.
class TokenReader {
 public:
  TokenReader(std::FILE* file, size_t room) : file_(file), room_(room) {}

  enum Result { kToken, kTooLong, kEnd };

  Result next(std::string& token) {
    int c;
    do {
      c = std::fgetc(file_);
    } while (c != EOF && std::isspace(c));
    if (c == EOF) return kEnd;
    token.clear();
    bool tooLong = false;
    while (c != EOF && !std::isspace(c)) {
      if (token.size() < room_) {
        token.push_back(static_cast<char>(c));
      } else {
        tooLong = true;
      }
      c = std::fgetc(file_);
    }
    return tooLong ? kTooLong : kToken;
  }

 private:
  std::FILE* file_;
  size_t room_;
};

void readKorvoConfiguration(TokenReader& reader, RunSettings& settings, Console& console) {
  std::string token;
  for (;;) {
    TokenReader::Result got = reader.next(token);
    if (got == TokenReader::kEnd) return;
    if (got == TokenReader::kTooLong) continue;
    bool isBaud = equalsIgnoreCase(token, "baudrate");
    bool isChannel = !isBaud && equalsIgnoreCase(token, "comchannel");
    if (!isBaud && !isChannel) continue;
    std::string value;
    TokenReader::Result valueGot = reader.next(value);
    if (valueGot == TokenReader::kEnd) return;
    if (isBaud) {
      // A value too long to be any rate is as unrecognised as a wrong one.
      settings.baudCode =
          baudCodeFromText(valueGot == TokenReader::kTooLong ? std::string() : value, console);
    } else if (valueGot == TokenReader::kToken && value[0] == '/') {
      settings.comDevicePath = value;
    } else {
      settings.comDevicePath.clear();
      settings.comChannel = comChannelFromName(value, console);
    }
  }
}

void readMarlowConfiguration(TokenReader& reader, RunSettings& settings, Console& console) {
  std::string token;
  for (;;) {
    TokenReader::Result got = reader.next(token);
    if (got == TokenReader::kEnd) return;
    if (got == TokenReader::kTooLong || token != "lptport") continue;
    std::string value;
    TokenReader::Result valueGot = reader.next(value);
    if (valueGot == TokenReader::kEnd) {
      console.print("Unrecognized lptport value\n");
      return;
    }
    unsigned long address = 0;
    // The status and control registers sit one and two above the data register,
    // so those must still be 16-bit addresses too.
    if (valueGot == TokenReader::kToken && scanHex(value, address) && address <= 0xFFFD) {
      settings.lptDataPort = static_cast<uint16_t>(address);
      settings.lptStatusPort = static_cast<uint16_t>(address + 1);
      settings.lptControlPort = static_cast<uint16_t>(address + 2);
    } else {
      console.print("Unrecognized lptport value: %s\n", value.c_str());
    }
  }
}

}  // namespace

std::vector<std::string> configurationPlaces(const Profile& profile) {
  return configurationPlacesFor(profile, profile.configFileName);
}

std::vector<std::string> configurationPlacesFor(const Profile& profile, const std::string& name) {
  const std::string program = profile.programName;
  std::vector<std::string> places = {"./" + name};
  // XDG's base-directory rules ignore a relative XDG_CONFIG_HOME.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    places.push_back(std::string(xdg) + "/" + program + "/" + name);
  } else if (home != nullptr && home[0] != '\0') {
    places.push_back(std::string(home) + "/.config/" + program + "/" + name);
  }
  const char* etc = std::getenv("AVRISP_ETC_ROOT");
  places.push_back(std::string(etc != nullptr && etc[0] != '\0' ? etc : "/etc") + "/" + program +
                   "/" + name);
  return places;
}

int readConfiguration(const Profile& profile, RunSettings& settings, Console& console) {
  std::FILE* file = nullptr;
  for (const std::string& place : configurationPlaces(profile)) {
    file = std::fopen(place.c_str(), "r");
    if (file != nullptr) break;
  }
  if (file == nullptr) return -1;
  TokenReader reader(file, profile.configTokenRoom);
  if (profile.link == LinkKind::kKorvo) {
    readKorvoConfiguration(reader, settings, console);
  } else {
    readMarlowConfiguration(reader, settings, console);
  }
  std::fclose(file);
  return 1;
}

std::string readUserParts(const Profile& profile, PartCatalogue& catalogue,
                          std::vector<std::string>* messages) {
  for (const std::string& place : configurationPlacesFor(profile, "parts.txt")) {
    if (readPartsFile(catalogue, place, messages) >= 0) return place;
  }
  return "";
}
