#pragma once
// The steps the command table points at, grouped by what they work on.

#include "frontend/command_table.h"

// Brings a released target back into programming mode and identifies it.
// False, after "Target not responding - command not run", when the target did
// not echo Programming Enable: whatever the signature read then returned is
// not the target's, and the command must not act on it.
bool reidentifyWhenReleased(Session& session);

// Files: downloads, loading, uploads, the log and mismatch files.
bool storeDownloadName(CommandCall& call);
bool startFastDownload(CommandCall& call);
bool storeUploadName(CommandCall& call);
StepResult runFastFlashDownload(CommandCall& call);
StepResult runFlashDownload(CommandCall& call);
StepResult runEepromDownload(CommandCall& call);
StepResult loadHexFile(CommandCall& call);
StepResult uploadFlash(CommandCall& call);
StepResult uploadEeprom(CommandCall& call);
StepResult openLogFile(CommandCall& call);
StepResult nameMismatchFile(CommandCall& call);
StepResult verifyFlashCommand(CommandCall& call);
StepResult verifyEepromCommand(CommandCall& call);

// The whole chip in one ELF file: dc writes it, uc saves it.
StepResult runWholeChipDownload(CommandCall& call);
StepResult runWholeChipUpload(CommandCall& call);

// The target's configuration bytes.
StepResult eraseChipCommand(CommandCall& call);
StepResult showLockCommand(CommandCall& call);
StepResult armLockCommand(CommandCall& call);
StepResult showFuse1Command(CommandCall& call);
StepResult showFuse2Command(CommandCall& call);
StepResult showFuse3Command(CommandCall& call);
StepResult showFusesCommand(CommandCall& call);
StepResult writeDefaultFusesCommand(CommandCall& call);
StepResult writeAllFusesCommand(CommandCall& call);
bool parseFuseValue(CommandCall& call);
StepResult writeFuse1Command(CommandCall& call);
StepResult writeFuse2Command(CommandCall& call);
StepResult writeFuse3Command(CommandCall& call);
StepResult showCalibrationCommand(CommandCall& call);
StepResult showIdentityCommand(CommandCall& call);
StepResult showStatisticsCommand(CommandCall& call);

// Settings and the run itself.
StepResult setFillChar(CommandCall& call);
StepResult verifyOn(CommandCall& call);
StepResult verifyOff(CommandCall& call);
StepResult recordType2(CommandCall& call);
StepResult recordType4(CommandCall& call);
StepResult terminalModeCommand(CommandCall& call);
StepResult outputVerbose(CommandCall& call);
StepResult outputQuiet(CommandCall& call);
StepResult helpCommand(CommandCall& call);
StepResult exitCommand(CommandCall& call);
StepResult pauseCommand(CommandCall& call);
