// The serial programming interface of an AVR, as the "Serial Programming" and
// "Memory Programming" chapters of the ATmega datasheets describe it.

#include "sim/avr_target.h"

#include <algorithm>
#include <cstdio>

#include "sim/target_clock.h"

namespace {

// RESET must stay low this long before Programming Enable is accepted
// ("wait for at least 20 ms and enable serial programming").
constexpr int64_t kResetSettleMicros = 20000;
// Lock bits LB1 (bit 0) and LB2 (bit 1), programmed when 0. Bits 7 and 6 are
// unused and always read 1.
constexpr uint8_t kLockModeBits = 0x03;
constexpr uint8_t kUnusedLockBits = 0xC0;
// Parts above 128 KB need Load Extended Address to reach words above 0xFFFF.
constexpr uint32_t kWordAddressSpan = 0x10000;

}  // namespace

AvrTarget::AvrTarget(const SimPart& part, SimClock& clock, TargetFaults faults)
    : AvrTarget(part, clock, faults, datasheetFactsFor(part)) {}

AvrTarget::AvrTarget(const SimPart& part, SimClock& clock, TargetFaults faults,
                     const DatasheetPart* facts)
    : part_(withDatasheetFacts(part, facts)),
      clock_(&clock),
      faults_(faults),
      flash_(part_.flashBytes, 0xFF),
      eeprom_(part_.eepromBytes, 0xFF),
      pageBuffer_(part_.flashPageWords * 2, 0xFF),
      eepromPage_(part_.eepromPageBytes, 0xFF),
      eepromPageLoaded_(part_.eepromPageBytes, false),
      fuseLow_(part_.factoryLow),
      fuseHigh_(part_.factoryHigh),
      fuseExtended_(part_.hasExtendedFuse ? part_.factoryExtended : 0xFF) {}

void AvrTarget::setResetLow(bool low) {
  if (low == resetLow_) return;
  resetLow_ = low;
  // Instructions are framed from the moment RESET falls; the host resynchronises
  // a target that is out of step by pulsing RESET.
  framePosition_ = 0;
  output_ = 0xFF;
  sckTimed_ = false;
  if (low) {
    resetLowSince_ = earliestArrival();
  } else {
    programming_ = false;
  }
}

bool AvrTarget::resetLow() const {
  return resetLow_;
}

uint8_t AvrTarget::pendingOutput() const {
  switch (faults_.miso) {
    case TargetFaults::Miso::kStuckHigh:
      return 0xFF;
    case TargetFaults::Miso::kStuckLow:
      return 0x00;
    case TargetFaults::Miso::kNormal:
      break;
  }
  // A running part does not drive MISO for programming; the line idles high.
  if (!resetLow_) return 0xFF;
  return output_;
}

void AvrTarget::shiftIn(uint8_t mosi) {
  if (resetLow_) ++bytesWhileReset_;
  if (faults_.miso != TargetFaults::Miso::kNormal || !resetLow_) return;
  frame_[framePosition_] = mosi;
  // In programming mode each byte comes back during the next one, byte 4 of a
  // read carrying the result instead. Before that only byte 1 is echoed: the
  // 0x53 during byte 3 must mean the part took the enable, in step.
  output_ = programming_ || framePosition_ == 0 ? mosi : 0xFF;
  switch (framePosition_) {
    case 1:
      if (frame_[0] == 0xAC && frame_[1] == 0x53) recognizeEnable();
      break;
    case 2:
      if (programming_) output_ = readResult();
      break;
    case 3:
      if (programming_) execute();
      break;
    default:
      break;
  }
  framePosition_ = (framePosition_ + 1) % 4;
}

uint8_t AvrTarget::exchange(uint8_t mosi) {
  uint8_t out = pendingOutput();
  shiftIn(mosi);
  return out;
}

bool AvrTarget::inProgrammingMode() const {
  return programming_;
}

