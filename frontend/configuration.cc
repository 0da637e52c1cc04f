#include "frontend/configuration.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalogue/parts_file.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/regular_file.h"
#include "run/run_settings.h"
#include "run/text_util.h"
#include "run/user_folders.h"

namespace {

// Where unknown keys are reported: once per run, naming the file as found.
struct Reporting {
  std::string fileName;
  bool quiet;
};

// White-space separated tokens of a configuration file. A token longer than the
// room is consumed whole and reported as too long, never cut. Lines do not
// matter to the keys, but they are counted so that a stray word can be pointed
// at.
class TokenReader {
 public:
  TokenReader(std::FILE* file, size_t room) : file_(file), room_(room) {}

  enum Result { kToken, kTooLong, kEnd };

  Result next(std::string& token) {
    int c;
    firstOnLine_ = false;
    do {
      c = std::fgetc(file_);
      if (c == '\n') pendingLines_++;
    } while (c != EOF && std::isspace(c));
    if (c == EOF) return kEnd;
    firstOnLine_ = pendingLines_ > 0 || line_ == 0;
    line_ += pendingLines_ + (line_ == 0 ? 1 : 0);
    pendingLines_ = 0;
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
    if (c == '\n') pendingLines_++;
    return tooLong ? kTooLong : kToken;
  }

  // Of the token last read: its line (from 1), and whether it opened the line.
  int line() const { return line_; }
  bool firstOnLine() const { return firstOnLine_; }

 private:
  std::FILE* file_;
  size_t room_;
  int line_ = 0;
  int pendingLines_ = 0;
  bool firstOnLine_ = false;
};

// The first word of a line is where a key belongs, so a word there that is no
// key is most likely a misspelt one. Later words on the line are left alone:
// they are the stray key's value, and the file's format has always let other
// words through silently. '#' words are comments.
void reportUnknownKey(const TokenReader& reader, const std::string& word, const Reporting& where) {
  if (where.quiet || !reader.firstOnLine()) return;
  if (word.empty() || word[0] == '#') return;
  std::fprintf(stderr, "%s:%d: unknown key \"%s\" ignored\n", where.fileName.c_str(), reader.line(),
               word.c_str());
}

void readKorvoConfiguration(TokenReader& reader, RunSettings& settings, Console& console,
                            const Reporting& where) {
  std::string token;
  for (;;) {
    TokenReader::Result got = reader.next(token);
    if (got == TokenReader::kEnd) return;
    if (got == TokenReader::kTooLong) continue;
    bool isBaud = equalsIgnoreCase(token, "baudrate");
    bool isChannel = !isBaud && equalsIgnoreCase(token, "comchannel");
    if (!isBaud && !isChannel) {
      reportUnknownKey(reader, token, where);
      continue;
    }
    std::string value;
    TokenReader::Result valueGot = reader.next(value);
    if (valueGot == TokenReader::kEnd) return;
    if (isChannel) settings.portConfigured = true;
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

void readMarlowConfiguration(TokenReader& reader, RunSettings& settings, Console& console,
                             const Reporting& where) {
  std::string token;
  for (;;) {
    TokenReader::Result got = reader.next(token);
    if (got == TokenReader::kEnd) return;
    if (got == TokenReader::kTooLong) continue;
    if (token != "lptport") {
      reportUnknownKey(reader, token, where);
      continue;
    }
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
  return configurationFilePlaces(profile.programName, name);
}

int readConfiguration(const Profile& profile, RunSettings& settings, Console& console) {
  std::FILE* file = nullptr;
  std::string found;
  for (const std::string& place : configurationPlaces(profile)) {
    // A FIFO or a device in its place must not stall the start.
    file = openRegularStream(place, console);
    if (file != nullptr) {
      found = place.compare(0, 2, "./") == 0 ? place.substr(2) : place;
      break;
    }
  }
  if (file == nullptr) return -1;
  TokenReader reader(file, profile.configTokenRoom);
  // The file is read again after every transfer; its stray words are told once.
  Reporting where = {found, settings.unknownKeysReported};
  if (profile.link == LinkKind::kKorvo) {
    readKorvoConfiguration(reader, settings, console, where);
  } else {
    readMarlowConfiguration(reader, settings, console, where);
  }
  std::fclose(file);
  settings.unknownKeysReported = true;
  return 1;
}

int readPartsFile(PartCatalogue& catalogue, const std::string& path,
                  std::vector<std::string>* messages) {
  // Read at every start from the current folder: a FIFO in its place must
  // not stall the run.
  std::string text, reason;
  if (!readRegularFileText(path, kPartsFileLimit, text, reason)) {
    // One that is there but cannot be read is named: passed over in silence,
    // its parts would simply be missing.
    const std::string line = unreadableFileLine(path, reason, kPartsFileLimit);
    if (!line.empty()) messages->push_back(line);
    return -1;
  }
  return addPartsText(catalogue, path, text, messages);
}

std::string readUserParts(const Profile& profile, PartCatalogue& catalogue,
                          std::vector<std::string>* messages) {
  for (const std::string& place : configurationPlacesFor(profile, "parts.txt")) {
    if (readPartsFile(catalogue, place, messages) >= 0) return place;
  }
  return "";
}
