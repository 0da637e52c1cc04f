#include "tests/support/scripted_link.h"

#include <cstdio>

namespace {

uint8_t byteAt(const std::vector<uint8_t>& memory, uint32_t address) {
  return address < memory.size() ? memory[address] : 0xFF;
}

std::string hexBytes(const IspInstruction& instruction) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", instruction.bytes[0],
                instruction.bytes[1], instruction.bytes[2], instruction.bytes[3]);
  return text;
}

}  // namespace

std::string LinkEvent::text() const {
  switch (kind) {
    case kSend:
      return "send " + hexBytes(instruction);
    case kQuery:
      return "query " + hexBytes(instruction);
    case kEnable:
      return "enable";
    case kWaitReady:
      return "wait " + std::to_string(value);
    case kWaitSent:
      return "wait sent";
    case kEnter:
      return "enter";
    case kLeave:
      return "leave";
    case kPulse:
      return "pulse " + std::to_string(value);
    case kDelay:
      return "delay " + std::to_string(value);
  }
  return "?";
}

void ScriptedLink::sendInstruction(const IspInstruction& instruction) {
  events_.push_back({LinkEvent::kSend, instruction, 0});
  if (instruction.bytes[0] == 0x4D) extendedAddress_ = instruction.bytes[2];
  if (keepsEepromWrites && instruction.bytes[0] == 0xC0) {
    size_t address = static_cast<size_t>(instruction.bytes[1] << 8 | instruction.bytes[2]);
    if (eeprom.size() <= address) eeprom.resize(address + 1, 0xFF);
    eeprom[address] = instruction.bytes[3];
  }
  const uint8_t* b = instruction.bytes;
  if (!keepsWrites || b[0] != 0xAC) return;
  if (b[1] == 0xA0) fuseLow = b[3];
  if (b[1] == 0xA8) fuseHigh = b[3];
  if (b[1] == 0xA4) fuseExtended = b[3];
  if (b[1] == 0xE0) lockBits = b[3];
}

uint8_t ScriptedLink::queryInstruction(const IspInstruction& instruction) {
  events_.push_back({LinkEvent::kQuery, instruction, 0});
  return onQuery ? onQuery(instruction) : builtInAnswer(instruction);
}

uint8_t ScriptedLink::enableProgramming() {
  events_.push_back({LinkEvent::kEnable, {}, 0});
  if (enableEchoes.empty()) return 0x53;
  uint8_t echo = enableEchoes.front();
  enableEchoes.pop_front();
  return echo;
}

int ScriptedLink::waitReady() {
  int result = 0;
  if (!waitResults.empty()) {
    result = waitResults.front();
    waitResults.pop_front();
  }
  events_.push_back({LinkEvent::kWaitReady, {}, result});
  return result;
}

bool ScriptedLink::sendWaitReady() {
  if (!splitWaits) return false;
  events_.push_back({LinkEvent::kWaitSent, {}, 0});
  return true;
}

int ScriptedLink::collectWaitReady() {
  return waitReady();
}

void ScriptedLink::enterProgrammingMode() {
  events_.push_back({LinkEvent::kEnter, {}, 0});
}
void ScriptedLink::leaveProgrammingMode() {
  events_.push_back({LinkEvent::kLeave, {}, 0});
}
void ScriptedLink::pulseReset(int32_t units) {
  events_.push_back({LinkEvent::kPulse, {}, units});
}
void ScriptedLink::recordDelay(int32_t units) {
  events_.push_back({LinkEvent::kDelay, {}, units});
}

std::string ScriptedLink::transcript() const {
  std::string text;
  for (const LinkEvent& event : events_) text += event.text() + "\n";
  return text;
}

std::vector<IspInstruction> ScriptedLink::instructionsWith(uint8_t opcode) const {
  std::vector<IspInstruction> found;
  for (const LinkEvent& event : events_) {
    bool carries = event.kind == LinkEvent::kSend || event.kind == LinkEvent::kQuery;
    if (carries && event.instruction.bytes[0] == opcode) found.push_back(event.instruction);
  }
  return found;
}

int ScriptedLink::count(LinkEvent::Kind kind) const {
  int n = 0;
  for (const LinkEvent& event : events_) n += event.kind == kind ? 1 : 0;
  return n;
}

uint8_t ScriptedLink::builtInAnswer(const IspInstruction& instruction) const {
  const uint8_t* b = instruction.bytes;
  uint32_t address = (static_cast<uint32_t>(b[1]) << 8) | b[2];
  switch (b[0]) {
    case 0x30:
      return b[2] < 3 ? signature[b[2]] : 0xFF;
    case 0x38:
      return calibration;
    case 0x50:
      return b[1] == 0x08 ? fuseExtended : fuseLow;
    case 0x58:
      return b[1] == 0x08 ? fuseHigh : lockBits;
    case 0x20:
      return byteAt(flash, (extendedAddress_ << 17) + address * 2);
    case 0x28:
      return byteAt(flash, (extendedAddress_ << 17) + address * 2 + 1);
    case 0xA0:
      return byteAt(eeprom, address);
    case 0xF0:
      return 0x00;
    default:
      return 0xFF;
  }
}
