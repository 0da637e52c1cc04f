#pragma once
// The Korvo programmer as a byte-in/bytes-out state machine: the ASCII command
// protocol it speaks to the host on one side, the target's RESET line and SPI
// on the other. No terminal and no clock of its own: the caller passes the time
// and carries the bytes, so tests drive it directly.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

using KorvoBytes = std::vector<uint8_t>;

// The Korvo's wires to the target: RESET and one full-duplex SPI byte.
class KorvoTarget {
 public:
  virtual ~KorvoTarget() = default;
  virtual void setResetLow(bool low) = 0;
  virtual uint8_t exchange(uint8_t mosi) = 0;
  // For a part without Poll RDY/BSY, whose answer to F0 means nothing, the
  // Korvo's busy command keeps the part's own write time: 1 while that runs,
  // 0 once it is over. -1 for a part that answers the poll.
  virtual int timedBusy() { return -1; }
};

struct KorvoSettings {
  bool signOn = true;
  // How long "b" waits for the target before giving up with '1', and how often
  // it polls the target meanwhile (one progress byte per busy poll). Both in
  // the caller's microseconds, already scaled.
  int64_t busyLimitMicros = 2'000'000;
  int64_t busyPollMicros = 1'000;
  // Fault options; 0 = never. The hang-up comes with the first byte the host
  // sends after the last counted frame.
  uint64_t hangupAfterFrames = 0;
  uint64_t silentAfterFrames = 0;
  // A faulty Korvo: bytes that arrive while "b" waits are acted on at once
  // instead of being held until the wait ends.
  bool actsDuringBusy = false;
};

class KorvoDevice {
 public:
  static constexpr uint8_t kBusyProgress = '.';
  static constexpr uint8_t kReady = '0';
  static constexpr uint8_t kGaveUp = '1';

  KorvoDevice(KorvoTarget& target, KorvoSettings settings);

  // The host opened the port: the Korvo restarts, releases the target and
  // announces itself with a text ending in the prompt '>'.
  void hostOpened(KorvoBytes& out);
  void receive(uint8_t byte, int64_t nowMicros, KorvoBytes& out);
  // Moves a "b" wait on; bytes that arrived meanwhile are acted on once it ends.
  void advance(int64_t nowMicros, KorvoBytes& out);
  // When advance() next has work to do; -1 when nothing is pending.
  int64_t nextWakeMicros() const;

  // A host that leaves its line echoing would bounce every echoed byte back as
  // new input; the caller turns the echo off while that is so.
  void setEchoAllowed(bool allowed) { echoAllowed_ = allowed; }
  // Called with each command's bytes as the host sent them, and with each
  // stray byte on its own.
  void setTraceSink(std::function<void(const KorvoBytes&)> sink) { trace_ = std::move(sink); }

  static std::string signOnText();
  uint64_t frames() const { return frames_; }
  bool inProgrammingSequence() const { return inSequence_; }
  bool busyWaiting() const { return busyWait_; }
  bool hungUp() const { return hungUp_; }
  bool silent() const { return silent_; }

 private:
  enum class Parse { kIdle, kP, kPDigit, kR, kFrame };

  void parse(uint8_t byte, int64_t nowMicros, KorvoBytes& out);
  void startCommand(uint8_t byte, int64_t nowMicros, KorvoBytes& out);
  void finishFrame(KorvoBytes& out);
  void startBusyWait(int64_t nowMicros, KorvoBytes& out);
  void pollTarget(int64_t nowMicros, KorvoBytes& out);
  bool targetBusy();
  void endCommand();
  void stray(uint8_t byte, KorvoBytes& out);

  KorvoTarget& target_;
  KorvoSettings settings_;
  std::function<void(const KorvoBytes&)> trace_;
  bool echoAllowed_ = true;

  Parse state_ = Parse::kIdle;
  KorvoBytes command_;
  bool inSequence_ = false;

  bool busyWait_ = false;
  int64_t busyStart_ = 0;
  int64_t nextBusyPoll_ = 0;
  std::deque<uint8_t> held_;

  uint64_t frames_ = 0;
  bool hangupArmed_ = false;
  bool hungUp_ = false;
  bool silent_ = false;
};
