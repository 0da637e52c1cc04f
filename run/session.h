#pragma once
// Everything one run of a program holds: its profile, console, settings,
// catalogue, target state, memory images and link. Passed explicitly, so that
// tests can build as many independent sessions as they like.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/part_record.h"
#include "run/console.h"
#include "run/memory_image.h"
#include "run/profile.h"
#include "run/run_settings.h"

class IspLink;

// Exit status of a run.
enum ExitStatus {
  kExitOk = 0,
  kExitCommand = 1,            // the exit command
  kExitCommandFailed = 2,      // a command-line command failed
  kExitProgrammerMissing = 3,  // Korvo or Marlow not found
  kExitLinkLost = 4,           // the programmer stopped answering or went away
};

struct TargetState {
  int processorIndex = 0;  // catalogue row, -1 when unrecognised
  uint8_t signature[3] = {0, 0, 0};
  uint8_t fuseBytes[3] = {0, 0, 0};  // extended, high, low
  bool targetReleased = false;
  bool responding = false;  // the last Programming Enable came back in step
};

// A fuse write held back because it would end serial programming. The same
// command entered again as the very next one writes it.
struct FuseWriteHold {
  bool pending = false;
  std::string command;         // as it must be entered again: "pf2f9"
  uint64_t heldAtCommand = 0;  // Session::commandsRun when it was held
  bool failedBefore = false;   // Session::commandFailed before the held entry
};

// Where the command being run came from. On the command line and in scripts
// nothing more is written to the target once a command has failed; at the
// prompt the user sees each failure and decides.
enum class CommandOrigin { kPrompt, kCommandLine, kScript };

struct Session {
  Session(const Profile& runProfile, Console& runConsole);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The current part's row, or nullptr when the target was not recognised.
  const PartRecord* currentPart() const;

  const Profile& profile;
  Console& console;
  RunSettings settings;
  PartCatalogue catalogue;
  TargetState target;
  MemoryImages images;
  IspLink* link = nullptr;
  std::FILE* logStream = nullptr;
  // Set by any command that failed; the command line's exit status reads it.
  bool commandFailed = false;
  // Counts the commands run, so that a confirmation must come next.
  uint64_t commandsRun = 0;
  FuseWriteHold fuseHold;
  CommandOrigin commandOrigin = CommandOrigin::kPrompt;
  bool forceFuses = false;    // --force-fuses: lockout writes need no confirmation
  bool forcePart = false;     // --force-part: an ELF built for another part is programmed
  // "dc" is writing the file's fuses and lock itself after its downloads.
  bool wholeChipDownload = false;
  bool explainFuses = false;  // --explain-fuses: every fuse report is decoded
  // The prompt reads its commands from standard input, so no download may.
  bool commandsFromStandardInput = false;
  // The files named by the downloads since the list was last emptied, for the
  // record of what went onto a board.
  std::vector<std::string> downloadsNamed;
};

// Defaults, then the configuration file, then the file names emptied.
void restoreDefaultSettings(Session& session);
