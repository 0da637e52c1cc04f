#pragma once
// A row of boards for the simulators, as an operator at a bench feeds them:
// once a board has been written and the host has left it alone for a while,
// it is unplugged (its chip saved, if asked), and a moment later a fresh
// blank chip of the same part is plugged in, until the row is used up.

#include <cstdint>
#include <string>

#include "sim/avr_target.h"

struct BoardRowSettings {
  int boards = 0;                       // 0: no row, the one chip stays
  int64_t unplugAfterMicros = 100'000;  // quiet time after the last work
  int64_t gapMicros = 100'000;          // from unplugging to the next board
  int failBoard = 0;                    // this board is pulled after its first page write
  std::string stateFolder;              // each board's chip saved as board-N.state
  double clockHz = 0;                   // given to each new chip (AvrTarget::setClockHz)
};

class BoardRow {
 public:
  BoardRow(AvrTarget& target, const SimPart& part, SimClock& clock, TargetFaults faults,
           BoardRowSettings settings);

  // Looks at the target and the clock; unplugs or plugs in when it is time.
  void advance(int64_t now);
  // At the end of a run: the board still plugged in is saved as if unplugged.
  void finish();
  // When advance should next be called; -1 when nothing is due.
  int64_t nextWake(int64_t now) const;
  int board() const { return board_; }  // 1 for the first; counts on when unplugged
  bool plugged() const { return plugged_; }

  // The state file of board n in the folder.
  static std::string stateFile(const std::string& folder, int board);

 private:
  void unplug(int64_t now);
  void saveBoard();
  void replaceChip(TargetFaults faults);

  AvrTarget* target_;
  const SimPart* part_;
  SimClock* clock_;
  TargetFaults faults_;
  BoardRowSettings settings_;
  int board_ = 1;
  bool plugged_ = true;
  int64_t unpluggedAt_ = 0;
  int64_t releasedSince_ = -1;  // RESET high since, while a board is out
  uint64_t generationAtPlug_ = 0;
};
