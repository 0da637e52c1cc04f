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
constexpr bool Profile::*kPelloryErase = &Profile::hasChipErase;
constexpr bool Profile::*kTarnwickTerminal = &Profile::hasTerminalMode;

// Order matters: "dff" before "df", "gf1".."gf3" before "gf", "pfa" and "pf1"..
// "pf3" before anything shorter. "t" is compared over two characters, the
// terminator included, so only the whole token "t" reaches terminal mode.
const CommandRow kRows[] = {
    // word, compared length, program, argument, re-identify point, prepare, act
    {"dff", 3, kTarnwickFast, A::kFileName, R::kAfterName, startFastDownload, runFastFlashDownload},
    {"df", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runFlashDownload},
    {"de", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runEepromDownload},
    {"dc", 2, kBoth, A::kFileName, R::kAfterName, storeDownloadName, runWholeChipDownload},
    {"ld", 2, kBoth, A::kFileName, R::kNo, nullptr, loadHexFile},
    {"uf", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, uploadFlash},
    {"ue", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, uploadEeprom},
    {"uc", 2, kBoth, A::kFileName, R::kAfterName, storeUploadName, runWholeChipUpload},
    {"lf", 2, kBoth, A::kFileName, R::kNo, nullptr, openLogFile},
    {"mf", 2, kBoth, A::kFileName, R::kNo, nullptr, nameMismatchFile},
    {"sf", 2, kBoth, A::kHexNumber, R::kNo, nullptr, setFillChar},
    {"ce", 2, kPelloryErase, A::kNone, R::kFirst, nullptr, eraseChipCommand},
    {"gl", 2, kBoth, A::kNone, R::kFirst, nullptr, showLockCommand},
    {"pl", 2, kBoth, A::kHexNumber, R::kFirst, nullptr, armLockCommand},
    {"gf1", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse1Command},
    {"gf2", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse2Command},
    {"gf3", 3, kBoth, A::kNone, R::kFirst, nullptr, showFuse3Command},
    {"gf", 2, kBoth, A::kNone, R::kFirst, nullptr, showFusesCommand},
    {"a", 1, kBoth, A::kNone, R::kFirst, nullptr, writeDefaultFusesCommand},
    {"pfa", 3, kBoth, A::kFuseTriple, R::kBeforeParse, nullptr, writeAllFusesCommand},
    {"pf1", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse1Command},
    {"pf2", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse2Command},
    {"pf3", 3, kBoth, A::kHexNumber, R::kAfterParse, parseFuseValue, writeFuse3Command},
    {"gc", 2, kBoth, A::kNone, R::kFirst, nullptr, showCalibrationCommand},
    {"i", 1, kBoth, A::kNone, R::kFirst, nullptr, showIdentityCommand},
    {"s", 1, kBoth, A::kNone, R::kFirst, nullptr, showStatisticsCommand},
    {"v", 1, kBoth, A::kNone, R::kNo, nullptr, verifyOn},
    {"nv", 2, kBoth, A::kNone, R::kNo, nullptr, verifyOff},
    {"t2", 2, kBoth, A::kNone, R::kNo, nullptr, recordType2},
    {"t4", 2, kBoth, A::kNone, R::kNo, nullptr, recordType4},
    {"t", 2, kTarnwickTerminal, A::kNone, R::kNo, nullptr, terminalModeCommand},
    {"m", 1, kBoth, A::kNone, R::kNo, nullptr, outputVerbose},
    {"q", 1, kBoth, A::kNone, R::kNo, nullptr, outputQuiet},
    {"h", 1, kBoth, A::kNone, R::kNo, nullptr, helpCommand},
    {"e", 1, kBoth, A::kNone, R::kNo, nullptr, exitCommand},
    // The pause the banner promises; whole token only, like "t".
    {"p", 2, kBoth, A::kNone, R::kNo, nullptr, pauseCommand},
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
