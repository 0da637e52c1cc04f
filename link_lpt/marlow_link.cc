#include "link_lpt/marlow_link.h"

#include <algorithm>

#include "catalogue/part_record.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

// The ATmega644P is given its longest self-timed write instead of being polled.
constexpr int32_t kFixedWriteWaitUnits = 15000;
constexpr uint32_t kLongestWaitUnits = 60000;
constexpr int32_t kBusyPollGapUnits = 100;
constexpr int kBusyAnswersTolerated = 5000;
constexpr uint8_t kBusyBit = 0x01;
constexpr IspInstruction kPollReady = {{0xF0, 0x00, 0x00, 0x00}};

constexpr int32_t kResetStepUnits = 10;
// RESET must be low at least 20 ms before Programming Enable.
constexpr int32_t kEnterSettleUnits = 30000;
// Time for the target's own program to start before the enable lines let go.
constexpr int32_t kLeaveSettleUnits = 60000;

}  // namespace

MarlowLink::MarlowLink(Session& session, PortBits bits) : session_(session), bits_(bits) {}

MarlowPort MarlowLink::port() const {
  MarlowPort lines;
  lines.bits = bits_;
  lines.dataPort = session_.settings.lptDataPort;
  lines.statusPort = session_.settings.lptStatusPort;
  return lines;
}

void MarlowLink::sendInstruction(const IspInstruction& instruction) {
  const uint8_t op = instruction.bytes[0];
  if (op == 0xAC || op == 0x4C || op == 0xC0 || op == 0xC2) {
    lastWrite_[0] = op;
    lastWrite_[1] = instruction.bytes[1];
  }
  MarlowPort lines = port();
  for (uint8_t byte : instruction.bytes) spiWriteByte(lines, byte);
}

uint8_t MarlowLink::queryInstruction(const IspInstruction& instruction) {
  MarlowPort lines = port();
  for (int i = 0; i < 3; ++i) spiWriteByte(lines, instruction.bytes[i]);
  return spiExchangeByte(lines, instruction.bytes[3]);
}

uint8_t MarlowLink::enableProgramming() {
  enterProgrammingMode();
  MarlowPort lines = port();
  spiWriteByte(lines, 0xAC);
  spiWriteByte(lines, 0x53);
  // In step, the target echoes the second byte while the third goes in.
  uint8_t echo = spiExchangeByte(lines, 0x00);
  spiWriteByte(lines, 0x00);
  return echo;
}

int32_t MarlowLink::writeWaitUnits(const PartRecord& part) const {
  uint32_t micros = part.fuseWaitMicros;  // fuse and lock bit writes
  if (lastWrite_[0] == 0xAC && (lastWrite_[1] & 0xE0) == 0x80) micros = part.eraseWaitMicros;
  if (lastWrite_[0] == 0x4C) micros = part.flashWaitMicros;
  if (lastWrite_[0] == 0xC0 || lastWrite_[0] == 0xC2) micros = part.eepromWaitMicros;
  // A t_WD the datasheet facts do not give is waited out as the longest
  // write; no datasheet's comes near the longest single delay.
  if (micros == 0) return kFixedWriteWaitUnits;
  return static_cast<int32_t>(std::min<uint32_t>(micros, kLongestWaitUnits));
}

int MarlowLink::waitReady() {
  if (session_.target.processorIndex == kFixedWaitRow) {
    delayUnits(kFixedWriteWaitUnits);
    return 0;
  }
  // Without Poll RDY/BSY the chip's answer to F0 says nothing about the write:
  // the datasheet's minimum wait is the only safe one.
  const PartRecord* part = session_.currentPart();
  if (part != nullptr && !part->hasPollReady) {
    delayUnits(writeWaitUnits(*part));
    return 0;
  }
  int busyAnswers = 0;
  while (queryInstruction(kPollReady) & kBusyBit) {
    delayUnits(kBusyPollGapUnits);
    if (busyAnswers > kBusyAnswersTolerated) return -1;
    ++busyAnswers;
  }
  return 0;
}

void MarlowLink::enterProgrammingMode() {
  MarlowPort lines = port();
  prepareLines(lines);
  setDataLine(lines, kResetLine, 0);
  setDataLine(lines, kResetLeadLine, 0);
  delayUnits(kEnterSettleUnits);
  session_.target.targetReleased = false;
}

void MarlowLink::leaveProgrammingMode() {
  MarlowPort lines = port();
  delayUnits(kResetStepUnits);
  setDataLine(lines, kResetLeadLine, 1);
  setDataLine(lines, kResetLine, 1);
  delayUnits(kLeaveSettleUnits);
  releaseEnableLines(lines);
  session_.target.targetReleased = true;
}

void MarlowLink::pulseReset(int32_t units) {
  ::pulseReset(port(), units);
}