bool AvrTarget::busy() const {
  return busyForever_ || clock_->nowMicros() < busyUntil_;
}

const SimPart& AvrTarget::part() const {
  return part_;
}
const TargetStats& AvrTarget::stats() const {
  return stats_;
}
std::vector<uint8_t>& AvrTarget::flash() {
  return flash_;
}
std::vector<uint8_t>& AvrTarget::eeprom() {
  return eeprom_;
}
uint8_t AvrTarget::fuseLow() const {
  return fuseLow_;
}
uint8_t AvrTarget::fuseHigh() const {
  return fuseHigh_;
}
uint8_t AvrTarget::fuseExtended() const {
  return part_.hasExtendedFuse ? fuseExtended_ : 0xFF;
}
uint8_t AvrTarget::lockBits() const {
  return lock_;
}
uint8_t AvrTarget::calibration() const {
  return part_.calibration;
}

void AvrTarget::setFuses(uint8_t low, uint8_t high, uint8_t extended) {
  fuseLow_ = low;
  fuseHigh_ = high;
  fuseExtended_ = part_.hasExtendedFuse ? extended : 0xFF;
  markWritten();
}

void AvrTarget::setLockBits(uint8_t lock) {
  lock_ = lock | kUnusedLockBits;
  markWritten();
}

// Lock mode 2 (LB1 programmed) and mode 3 (both) forbid further programming of
// flash, EEPROM and fuses; LB2 alone is not a datasheet mode and is treated the
// same, erring on the side of the lock.
bool AvrTarget::writesLocked() const {
  return (lock_ & kLockModeBits) != kLockModeBits;
}

// Mode 3 also disables verification; the model reads locked memory as 0xFF.
bool AvrTarget::readsLocked() const {
  return (lock_ & kLockModeBits) == 0;
}

void AvrTarget::startSelfTimed(uint32_t datasheetMicros) {
  if (faults_.neverReady) busyForever_ = true;
  busyUntil_ = earliestArrival() + clock_->scaled(datasheetMicros);
}

void AvrTarget::noteViolation(const char* what, bool showFrame, int64_t shortMicros) {
  if (!stats_.firstViolation.empty()) return;
  char text[160];
  int used = std::snprintf(text, sizeof text, "%s", what);
  if (showFrame) {
    used += std::snprintf(text + used, sizeof text - used, " %02X %02X %02X %02X", frame_[0],
                          frame_[1], frame_[2], frame_[3]);
  }
  if (shortMicros > 0) {
    std::snprintf(text + used, sizeof text - used, ", %lld us too early",
                  static_cast<long long>(shortMicros));
  }
  stats_.firstViolation = text;
}

double AvrTarget::clockHz() const {
  return clockHz_ > 0 ? clockHz_ : fuseSelectedClockHz(part_, fuseLow_);
}

void AvrTarget::sckChanged(bool high) {
  const int64_t now = clock_->nowNanos();
  if (sckTimed_) {
    // Scaled like every datasheet time: a chip at 1/1000 of its times runs
    // its clock 1000 times faster.
    const double minimumNanos = 2e9 / clockHz() * clock_->scale();
    const int64_t phaseNanos = now - sckSinceNanos_;
    if (static_cast<double>(phaseNanos) < minimumNanos) {
      ++stats_.shortSckPhases;
      char text[120];
      std::snprintf(text, sizeof text, "SCK %s for %.2f us, under 2 clock cycles (%.2f us)",
                    high ? "low" : "high", static_cast<double>(phaseNanos) / 1000.0,
                    minimumNanos / 1000.0);
      noteViolation(text, false, 0);
    }
  }
  sckTimed_ = true;
  sckSinceNanos_ = now;
}

