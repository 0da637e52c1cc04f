// dc and uc: the whole chip from and to one ELF file.

#include "engine/whole_chip.h"
#include "frontend/command_steps.h"

StepResult runWholeChipDownload(CommandCall& call) {
  return downloadWholeChip(call.session) ? StepResult::kDone : StepResult::kFailed;
}

StepResult runWholeChipUpload(CommandCall& call) {
  return uploadWholeChip(call.session) ? StepResult::kDone : StepResult::kFailed;
}
