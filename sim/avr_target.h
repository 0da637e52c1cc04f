#pragma once
// A behavioural model of an AVR in serial programming mode, driven one SPI byte
// at a time plus the RESET line, as the datasheets' "Serial Programming"
// chapters describe it. Both simulated links and the in-process tests drive it.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/datasheet_parts.h"
#include "sim/sim_clock.h"
#include "sim/sim_parts.h"

struct TargetFaults {
  enum class Miso { kNormal, kStuckHigh, kStuckLow };
  Miso miso = Miso::kNormal;    // target absent: nothing but the stuck level comes back
  bool neverReady = false;      // every self-timed operation stays busy for ever
  bool wrongSignature = false;  // answers 00 00 00 to the signature reads
};

struct TargetStats {
  uint64_t instructions = 0;  // complete 4-byte instructions acted on
  uint64_t pagesWritten = 0;
  uint64_t eepromPagesWritten = 0;
  uint64_t busyViolations = 0;   // an instruction other than the poll while busy
  uint64_t emptyPageWrites = 0;  // page write with nothing loaded
  uint64_t earlyEnables = 0;     // Programming Enable under 20 ms after RESET went low
  uint64_t shortSckPhases = 0;   // SCK high or low for under 2 target clock cycles
  uint64_t violations() const {
    return busyViolations + emptyPageWrites + earlyEnables + shortSckPhases;
  }
  // What the first violation was, in words, so a failed run says how far off
  // the host was; empty while there is none.
  std::string firstViolation;
};

class AvrTarget {
 public:
  // The chip is `part` as its datasheet facts have it (datasheetFactsFor), or
  // as `facts` has it where a test names them.
  AvrTarget(const SimPart& part, SimClock& clock, TargetFaults faults = {});
  AvrTarget(const SimPart& part, SimClock& clock, TargetFaults faults, const DatasheetPart* facts);

  // RESET line: true = held low (programming possible), false = high (running).
  // Going high leaves programming mode.
  void setResetLow(bool low);
  bool resetLow() const;

  // The byte the target will shift out during the next SPI byte. Fixed before the
  // byte starts, as the echo rules make it (byte 2 echoes byte 1, byte 3 echoes
  // byte 2, byte 4 carries a read's result).
  uint8_t pendingOutput() const;
  // Shifts one byte in; acts on an instruction when its fourth byte arrives.
  void shiftIn(uint8_t mosi);
  // pendingOutput() then shiftIn(); returns what was shifted out.
  uint8_t exchange(uint8_t mosi);

  // A programmer in another process hands bytes over late when it is not
  // scheduled at once: the byte now being shifted in may have reached it up to
  // `micros` ago. RESET falling and self-timed operations are then dated at the
  // earliest moment, busy checks at the latest, so only a host that provably
  // did not wait is caught. 0 (the default) for a link without that doubt.
  void setArrivalSlackMicros(int64_t micros) { arrivalSlack_ = micros > 0 ? micros : 0; }

  // A link that drives SCK itself reports each edge while RESET is low; a
  // phase shorter than 2 cycles of the target's clock is a violation, as it
  // would corrupt what a real chip shifts.
  void sckChanged(bool high);
  // The target's clock in Hz; 0 (the default) takes it from the low fuse.
  void setClockHz(double hz) { clockHz_ = hz > 0 ? hz : 0; }
  double clockHz() const;

  bool inProgrammingMode() const;
  bool busy() const;  // a self-timed operation is still running

  const SimPart& part() const;
  const TargetStats& stats() const;

  // Direct access for tests and the state file.
  std::vector<uint8_t>& flash();
  std::vector<uint8_t>& eeprom();
  uint8_t fuseLow() const;
  uint8_t fuseHigh() const;
  uint8_t fuseExtended() const;
  uint8_t lockBits() const;
  void setFuses(uint8_t low, uint8_t high, uint8_t extended);
  void setLockBits(uint8_t lock);

  // The chip's memories, fuses and lock byte, so one program run can write a
  // chip and the next can read it. False (with a reason) on failure.
  bool saveState(const std::string& path, std::string* error = nullptr) const;
  bool loadState(const std::string& path, std::string* error = nullptr);

  // Changes whenever a write alters flash, EEPROM, fuses or lock bits, so a
  // caller can tell when the state file is out of date.
  uint64_t writeGeneration() const { return writeGeneration_; }
  // When the last instruction other than Programming Enable, Read Signature
  // and Poll RDY/BSY was acted on; -1 before the first.
  int64_t lastWorkMicros() const { return lastWorkMicros_; }
  // Bytes the host clocked in with RESET low, answered or not: an absent
  // chip counts the host's attempts too.
  uint64_t bytesWhileReset() const { return bytesWhileReset_; }
  uint8_t calibration() const;
  const TargetFaults& faults() const { return faults_; }

 private:
  bool writesLocked() const;
  bool readsLocked() const;
  bool eepromKept() const;
  int64_t earliestArrival() const { return clock_->nowMicros() - arrivalSlack_; }
  void noteViolation(const char* what, bool showFrame, int64_t shortMicros);
  void startSelfTimed(uint32_t datasheetMicros);
  void recognizeEnable();
  uint8_t readResult() const;
  void execute();
  void chipErase();
  void writePage();
  void loadEepromPage();
  void writeEepromPage();
  void markWritten() { ++writeGeneration_; }

  SimPart part_;
  SimClock* clock_;
  TargetFaults faults_;
  TargetStats stats_;

  std::vector<uint8_t> flash_;
  std::vector<uint8_t> eeprom_;
  std::vector<uint8_t> pageBuffer_;
  bool pageLoaded_ = false;
  // The EEPROM page buffer: only the bytes loaded since the last page write
  // are written.
  std::vector<uint8_t> eepromPage_;
  std::vector<bool> eepromPageLoaded_;
  uint8_t fuseLow_, fuseHigh_, fuseExtended_;
  uint8_t lock_ = 0xFF;
  uint8_t extendedAddress_ = 0;

  bool resetLow_ = false;
  int64_t resetLowSince_ = 0;
  bool programming_ = false;
  uint8_t frame_[4] = {0, 0, 0, 0};
  int framePosition_ = 0;
  uint8_t output_ = 0xFF;

  int64_t arrivalSlack_ = 0;
  double clockHz_ = 0;
  bool sckTimed_ = false;  // an SCK edge has been seen since RESET fell
  int64_t sckSinceNanos_ = 0;
  int64_t busyUntil_ = 0;
  bool busyForever_ = false;
  uint64_t writeGeneration_ = 0;
  int64_t lastWorkMicros_ = -1;
  uint64_t bytesWhileReset_ = 0;
};
