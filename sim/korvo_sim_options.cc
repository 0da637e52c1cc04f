#include "sim/korvo_sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "run/user_folders.h"
#include "sim/sim_parts.h"

namespace {

bool parseCount(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}

bool parseScale(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0.0 || parsed > 1000.0) {
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace

bool parseKorvoSimOptions(const std::vector<std::string>& args, KorvoSimOptions* options,
                          std::string* error) {
  KorvoSimOptions parsed;
  // An hour is far beyond any host's patience; the bound keeps the microsecond
  // arithmetic well inside 64 bits.
  constexpr uint64_t kMaxMillis = 3'600'000;
  constexpr uint64_t kMaxMicros = kMaxMillis * 1000;
  constexpr uint64_t kMaxFrames = std::numeric_limits<uint32_t>::max();
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *out = args[++i];
      return true;
    };
    auto number = [&](uint64_t max, uint64_t* out) {
      std::string text;
      if (!value(&text)) return false;
      if (!parseCount(text, max, out)) {
        *error = "option " + arg + ": '" + text + "' is not a whole number from 0 to " +
                 std::to_string(max);
        return false;
      }
      return true;
    };
    uint64_t count = 0;
    std::string text;
    if (arg == "--help") {
      parsed.help = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (arg == "--link") {
      if (!value(&parsed.link)) return false;
    } else if (arg == "--part") {
      if (!value(&parsed.part)) return false;
    } else if (arg == "--parts") {
      if (!value(&parsed.partsFile)) return false;
    } else if (arg == "--list-parts") {
      parsed.listParts = true;
    } else if (arg == "--state") {
      if (!value(&parsed.stateFile)) return false;
    } else if (arg == "--trace") {
      if (!value(&parsed.traceFile)) return false;
    } else if (arg == "--time-scale") {
      if (!value(&text)) return false;
      if (!parseScale(text, &parsed.timeScale)) {
        *error = "option --time-scale: '" + text + "' is not a number above 0 and up to 1000";
        return false;
      }
    } else if (arg == "--no-signon") {
      parsed.signOn = false;
    } else if (arg == "--signon-gap-ms") {
      if (!number(kMaxMillis, &count)) return false;
      parsed.signOnGapMillis = static_cast<int64_t>(count);
    } else if (arg == "--target-absent") {
      parsed.targetAbsent = true;
    } else if (arg == "--busy-forever") {
      parsed.busyForever = true;
    } else if (arg == "--hangup-after-frames") {
      if (!number(kMaxFrames, &parsed.hangupAfterFrames)) return false;
    } else if (arg == "--silent-after-frames") {
      if (!number(kMaxFrames, &parsed.silentAfterFrames)) return false;
    } else if (arg == "--acts-during-busy") {
      parsed.actsDuringBusy = true;
    } else if (arg == "--baud-pacing") {
      parsed.baudPacing = true;
    } else if (arg == "--latency-us") {
      if (!number(kMaxMicros, &count)) return false;
      parsed.latencyMicros = static_cast<int64_t>(count);
    } else if (arg == "--boards") {
      if (!number(100'000, &count)) return false;
      parsed.boardRow.boards = static_cast<int>(count);
    } else if (arg == "--unplug-after-ms") {
      if (!number(kMaxMillis, &count)) return false;
      parsed.boardRow.unplugAfterMicros = static_cast<int64_t>(count) * 1000;
    } else if (arg == "--board-gap-ms") {
      if (!number(kMaxMillis, &count)) return false;
      parsed.boardRow.gapMicros = static_cast<int64_t>(count) * 1000;
    } else if (arg == "--fail-board") {
      if (!number(100'000, &count)) return false;
      parsed.boardRow.failBoard = static_cast<int>(count);
    } else if (arg == "--board-states") {
      if (!value(&parsed.boardRow.stateFolder)) return false;
    } else {
      *error = "unknown option '" + arg + "' (try --help)";
      return false;
    }
  }
  // The user's parts first, so that --part can name one of them.
  std::vector<std::string> messages;
  if (!parsed.partsFile.empty()) {
    if (loadSimPartsFile(parsed.partsFile, &messages) < 0) {
      *error = "option --parts: cannot read '" + parsed.partsFile + "'";
      return false;
    }
  } else {
    for (const std::string& place : configurationFilePlaces("tarnwick", "parts.txt")) {
      if (loadSimPartsFile(place, &messages) >= 0) break;
    }
  }
  for (const std::string& message : messages) {
    std::fprintf(stderr, "korvo-sim: %s\n", message.c_str());
  }
  const SimPart* part = findSimPart(parsed.part);
  if (part == nullptr) {
    *error = "unknown part '" + parsed.part + "'";
    return false;
  }
  parsed.part = part->name;
  if (!parsed.help && !parsed.version && !parsed.listParts && parsed.link.empty()) {
    *error = "--link PATH is required";
    return false;
  }
  *options = parsed;
  return true;
}

const char* korvoSimHelpText() {
  return "Usage: korvo-sim --link PATH [options]\n"
         "Simulates a Korvo USB ISP programmer with an AVR target behind it on a\n"
         "pseudo-terminal; PATH becomes a symbolic link to the terminal device that\n"
         "tarnwick opens. Serves until SIGTERM or SIGINT, then removes PATH.\n"
         "\n"
         "  --link PATH               symbolic link to create (required)\n"
         "  --part NAME               target part, any letter case (default ATmega644P):\n"
         "                            any part --list-parts shows, or any one of the\n"
         "                            names a row joins with '/'\n"
         "  --parts FILE              read the user's parts from FILE instead of the\n"
         "                            first parts.txt of tarnwick's places (./parts.txt,\n"
         "                            $XDG_CONFIG_HOME/tarnwick/, /etc/tarnwick/)\n"
         "  --list-parts              list every part the simulator knows and exit\n"
         "  --state FILE              load the chip's memories, fuses and lock from FILE\n"
         "                            if it exists; save them back after each self-timed\n"
         "                            write, when the host closes the port, and at exit\n"
         "  --trace FILE              append each command the host sent, in hexadecimal,\n"
         "                            one command per line (\"34 30 00 00 00\")\n"
         "  --time-scale X            multiply every datasheet time and the Korvo's own\n"
         "                            2 s busy limit by X (default 1)\n"
         "  --no-signon               send no sign-on when the host opens the port\n"
         "  --signon-gap-ms N         pause N ms before the sign-on's closing '>'\n"
         "  --target-absent           no target on the cable: MISO reads high\n"
         "  --busy-forever            the target never finishes a self-timed write\n"
         "  --hangup-after-frames N   vanish after N instruction frames, as when the\n"
         "                            USB cable is pulled\n"
         "  --silent-after-frames N   stop answering after N instruction frames\n"
         "  --acts-during-busy        act on bytes at once while \"b\" waits, instead of\n"
         "                            holding them until it ends (a faulty Korvo)\n"
         "  --baud-pacing             each byte takes 10 bit times at the host's baud\n"
         "                            rate, in both directions\n"
         "  --latency-us N            wait N us before each reply (a USB round trip)\n"
         "  --boards N                a row of N boards: a board the host has written\n"
         "                            and then left alone is unplugged, and a fresh\n"
         "                            blank chip of the part follows\n"
         "  --unplug-after-ms N       the quiet time before a written board is unplugged\n"
         "                            (default 100)\n"
         "  --board-gap-ms N          from unplugging to the next board (default 100)\n"
         "  --fail-board K            board K is pulled after its first page write\n"
         "  --board-states DIR        save each board's chip as DIR/board-N.state\n"
         "  --help                    print this text\n"
         "  --version                 print the program's name and version\n"
         "\n"
         "Prints \"korvo-sim: ready on PATH (part NAME)\" on standard error once PATH\n"
         "exists. Exit status: 0 after SIGTERM or SIGINT, 2 on bad arguments, 1 when\n"
         "the terminal or the link cannot be set up.\n";
}

void printSimPartList(std::FILE* out) {
  const std::vector<const SimPart*> parts = everySimPart();
  const int width = 26;  // as the programs' lists
  std::fprintf(out, "%-*s  signature  flash  page  eeprom  fuses  factory   source\n", width,
               "name");
  for (const SimPart* part : parts) {
    const int fuses = part->hasExtendedFuse ? 3 : part->hasHighFuse ? 2 : 1;
    char factory[16];
    if (fuses == 3) {
      std::snprintf(factory, sizeof factory, "%02X,%02X,%02X", part->factoryLow, part->factoryHigh,
                    part->factoryExtended);
    } else if (fuses == 2) {
      std::snprintf(factory, sizeof factory, "%02X,%02X", part->factoryLow, part->factoryHigh);
    } else {
      std::snprintf(factory, sizeof factory, "%02X", part->factoryLow);
    }
    std::fprintf(out, "%-*s  %02X%02X%02X     %-6u %-5u %-7u %-6d %-9s %s\n", width, part->name,
                 part->signature[0], part->signature[1], part->signature[2], part->flashBytes,
                 part->flashPageWords, part->eepromBytes, fuses, factory,
                 part->fromPartsFile ? "parts.txt" : "built-in");
  }
}
