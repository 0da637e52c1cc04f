#include "frontend/command_table.h"

#include <cstring>
#include <iterator>

#include "frontend/command_steps.h"
#include "frontend/profile.h"
#include "run/text_util.h"

namespace {

using A = ArgumentKind;
using R = Reidentify;
constexpr bool Profile::*kBoth = nullptr;
constexpr bool Profile::*kTarnwickFast = &Profile::hasFastDownload;
constexpr bool Profile::*kChipErase = &Profile::hasChipErase;
constexpr bool Profile::*kTarnwickTerminal = &Profile::hasTerminalMode;
constexpr bool kWrites = true;
constexpr bool kReadsOnly = false;

// Order matters: "dff" before "df", "gf1".."gf3" before "gf", "pfa" and "pf1"..
// "pf3" before anything shorter. "t" is compared over two characters, the
// terminator included, so only the whole token "t" reaches terminal mode.
const CommandRow kRows[] = {
    // word, compared length, program, argument, re-identify point, prepare, act,
    // whether it writes to the target
    {"dff", 3, kTarnwickFast, A::kFileName, R::kAfterName, startFastDownload, runFastFlashDownload,
     kWrites},
    {"df", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runFlashDownload, kWrites},
    {"de", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runEepromDownload, kWrites},
    {"dc", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runWholeChipDownload, kWrites},
    {"ld", 2, kBoth, A::kFileName, R::kNo, nullptr, loadHexFile, kReadsOnly},
    {"uf", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, uploadFlash, kReadsOnly},
    {"ue", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, uploadEeprom, kReadsOnly},
    {"uc", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, runWholeChipUpload, kReadsOnly},
    {"lf", 2, kBoth, A::kFileName, R::kNo, nullptr, openLogFile, kReadsOnly},
    {"mf", 2, kBoth, A::kFileName, R::kNo, nullptr, nameMismatchFile, kReadsOnly},
    {"sf", 2, kBoth, A::kHexNumber, R::kNo, nullptr, setFillChar, kReadsOnly},
    {"ce", 2, kChipErase, A::kNone, R::kFirst, nullptr, eraseChipCommand, kWrites},
    {"gl", 2, kBoth, A::kNone, R::kFirst, nullptr, showLockCommand, kReadsOnly},
    {"pl", 2, kBoth, A::kHexNumber, R::kFirst, nullptr, armLockCommand, kWrites},
    {"gf1", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse1Command, kReadsOnly},
    {"gf2", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse2Command, kReadsOnly},
    {"gf3", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse3Command, kReadsOnly},
    {"gf", 2, kBoth, A::kNone, R::kFirst, nullptr, showFusesCommand, kReadsOnly},
    {"a", 1, kBoth, A::kNone, R::kFirst, nullptr, writeDefaultFusesCommand, kWrites},
    {"pfa", 3, kBoth, A::kFuseTriple, R::kBeforeParse, nullptr, writeAllFusesCommand, kWrites},
    {"pf1", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse1Command, kWrites},
    {"pf2", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse2Command, kWrites},
    {"pf3", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse3Command, kWrites},
    {"gc", 2, kBoth, A::kNone, R::kFirst, nullptr, showCalibrationCommand, kReadsOnly},
    {"i", 1, kBoth, A::kNone, R::kFirst, nullptr, showIdentityCommand, kReadsOnly},
    {"s", 1, kBoth, A::kNone, R::kFirst, nullptr, showStatisticsCommand, kReadsOnly},
    {"v", 1, kBoth, A::kNone, R::kNo, nullptr, verifyOn, kReadsOnly},
    {"nv", 2, kBoth, A::kNone, R::kNo, nullptr, verifyOff, kReadsOnly},
    {"t2", 2, kBoth, A::kNone, R::kNo, nullptr, recordType2, kReadsOnly},
    {"t4", 2, kBoth, A::kNone, R::kNo, nullptr, recordType4, kReadsOnly},
    {"t", 2, kTarnwickTerminal, A::kNone, R::kNo, nullptr, terminalModeCommand, kReadsOnly},
    {"m", 1, kBoth, A::kNone, R::kNo, nullptr, outputVerbose, kReadsOnly},
    {"q", 1, kBoth, A::kNone, R::kNo, nullptr, outputQuiet, kReadsOnly},
    {"h", 1, kBoth, A::kNone, R::kNo, nullptr, helpCommand, kReadsOnly},
    {"e", 1, kBoth, A::kNone, R::kNo, nullptr, exitCommand, kReadsOnly},
    // The pause the banner promises; whole token only, like "t".
    {"p", 2, kBoth, A::kNone, R::kNo, nullptr, pauseCommand, kReadsOnly},
    // Added after every older word, so that none of those can change meaning:
    // a token that reached an older row still does.
    {"vf", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, verifyFlashCommand,
     kReadsOnly},
    {"ve", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, verifyEepromCommand,
     kReadsOnly},
};

const CommandTable kTable = {kRows, std::size(kRows)};

}  // namespace

const CommandTable& commandTable() {
  return kTable;
}

const CommandRow* findCommand(const Profile& profile, std::string_view token) {
  const CommandTable& table = commandTable();
  for (size_t i = 0; i < table.count; ++i) {
    const CommandRow& row = table.rows[i];
    if (row.onlyWhen != nullptr && !(profile.*row.onlyWhen)) continue;
    // A command without an argument takes only its own word, so that "apply"
    // cannot write the default fuses nor "erase" end the run.
    if (row.argument == ArgumentKind::kNone && token.size() != std::strlen(row.word)) continue;
    if (prefixEqualsIgnoreCase(token, row.word, row.comparedLength)) return &row;
  }
  return nullptr;
}
