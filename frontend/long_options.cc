#include "frontend/long_options.h"

#include <cctype>
#include <cstdlib>

#include "catalogue/part_record.h"
#include "frontend/command_table.h"
#include "frontend/configuration.h"
#include "frontend/fuse_decoding.h"
#include "frontend/help_text.h"
#include "frontend/profile.h"
#include "link_usb/port_diagnosis.h"
#include "run/console.h"
#include "run/run_settings.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

// "--name=value" or "--name value"; false when the name differs. A missing
// value leaves `value` empty.
bool takeValued(const std::string& name, int argc, char** argv, int& i, std::string& value) {
  std::string argument = argv[i];
  if (argument == name) {
    value = i + 1 < argc ? argv[++i] : "";
    return true;
  }
  if (argument.compare(0, name.size() + 1, name + "=") == 0) {
    value = argument.substr(name.size() + 1);
    return true;
  }
  return false;
}

// One path a line, so that a script or the shell's completion can take them as
// they are; when there are none, standard error says where we looked.
void listSerialDevices(Console& console, std::FILE* errors) {
  DeviceFolders folders = deviceFoldersFromEnvironment();
  std::vector<std::string> devices = serialDevicePaths(folders);
  for (const std::string& device : devices) console.print("%s\n", device.c_str());
  if (devices.empty()) {
    std::fprintf(errors,
                 "No serial devices found (looked for %s/serial/by-id/*, %s/ttyUSB*, %s/ttyACM*)\n",
                 folders.dev.c_str(), folders.dev.c_str(), folders.dev.c_str());
  }
}

// The part name and two or three fuse bytes after --decode-fuses; returns the
// index of the last argument taken.
int takeDecodeArguments(int argc, char** argv, int i, LongOptions& options) {
  options.decodeFuses = true;
  constexpr int kMostArguments = 4;
  while (i + 1 < argc && argv[i + 1] != nullptr &&
         static_cast<int>(options.decodeArguments.size()) < kMostArguments &&
         argv[i + 1][0] != '-') {
    options.decodeArguments.push_back(argv[++i]);
  }
  if (options.decodeArguments.size() < 3) {
    options.refusal = "option '--decode-fuses' needs a part name and its low and high fuse bytes";
  } else if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '-') {
    options.refusal = std::string("option '--decode-fuses' takes at most three fuse bytes; '") +
                      argv[i + 1] + "' is one too many";
  }
  return i;
}

// --loop alone loops until stopped; --loop=N ends after N boards.
void takeLoop(const std::string& argument, LongOptions& options) {
  options.boards.loop = true;
  if (argument.size() == 6) return;
  const std::string count = argument.substr(7);
  char* end = nullptr;
  const unsigned long long boards = std::strtoull(count.c_str(), &end, 10);
  if (count.empty() || !std::isdigit(static_cast<unsigned char>(count[0])) || *end != '\0' ||
      boards == 0) {
    options.refusal = "'" + count + "' is no number of boards for --loop";
    return;
  }
  options.boards.boardLimit = boards;
}

void checkBoardOptions(LongOptions& options) {
  const BoardRun& boards = options.boards;
  if (boards.serialGiven != !boards.serial.counterFile.empty()) {
    options.refusal = "options '--serial' and '--serial-counter' go together";
  } else if (boards.active() && options.commandArguments.size() < 2 && !options.endRun()) {
    options.refusal = "options '--loop', '--serial' and '--record' need commands to run";
  }
}

}  // namespace

