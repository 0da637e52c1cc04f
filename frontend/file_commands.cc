// The commands that name files: downloads, loading, uploads, the log file and
// the mismatch file.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "frontend/command_steps.h"
#include "frontend/write_stop.h"
#include "image/download_file.h"
#include "image/output_file.h"
#include "image/upload_file.h"
#include "run/session.h"

namespace {

StepResult resultOf(bool succeeded) {
  return succeeded ? StepResult::kDone : StepResult::kFailed;
}

// Reads `bytes` of one memory through `readMemory`, then writes what is used of
// it; false when the part has no row or the file could not be written.
template <typename ReadMemory>
bool uploadMemory(Session& session, int32_t(PartRecord::*size), ReadMemory readMemory,
                  bool reportLength) {
  const PartRecord* part = requireRecognisedPart(session);
  if (part == nullptr) return false;
  int32_t bytes = part->*size;
  readMemory(session, bytes);
  int32_t n = usedLength(*session.images.read, bytes);
  if (reportLength) session.console.print("Last data value in buffer = %x %d\n", n, n);
  int written = writeUploadFile(session.settings.uploadFileName, *session.images.read, n,
                                session.settings.hexRecordType, session.console);
  restoreDefaultSettings(session);
  return written == 1;
}

// "-" is standard input, which at the prompt holds the commands themselves,
// and at a terminal holds nothing to read but the user's typing.
bool standardInputTaken(const Session& session, const std::string& fileName) {
  if (fileName != "-") return false;
  if (session.commandsFromStandardInput) {
    session.console.print(
        "Standard input holds the commands here; a download from - works on the command line "
        "only\n");
  } else if (session.console.isTerminal()) {
    session.console.print(
        "Standard input is a terminal; a download from - needs a file or a pipe there\n");
  } else {
    return false;
  }
  return true;
}

bool fileIsMissing(const std::string& name) {
  struct stat status;
  return stat(name.c_str(), &status) != 0 && errno == ENOENT;
}

// "dff" takes the 'f' of "dffirmware.hex" as its own, so the file looked for
// is irmware.hex. When that is missing and firmware.hex is there, the reason
// is all but certain, and the way round it is to be said.
bool fastDownloadTakesTheF(Session& session, const std::string& fileName) {
  const std::string withF = "f" + fileName;
  if (fileName.empty() || fileName == "-" || !fileIsMissing(fileName) || fileIsMissing(withF)) {
    return false;
  }
  const char* typed = typedCommandPrefix(session);
  session.console.print(
      "Can't open download file %s (%sdff%s is the fast download dff of %s; for %s write "
      "%sdf./%s)\n",
      fileName.c_str(), typed, fileName.c_str(), fileName.c_str(), withF.c_str(), typed,
      withF.c_str());
  return true;
}

}  // namespace

bool storeDownloadName(CommandCall& call) {
  if (standardInputTaken(call.session, call.argument)) return false;
  call.session.settings.downloadFileName = call.argument;
  call.session.downloadsNamed.push_back(call.argument);
  return true;
}

bool startFastDownload(CommandCall& call) {
  if (standardInputTaken(call.session, call.argument)) return false;
  if (fastDownloadTakesTheF(call.session, call.argument)) return false;
  // No erase or page wait reads the Korvo's busy reply while this is set.
  call.session.settings.noBusyWait = true;
  return storeDownloadName(call);
}

bool storeUploadName(CommandCall& call) {
  call.session.settings.uploadFileName = call.argument;
  return true;
}

StepResult runFastFlashDownload(CommandCall& call) {
  Session& session = call.session;
  // Cleared whatever happens, a lost link included, so that no later wait is
  // left skipping its busy poll.
  struct ClearFlag {
    bool& flag;
    ~ClearFlag() { flag = false; }
  } clear{session.settings.noBusyWait};
  return resultOf(downloadFlash(session));
}

StepResult runFlashDownload(CommandCall& call) {
  return resultOf(downloadFlash(call.session));
}

StepResult runEepromDownload(CommandCall& call) {
  return resultOf(downloadEeprom(call.session));
}

StepResult verifyFlashCommand(CommandCall& call) {
  return resultOf(verifyFlashOnly(call.session));
}

StepResult verifyEepromCommand(CommandCall& call) {
  return resultOf(verifyEepromOnly(call.session));
}

StepResult loadHexFile(CommandCall& call) {
  Session& session = call.session;
  if (standardInputTaken(session, call.argument)) return StepResult::kFailed;
  session.settings.downloadFileName = call.argument;
  const DownloadLoad load =
      loadDownloadFile(session.settings.downloadFileName, ImageMemory::kFlash, *session.images.load,
                       session.settings.fillChar, session.console);
  if (load.outcome != DownloadOutcome::kLoaded) return StepResult::kFailed;
  if (session.settings.verifyMode == 'v') restoreDefaultSettings(session);
  return StepResult::kDone;
}

StepResult uploadFlash(CommandCall& call) {
  auto readWholeFlash = [](Session& session, int32_t bytes) { readFlash(session, bytes); };
  return resultOf(uploadMemory(call.session, &PartRecord::flashBytes, readWholeFlash, true));
}

StepResult uploadEeprom(CommandCall& call) {
  return resultOf(uploadMemory(call.session, &PartRecord::eepromBytes, readEeprom, false));
}

StepResult openLogFile(CommandCall& call) {
  Session& session = call.session;
  RunSettings& settings = session.settings;
  settings.logFileName = call.argument;
  // A second "lf" replaces the log; the first one is finished off properly.
  if (session.logStream != nullptr) {
    std::fclose(session.logStream);
    session.logStream = nullptr;
    settings.logEnabled = false;
  }
  // The log grows during the run, so it is written in place; it still keeps
  // to the rule for links in shared folders.
  std::string reason;
  std::FILE* log = outputLinkPermitted(settings.logFileName, reason)
                       ? std::fopen(settings.logFileName.c_str(), "w")
                       : nullptr;
  if (log == nullptr) {
    if (reason.empty()) reason = std::strerror(errno);
    session.console.print("Can't open log file %s\n", settings.logFileName.c_str());
    session.console.print("   %s: %s\n", settings.logFileName.c_str(), reason.c_str());
    return StepResult::kFailed;
  }
  session.logStream = log;
  settings.logEnabled = true;
  return StepResult::kDone;
}

StepResult nameMismatchFile(CommandCall& call) {
  RunSettings& settings = call.session.settings;
  settings.mismatchFileName = call.argument;
  call.session.console.print("Mismatch filename=%s\n", settings.mismatchFileName.c_str());
  return StepResult::kDone;
}
