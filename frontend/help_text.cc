#include "frontend/help_text.h"

#include <cctype>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include "frontend/profile.h"
#include "run/console.h"

namespace {

const char* const kTarnwickHelp[] = {
    "Command options:\n\n",
    "  -d[f|e]filename - Download Hex file to target flash/eeprom using 'filename'\n",
    "  -u[f|e]filename - Upload target flash/eeprom contents to 'filename'\n",
    "  -ffilename  - Load and execute script file\n",
    "  -sfxx       - Set fill character - default 0xFF\n",
    "  -pl         - Program lock byte - enter twice to activate\n",
    "  -gl         - Get lock byte\n",
    "  -pfa        - Program all 3 fuse bytes\n",
    "  -gf         - Get fuse bytes\n",
    "  -pf[1|2|3]  - Program fuse byte 1,2 or 3\n",
    "  -gf[1|2|3]  - Get fuse byte 1,2 or 3\n",
    "  -gc         - Get calibration byte\n",
    "  -i          - Identify target processor\n",
    "  -s          - Get target processor statistics\n",
    "  -a          - Automatically program fuse bits with defaults\n",
    "  -nv         - Don't verify target\n",
    "  -h          - output help menu\n\n",
    "  Supported AVRs: ATmega48,ATmega88,ATmega168,ATmega16,ATmega32,ATmega128.\n",
    "         ATmega644,ATmega644P,ATmega1280,ATmega1281,ATmega2560,ATmega2561.\n",
    "  Command line commands require preceeding '-' interactive commands don't.\n",
    "  Leave white space between commands.\n\n",
};

const char* const kPelloryHelp[] = {
    "Command options:\n\n",
    "  -d[f|e]filename - download Hex file to target flash/eeprom using 'filename'\n",
    "  -u[f|e]filename - upload target flash/eeprom contents to 'filename'\n",
    "  -ffilename  - Load and execute script file\n",
    "  -sfxx       - Set fill character - default 0xFF\n",
    "  -ce         - Erase chip\n",
    "  -pl         - Program lock byte - enter twice to activate\n",
    "  -gl         - Get lock byte\n",
    "  -pfa        - Program all 3 fuse bytes\n",
    "  -gf         - Get fuse bytes\n",
    "  -pf[1|2|3]  - Program fuse byte 1,2 or 3\n",
    "  -gf[1|2|3]  - Get fuse byte 1,2 or 3\n",
    "  -gc         - Get calibration byte\n",
    "  -i          - Identify target processor\n",
    "  -s          - Get target processor statistics\n",
    "  -a          - Automatically program fuse bits with defaults\n",
    "  -nv         - Don't verify target\n",
    "  -cCOMx      - set serial communication channel to COMx\n",
    "  -bnnnn      - set baud rate to nnnn (2400-57200 default 38400)\n",
    "  -h          - output help menu\n\n",
    "  Supported AVRs: ATmega48,ATmega88,ATmega168,ATmega16,ATmega32,ATmega128.\n",
    "  Command line commands require preceeding '-' interactive commands don't.\n",
    "  Leave white space between commands.\n\n",
};

}  // namespace

const char* const* tarnwickHelpLines() {
  return kTarnwickHelp;
}
size_t tarnwickHelpLineCount() {
  return std::size(kTarnwickHelp);
}
const char* const* pelloryHelpLines() {
  return kPelloryHelp;
}
size_t pelloryHelpLineCount() {
  return std::size(kPelloryHelp);
}

namespace {

constexpr std::string_view kPartsLead = "  Supported AVRs:";
constexpr std::string_view kPartsEnd = "  Command line commands";

// The names the help's "Supported AVRs" lines give, in capitals.
std::set<std::string> partsNamedInHelp(const Profile& profile) {
  std::set<std::string> names;
  bool inList = false;
  for (size_t i = 0; i < profile.helpLineCount; ++i) {
    std::string_view line = profile.helpLines[i];
    if (line.substr(0, kPartsLead.size()) == kPartsLead) {
      inList = true;
      line.remove_prefix(kPartsLead.size());
    } else if (line.substr(0, kPartsEnd.size()) == kPartsEnd) {
      inList = false;
    }
    if (!inList) continue;
    std::string name;
    for (char c : line) {
      if (std::isalnum(static_cast<unsigned char>(c))) {
        name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
      } else if (!name.empty()) {
        names.insert(name);
        name.clear();
      }
    }
  }
  return names;
}

}  // namespace

int partsNotNamedInHelp(const Profile& profile, const PartCatalogue& catalogue) {
  const std::set<std::string> named = partsNamedInHelp(profile);
  int more = 0;
  for (int i = 0; i < catalogue.partCount; ++i) {
    std::string name = catalogue.rows[static_cast<size_t>(i)].name;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (named.count(name) == 0) ++more;
  }
  return more;
}

void printHelp(const Profile& profile, const PartCatalogue& catalogue, Console& console) {
  // The fixed list names the parts every copy knew from the start; the line
  // after it points to the rest.
  for (size_t i = 0; i < profile.helpLineCount; ++i) {
    const std::string_view line = profile.helpLines[i];
    if (line.substr(0, kPartsEnd.size()) == kPartsEnd) {
      console.print("  and %d more: %s --list-parts\n", partsNotNamedInHelp(profile, catalogue),
                    profile.programName);
    }
    console.write(line);
  }
}

void printHelp(const Profile& profile, Console& console) {
  PartCatalogue builtIn;
  fillFullCatalogue(builtIn, profile.partRows());
  printHelp(profile, builtIn, console);
}