LongOptions readLongOptions(const Profile& profile, int argc, char** argv) {
  LongOptions options;
  if (argc > 0) options.commandArguments.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i] != nullptr ? argv[i] : "";
    if (argument.compare(0, 2, "--") != 0) {
      options.commandArguments.push_back(argv[i]);
      continue;
    }
    std::string value;
    if (argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "--no-wait") {
      options.noWait = true;
    } else if (argument == "--list-ports" && profile.link == LinkKind::kKorvo) {
      options.listPorts = true;
    } else if (argument == "--verify-erased") {
      options.verifyErased = true;
    } else if (argument == "--force-fuses") {
      options.forceFuses = true;
    } else if (argument == "--force-part") {
      options.forcePart = true;
    } else if (argument == "--explain-fuses") {
      options.explainFuses = true;
    } else if (argument == "--decode-fuses") {
      i = takeDecodeArguments(argc, argv, i, options);
    } else if (argument == "--list-parts") {
      options.listParts = true;
    } else if (argument == "--list-commands") {
      options.listCommands = true;
    } else if (argument == "--loop" || argument.compare(0, 7, "--loop=") == 0) {
      takeLoop(argument, options);
    } else if (takeValued("--serial", argc, argv, i, value)) {
      std::string reason;
      options.boards.serialGiven = parseSerialPlan(value, options.boards.serial, reason);
      if (!options.boards.serialGiven) options.refusal = "--serial: " + reason;
    } else if (takeValued("--serial-counter", argc, argv, i, value)) {
      options.boards.serial.counterFile = value;
      if (value.empty()) options.refusal = "option '--serial-counter' needs a file name";
    } else if (takeValued("--record", argc, argv, i, value)) {
      options.boards.recordFile = value;
      if (value.empty()) options.refusal = "option '--record' needs a file name";
    } else if (takeValued("--port", argc, argv, i, value)) {
      RunSettings scratch;
      if (value.empty()) {
        options.refusal = "option '--port' needs a value";
      } else if (!applyPortOption(profile, value, scratch)) {
        options.refusal = "'" + value + "' is not a port for --port";
      } else {
        options.port = value;
      }
    } else {
      options.refusal = "unknown option '" + argument + "'";
    }
    if (!options.refusal.empty()) break;
  }
  if (options.refusal.empty()) checkBoardOptions(options);
  options.commandArguments.push_back(nullptr);  // as argv ends
  return options;
}

void printLongOptionHelp(const Profile& profile, Console& console) {
  console.print("Usage: %s [long options] [-command ...]\n\n", profile.programName);
  console.print("Long options, taken before start-up (they are not commands):\n\n");
  console.print("  --help          print this text and exit\n");
  console.print("  --version       print the program's name and version and exit\n");
  console.write(profile.portOptionHelp);
  if (profile.link == LinkKind::kKorvo) {
    console.print("  --list-ports    print the serial devices present, one a line, and exit\n");
  }
  if (profile.waitForKeyAtEnd) {
    console.print("  --no-wait       end the run without waiting for a key\n");
  }
  console.print("  --verify-erased verification also reads the flash pages left erased\n");
  console.print("  --force-fuses   write fuses that end serial programming without asking twice\n");
  console.print("  --explain-fuses follow every fuse report with its bits by name\n");
  console.print("  --force-part    program an ELF file built for another part than the target\n");
  console.print("  --decode-fuses PART LOW HIGH [EXT]\n");
  console.print("                  print the fuse bytes bit by bit and exit; no hardware\n");
  console.print("  --list-parts    list every part the program knows (built in and from\n"
                "                  parts.txt) and exit\n");
  console.print("  --list-commands list the command words, one a line, and exit\n");
  console.print("  --loop[=N]      after the commands, wait for the board to be unplugged and\n"
                "                  the next plugged in, and run them again (N boards at most)\n");
  console.print("  --serial MEMORY:ADDRESS:BYTES[:le|be][:bin|ascii]\n"
                "                  write each board's serial number there after its firmware\n");
  console.print("  --serial-counter FILE\n"
                "                  the file holding the next serial number\n");
  console.print("  --record FILE   add a CSV line per board: files, serial, fuses, result\n");
  console.print(
      "\nCommands besides those above:\n\n"
      "  -dcfilename - program flash, EEPROM, fuses and lock from one ELF file\n"
      "  -ucfilename - save flash, EEPROM, fuses, lock and signature to one ELF file\n");
  console.print("\n%s is read from the first of these that exists:\n", profile.configFileName);
  for (const std::string& place : configurationPlaces(profile)) {
    console.print("  %s\n", place.c_str());
  }
  console.print("parts.txt, your own parts, one a line, is read from the first of these:\n");
  for (const std::string& place : configurationPlacesFor(profile, "parts.txt")) {
    console.print("  %s\n", place.c_str());
  }
  // Say where this user's calibration actually lives, as for the configuration.
  CalibrationPlaces calibration = calibrationPlaces(profile.programName);
  console.print(
      "gcal.txt, the delay calibration, is read from the current directory when it is\n"
      "there (and measured into it again there); otherwise it is kept in\n");
  console.print("  %s/\n", calibration.cacheFolder.empty() ? "." : calibration.cacheFolder.c_str());
}