void AvrTarget::recognizeEnable() {
  if (programming_) return;
  const int64_t settled = resetLowSince_ + clock_->scaled(kResetSettleMicros);
  if (clock_->nowMicros() < settled) {
    ++stats_.earlyEnables;
    noteViolation("Programming Enable", false, settled - clock_->nowMicros());
    output_ = 0xFF;  // not in step: the host must not see its 0x53 come back
    return;
  }
  programming_ = true;
  output_ = 0x53;  // the echo of byte 2 that tells the host it is in step
  extendedAddress_ = 0;
  pageLoaded_ = false;
  std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
  std::fill(eepromPageLoaded_.begin(), eepromPageLoaded_.end(), false);
}

// The byte shifted out during byte 4, decided once bytes 1 to 3 are in.
uint8_t AvrTarget::readResult() const {
  const uint8_t op = frame_[0], b2 = frame_[1], b3 = frame_[2];
  // A part without Poll RDY/BSY takes F0 for an instruction it does not
  // know: its answer is the same whether or not it is writing.
  if (op == 0xF0 && b2 == 0x00 && part_.hasPollReady) return busy() ? 0x01 : 0x00;
  if (busy()) return b3;  // ignored, and counted once byte 4 arrives
  const uint32_t word =
      ((b2 << 8) | b3) +
      (part_.flashBytes > kWordAddressSpan * 2 ? extendedAddress_ : 0) * kWordAddressSpan;
  const uint32_t flashIndex = (word * 2) % part_.flashBytes;
  switch (op) {
    case 0x30:
      if (faults_.wrongSignature) return 0x00;
      return (b3 & 0x03) < 3 ? part_.signature[b3 & 0x03] : 0xFF;
    case 0x38:
      return part_.calibration;
    case 0x50:
      if (b2 == 0x00) return fuseLow_;
      if (b2 == 0x08) return fuseExtended();
      break;
    case 0x58:
      if (b2 == 0x00) return lock_;
      if (b2 == 0x08) return part_.hasHighFuse ? fuseHigh_ : 0xFF;
      break;
    case 0x20:
      return readsLocked() ? 0xFF : flash_[flashIndex];
    case 0x28:
      return readsLocked() ? 0xFF : flash_[flashIndex + 1];
    case 0xA0:
      if (eeprom_.empty()) return 0xFF;
      return readsLocked() ? 0xFF : eeprom_[((b2 << 8) | b3) % part_.eepromBytes];
    default:
      break;
  }
  return b3;
}

void AvrTarget::execute() {
  ++stats_.instructions;
  const uint8_t op = frame_[0], b2 = frame_[1], b3 = frame_[2], b4 = frame_[3];
  const bool isPoll = op == 0xF0 && b2 == 0x00 && part_.hasPollReady;
  if (isPoll) return;
  // Asking whether a chip is there and which it is is no work on it.
  if (op != 0x30 && !(op == 0xAC && b2 == 0x53)) lastWorkMicros_ = clock_->nowMicros();
  if (busy()) {
    ++stats_.busyViolations;
    noteViolation("instruction while busy:", true,
                  busyForever_ ? 0 : busyUntil_ - clock_->nowMicros());
    return;
  }
  switch (op) {
    case 0xAC:
      if ((b2 & 0xE0) == 0x80) {
        chipErase();
      } else if ((b2 & 0xE0) == 0xE0) {
        // Lock bits can only be programmed further; only a chip erase clears them.
        lock_ &= b4 | kUnusedLockBits;
        markWritten();
        startSelfTimed(part_.fuseMicros);
      } else if (b2 == 0xA0 || b2 == 0xA8 || b2 == 0xA4) {
        if (writesLocked()) return;
        if (b2 == 0xA0) fuseLow_ = b4;
        if (b2 == 0xA8 && part_.hasHighFuse) fuseHigh_ = b4;
        if (b2 == 0xA4 && part_.hasExtendedFuse) fuseExtended_ = b4;
        markWritten();
        startSelfTimed(part_.fuseMicros);
      }
      break;
    case 0x40:
    case 0x48: {
      const uint32_t index = b3 % part_.flashPageWords;
      pageBuffer_[index * 2 + (op == 0x48 ? 1 : 0)] = b4;
      pageLoaded_ = true;
      break;
    }
    case 0x4C:
      writePage();
      break;
    case 0x4D:
      extendedAddress_ = b3;
      break;
    case 0xC0:
      if (writesLocked() || eeprom_.empty()) return;
      eeprom_[((b2 << 8) | b3) % part_.eepromBytes] = b4;
      markWritten();
      startSelfTimed(part_.eepromByteMicros);
      break;
    case 0xC1:
      loadEepromPage();
      break;
    case 0xC2:
      writeEepromPage();
      break;
    default:
      break;  // reads were answered during byte 4; unknown opcodes do nothing
  }
}

