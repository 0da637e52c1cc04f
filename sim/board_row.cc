#include "sim/board_row.h"

#include <algorithm>
#include <cstdio>

namespace {
// Longer than RESET stays high between two commands of one run, shorter than
// the pause between two asks of a host waiting for the next board.
constexpr int64_t kHostLetGoMicros = 20'000;
}  // namespace

BoardRow::BoardRow(AvrTarget& target, const SimPart& part, SimClock& clock, TargetFaults faults,
                   BoardRowSettings settings)
    : target_(&target),
      part_(&part),
      clock_(&clock),
      faults_(faults),
      settings_(std::move(settings)),
      generationAtPlug_(target.writeGeneration()) {}

std::string BoardRow::stateFile(const std::string& folder, int board) {
  char name[32];
  std::snprintf(name, sizeof name, "/board-%d.state", board);
  return folder + name;
}

void BoardRow::saveBoard() {
  if (settings_.stateFolder.empty()) return;
  std::string error;
  if (!target_->saveState(stateFile(settings_.stateFolder, board_), &error)) {
    std::fprintf(stderr, "board row: cannot save board %d: %s\n", board_, error.c_str());
  }
}

void BoardRow::finish() {
  if (settings_.boards > 0 && plugged_) saveBoard();
}

// The new chip finds the RESET line where the host holds it.
void BoardRow::replaceChip(TargetFaults faults) {
  const bool resetLow = target_->resetLow();
  *target_ = AvrTarget(*part_, *clock_, faults);
  target_->setClockHz(settings_.clockHz);
  target_->setResetLow(resetLow);
}

void BoardRow::unplug(int64_t now) {
  saveBoard();
  TargetFaults absent = faults_;
  absent.miso = TargetFaults::Miso::kStuckHigh;
  replaceChip(absent);
  plugged_ = false;
  unpluggedAt_ = now;
  releasedSince_ = -1;
}

void BoardRow::advance(int64_t now) {
  if (settings_.boards <= 0) return;
  if (plugged_) {
    const bool written = target_->writeGeneration() != generationAtPlug_;
    if (board_ == settings_.failBoard && target_->stats().pagesWritten > 0) {
      unplug(now);
      return;
    }
    const int64_t lastWork = target_->lastWorkMicros();
    if (written && !target_->resetLow() && lastWork >= 0 &&
        now - lastWork >= settings_.unplugAfterMicros) {
      unplug(now);
    }
    return;
  }
  // The next board goes in once the host has found the last one gone (it
  // tried a whole instruction on the empty socket) and has let go: an
  // operator waits for the verdict on a board pulled part way.
  if (target_->resetLow() || target_->bytesWhileReset() < 4) {
    releasedSince_ = -1;
    return;
  }
  if (releasedSince_ < 0) releasedSince_ = now;
  if (board_ >= settings_.boards || now - unpluggedAt_ < settings_.gapMicros ||
      now - releasedSince_ < kHostLetGoMicros) {
    return;
  }
  ++board_;
  replaceChip(faults_);
  generationAtPlug_ = target_->writeGeneration();
  plugged_ = true;
}

int64_t BoardRow::nextWake(int64_t now) const {
  if (settings_.boards <= 0) return -1;
  if (plugged_) return target_->writeGeneration() != generationAtPlug_ ? now + 5'000 : -1;
  if (board_ >= settings_.boards) return -1;
  return std::max(unpluggedAt_ + settings_.gapMicros, now + 5'000);
}
