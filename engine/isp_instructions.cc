#include "engine/isp_instructions.h"

#include "run/session.h"

namespace {

uint8_t hi(uint16_t address) {
  return static_cast<uint8_t>(address >> 8);
}
uint8_t lo(uint16_t address) {
  return static_cast<uint8_t>(address & 0xFF);
}

void send(IspLink& link, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
  link.sendInstruction(IspInstruction{{b1, b2, b3, b4}});
}

uint8_t query(IspLink& link, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
  return link.queryInstruction(IspInstruction{{b1, b2, b3, b4}});
}

// The read instructions, shared by the single reads and the runs of reads.
constexpr uint8_t kReadFlashLow = 0x20;
constexpr uint8_t kReadFlashHigh = 0x28;
constexpr uint8_t kReadEeprom = 0xA0;

IspInstruction addressed(uint8_t opcode, uint16_t address) {
  return IspInstruction{{opcode, hi(address), lo(address), 0x00}};
}

}  // namespace

uint8_t ispProgrammingEnable(IspLink& link) {
  return link.enableProgramming();
}
void ispChipErase(IspLink& link) {
  send(link, 0xAC, 0x80, 0x00, 0x00);
}
uint8_t ispReadSignatureByte(IspLink& link, uint8_t n) {
  return query(link, 0x30, 0x00, n, 0x00);
}
uint8_t ispReadCalibrationByte(IspLink& link) {
  return query(link, 0x38, 0x00, 0x00, 0x00);
}
uint8_t ispReadLockBits(IspLink& link) {
  return query(link, 0x58, 0x00, 0x00, 0x00);
}
uint8_t ispReadFuseLow(IspLink& link) {
  return query(link, 0x50, 0x00, 0x00, 0x00);
}
uint8_t ispReadFuseHigh(IspLink& link) {
  return query(link, 0x58, 0x08, 0x00, 0x00);
}
uint8_t ispReadFuseExtended(IspLink& link) {
  return query(link, 0x50, 0x08, 0x00, 0x00);
}
void ispWriteFuseLow(IspLink& link, uint8_t value) {
  send(link, 0xAC, 0xA0, 0x00, value);
}
void ispWriteFuseHigh(IspLink& link, uint8_t value) {
  send(link, 0xAC, 0xA8, 0x00, value);
}
void ispWriteFuseExtended(IspLink& link, uint8_t value) {
  send(link, 0xAC, 0xA4, 0x00, value);
}
void ispWriteLockBits(IspLink& link, uint8_t value) {
  send(link, 0xAC, 0xE0, 0x00, value);
}

uint8_t ispReadFlashLowByte(IspLink& link, uint16_t word) {
  return link.queryInstruction(addressed(kReadFlashLow, word));
}
uint8_t ispReadFlashHighByte(IspLink& link, uint16_t word) {
  return link.queryInstruction(addressed(kReadFlashHigh, word));
}
void ispLoadPageLowByte(IspLink& link, uint8_t index, uint8_t data) {
  send(link, 0x40, 0x00, index, data);
}
void ispLoadPageHighByte(IspLink& link, uint8_t index, uint8_t data) {
  send(link, 0x48, 0x00, index, data);
}
void ispWritePage(IspLink& link, uint16_t word) {
  send(link, 0x4C, hi(word), lo(word), 0x00);
}
void ispLoadExtendedAddress(IspLink& link, uint8_t extended) {
  send(link, 0x4D, 0x00, extended, 0x00);
}
uint8_t ispReadEepromByte(IspLink& link, uint16_t address) {
  return link.queryInstruction(addressed(kReadEeprom, address));
}
void ispReadFlashBytes(IspLink& link, uint32_t firstByte, size_t count, uint8_t* out) {
  IspInstruction run[kIspReadRunBytes];
  if (count > kIspReadRunBytes) count = kIspReadRunBytes;
  for (size_t k = 0; k < count; ++k) {
    uint32_t offset = firstByte + static_cast<uint32_t>(k);
    uint16_t word = static_cast<uint16_t>((offset / 2) & 0xFFFF);
    // Even offsets are the word's low byte, odd ones its high byte.
    run[k] = addressed((offset & 1) ? kReadFlashHigh : kReadFlashLow, word);
  }
  link.queryInstructions(run, count, out);
}
void ispReadEepromBytes(IspLink& link, uint16_t first, size_t count, uint8_t* out) {
  IspInstruction run[kIspReadRunBytes];
  if (count > kIspReadRunBytes) count = kIspReadRunBytes;
  for (size_t k = 0; k < count; ++k) {
    uint16_t address = static_cast<uint16_t>(first + k);
    run[k] = addressed(kReadEeprom, address);
  }
  link.queryInstructions(run, count, out);
}
void ispWriteEepromByte(IspLink& link, uint16_t address, uint8_t data) {
  send(link, 0xC0, hi(address), lo(address), data);
}
void ispLoadEepromPage(IspLink& link, uint16_t address, uint8_t data) {
  send(link, 0xC1, 0x00, lo(address), data);
}
void ispWriteEepromPage(IspLink& link, uint16_t address) {
  send(link, 0xC2, hi(address), lo(address), 0x00);
}
uint8_t ispPollReady(IspLink& link) {
  return link.queryInstruction(kIspPollReady);
}

void readSignature(Session& session) {
  for (uint8_t n = 0; n < 3; ++n) {
    session.target.signature[n] = ispReadSignatureByte(*session.link, n);
  }
}

void readFuses(Session& session) {
  IspLink& link = *session.link;
  uint8_t low = ispReadFuseLow(link);
  uint8_t high = ispReadFuseHigh(link);
  uint8_t extended = ispReadFuseExtended(link);
  session.target.fuseBytes[0] = extended;
  session.target.fuseBytes[1] = high;
  session.target.fuseBytes[2] = low;
}