int answerLongOptions(const Profile& profile, const LongOptions& options, Console& console,
                      std::FILE* errors) {
  if (!options.refusal.empty()) {
    std::fprintf(errors, "%s: %s\nTry '%s --help' for more information.\n", profile.programName,
                 options.refusal.c_str(), profile.programName);
    return kExitCommandFailed;
  }
  if (options.decodeFuses) {
    int status = decodeFuses(profile, options.decodeArguments, console, errors);
    console.flush();
    return status;
  }
  if (options.listParts && !options.help && !options.version) {
    printPartList(profile, console, errors);
  } else if (options.help) {
    // The count takes in parts.txt, as --list-parts does; what is wrong in
    // it is for --list-parts and the run to say.
    PartCatalogue catalogue;
    fillFullCatalogue(catalogue, profile.partRows());
    std::vector<std::string> unused;
    readUserParts(profile, catalogue, &unused);
    printHelp(profile, catalogue, console);
    printLongOptionHelp(profile, console);
  } else if (options.listPorts) {
    listSerialDevices(console, errors);
  } else if (options.listCommands) {
    printCommandWords(profile, console);
  } else {
    console.print("%s %s\n", profile.programName, AVRISP_VERSION);
  }
  console.flush();
  return kExitOk;
}

void printCommandWords(const Profile& profile, Console& console) {
  // The script command is the command sources' own, not a row of the table.
  console.print("f file\n");
  const CommandTable& table = commandTable();
  for (size_t i = 0; i < table.count; ++i) {
    const CommandRow& row = table.rows[i];
    if (row.onlyWhen != nullptr && !(profile.*row.onlyWhen)) continue;
    console.print("%s%s\n", row.word, row.argument == ArgumentKind::kFileName ? " file" : "");
  }
}

void printPartList(const Profile& profile, Console& console, std::FILE* errors) {
  PartCatalogue catalogue;
  fillFullCatalogue(catalogue, profile.partRows());
  std::vector<std::string> messages;
  std::string partsFile = readUserParts(profile, catalogue, &messages);
  for (const std::string& message : messages) std::fprintf(errors, "%s\n", message.c_str());

  // Wide enough for most names; the few longer joined ones push their line on.
  const int width = 26;
  console.print("%-*s  signature  flash  page  eeprom  fuses  defaults  source\n", width, "name");
  for (int i = 0; i < catalogue.partCount; ++i) {
    const PartRecord& part = catalogue.rows[static_cast<size_t>(i)];
    // Defaults low first, as avr-libc and the fuse commands number them.
    char defaults[16] = "-";
    if (partHasDefaultFuses(part)) {
      int used = 0;
      for (int fuse = 1; fuse <= partFuseCount(part); ++fuse) {
        used += std::snprintf(defaults + used, sizeof defaults - static_cast<size_t>(used),
                              fuse == 1 ? "%02X" : ",%02X", partDefaultFuse(catalogue, i, fuse));
      }
    }
    console.print("%-*s  %02X%02X%02X     %-6ld %-5d %-7d %-6d %-9s %s\n", width, part.name,
                  part.signature[0], part.signature[1], part.signature[2],
                  static_cast<long>(part.flashBytes), part.flashPageWords, part.eepromBytes,
                  partFuseCount(part), defaults,
                  part.origin == PartOrigin::kBuiltIn ? "built-in" : partsFile.c_str());
  }
}