void AvrTarget::chipErase() {
  std::fill(flash_.begin(), flash_.end(), 0xFF);
  if (!eepromKept()) std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
  lock_ = 0xFF;
  markWritten();
  startSelfTimed(part_.chipEraseMicros);
}

// EESAVE programmed (0) keeps the EEPROM through a chip erase; which fuse
// byte holds it differs (the ATtiny13's low fuse, the ATtiny2313's bit 6).
bool AvrTarget::eepromKept() const {
  switch (part_.eesaveFuse) {
    case 1:
      return (fuseLow_ & part_.eesaveMask) == 0;
    case 2:
      return (fuseHigh_ & part_.eesaveMask) == 0;
    case 3:
      return (fuseExtended() & part_.eesaveMask) == 0;
    default:
      return false;
  }
}

void AvrTarget::writePage() {
  if (!pageLoaded_) {
    ++stats_.emptyPageWrites;
    noteViolation("page write with nothing loaded:", true, 0);
    return;
  }
  if (!writesLocked()) {
    uint32_t word = (frame_[1] << 8) | frame_[2];
    if (part_.flashBytes > kWordAddressSpan * 2) word += extendedAddress_ * kWordAddressSpan;
    const uint32_t pageBytes = part_.flashPageWords * 2;
    const uint32_t start = (word * 2) % part_.flashBytes / pageBytes * pageBytes;
    // Programming can only clear bits; erased cells are what make a page equal
    // to what was loaded.
    for (uint32_t i = 0; i < pageBytes; ++i) flash_[start + i] &= pageBuffer_[i];
    ++stats_.pagesWritten;
    markWritten();
    startSelfTimed(part_.flashPageMicros);
  }
  std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
  pageLoaded_ = false;
}

// A part without the page instructions ignores them, as any unknown opcode.
void AvrTarget::loadEepromPage() {
  if (eepromPage_.empty()) return;
  const size_t index = frame_[2] % eepromPage_.size();
  eepromPage_[index] = frame_[3];
  eepromPageLoaded_[index] = true;
}

// The page is the one holding the address, whatever its low bits say; only
// the loaded bytes change, and the write takes t_WD_EEPROM like a byte's.
void AvrTarget::writeEepromPage() {
  if (eepromPage_.empty() || eeprom_.empty()) return;
  const size_t pageBytes = eepromPage_.size();
  const size_t start = ((frame_[1] << 8) | frame_[2]) % part_.eepromBytes / pageBytes * pageBytes;
  const bool anyLoaded = std::find(eepromPageLoaded_.begin(), eepromPageLoaded_.end(), true) !=
                         eepromPageLoaded_.end();
  if (anyLoaded && !writesLocked()) {
    for (size_t i = 0; i < pageBytes && start + i < eeprom_.size(); ++i) {
      if (eepromPageLoaded_[i]) eeprom_[start + i] = eepromPage_[i];
    }
    ++stats_.eepromPagesWritten;
    markWritten();
    startSelfTimed(part_.eepromByteMicros);
  }
  std::fill(eepromPageLoaded_.begin(), eepromPageLoaded_.end(), false);
}
