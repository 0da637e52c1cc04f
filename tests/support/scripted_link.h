#pragma once
// An IspLink for engine tests: it records every call in order, answers the
// queries like a small target (signature, fuses, lock, calibration, flash and
// EEPROM contents) or from a test's own callback, and fails the ready waits a
// test asks it to.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/isp_link.h"

struct LinkEvent {
  enum Kind { kSend, kQuery, kEnable, kWaitReady, kEnter, kLeave, kPulse, kDelay, kWaitSent };
  Kind kind;
  IspInstruction instruction{};  // kSend and kQuery
  int32_t value = 0;             // kPulse and kDelay units, kWaitReady result

  // "send AC 80 00 00", "query 30 00 02 00", "wait 0", "delay 10000",
  // "wait sent", ... (a split wait's outcome reads "wait 0" when collected)
  std::string text() const;
};

class ScriptedLink : public IspLink {
 public:
  // What the built-in answers read.
  uint8_t signature[3] = {0x1E, 0x95, 0x02};
  uint8_t fuseLow = 0xE4, fuseHigh = 0xD9, fuseExtended = 0xFF;
  uint8_t lockBits = 0xFF;
  uint8_t calibration = 0xA5;
  // Fuse and lock writes change the answers above, unless a test turns that
  // off to play a target whose cells do not take the value.
  bool keepsWrites = true;
  std::vector<uint8_t> flash;   // by byte address; 0xFF beyond
  std::vector<uint8_t> eeprom;  // likewise
  // Overrides the built-in answers when set.
  std::function<uint8_t(const IspInstruction&)> onQuery;
  // Echoes of successive enables; 0x53 once the list is used up.
  std::deque<uint8_t> enableEchoes;
  // Results of successive waitReady calls; 0 once the list is used up.
  std::deque<int> waitResults;
  // Splits the waits in two, as a link that overlaps them does; the outcome
  // comes from waitResults when collected.
  bool splitWaits = false;
  // Keeps the EEPROM writes in `eeprom`, so later reads answer them.
  bool keepsEepromWrites = false;

  void sendInstruction(const IspInstruction& instruction) override;
  uint8_t queryInstruction(const IspInstruction& instruction) override;
  uint8_t enableProgramming() override;
  int waitReady() override;
  bool sendWaitReady() override;
  int collectWaitReady() override;
  void enterProgrammingMode() override;
  void leaveProgrammingMode() override;
  void pulseReset(int32_t units) override;
  // The engine's fixed pauses, routed here by the test.
  void recordDelay(int32_t units);

  const std::vector<LinkEvent>& events() const { return events_; }
  void clearEvents() { events_.clear(); }
  // Every event as text, one per line.
  std::string transcript() const;
  // The instructions sent or queried whose first byte is `opcode`.
  std::vector<IspInstruction> instructionsWith(uint8_t opcode) const;
  int count(LinkEvent::Kind kind) const;

 private:
  uint8_t builtInAnswer(const IspInstruction& instruction) const;
  std::vector<LinkEvent> events_;
  uint32_t extendedAddress_ = 0;  // as the last Load Extended Address set it
};
