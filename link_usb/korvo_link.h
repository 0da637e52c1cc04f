#pragma once
// The Korvo programmer on its serial port: the ASCII command protocol that
// selects programming mode, drives the target's RESET line and carries each
// ISP instruction as a command byte plus the four instruction bytes.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "engine/isp_link.h"
#include "link_usb/serial_port.h"

struct Session;

struct KorvoTimings {
  // Silence after which a Korvo that owes us a reply counts as gone.
  int replyTimeoutMs = 5000;
  // Longest pause between two bytes of the sign-on text.
  int signOnGapMs = 400;
  // The whole sign-on, however its bytes are spaced, and its length: a device
  // that talks without end is not a Korvo.
  int signOnLimitMs = 5000;
  size_t signOnTextLimit = 4096;
  // Silence that ends the draining of a line whose replies fell out of step:
  // longer than any pause between the answers to frames still in flight.
  int resyncQuietMs = 100;
};

class KorvoLink : public IspLink {
 public:
  explicit KorvoLink(Session& session, KorvoTimings timings = KorvoTimings());
  ~KorvoLink() override;

  // Opens the port that the settings name (channel or configured path) at
  // their baud code. 1 when open, -1 after printing the port error.
  int openProgrammerPort();
  // The port error for an open that failed with `error` (an errno value):
  // prints it, closes the port and returns -1; results of 0 or more pass.
  int reportPortError(int result, int error);
  void closePort();
  bool isOpen() const { return port_.isOpen(); }
  // The device actually opened; later changes to the settings do not move it.
  const std::string& devicePath() const { return devicePath_; }

  // Each of these throws LinkLostError when the Korvo is silent for the reply
  // time limit or the port hangs up.
  void programmerSendByte(uint8_t byte);
  uint8_t programmerReadByte();
  void programmerSendText(const char* text);
  // 1 when `prompt` arrived, -1 when a gap in the text exceeded the sign-on
  // gap, or the text its time or length limit (after a message). Echoes what
  // arrives unless output is quiet.
  int waitForPrompt(char prompt);
  // Reads the sign-on up to ">" when still awaited; false at once otherwise.
  bool checkSignOn();
  void setAwaitSignOn(bool await) { awaitSignOn_ = await; }

  // A byte if one arrives within `timeoutMs`; false when none did.
  bool receiveWithin(uint8_t& byte, int timeoutMs);

  void enterProgrammingMode(char mode);

  // IspLink.
  void sendInstruction(const IspInstruction& instruction) override;
  uint8_t queryInstruction(const IspInstruction& instruction) override;
  // Keeps a window of query frames in flight, sending more as answers come:
  // the same frames and one answer each, without a round trip per byte, with
  // known-answer checks among them. A run whose answers fell out of step is
  // read once more; twice out of step throws LinkLostError.
  void queryInstructions(const IspInstruction* instructions, size_t count,
                         uint8_t* results) override;
  uint8_t enableProgramming() override;
  int waitReady() override;
  bool sendWaitReady() override;
  int collectWaitReady() override;
  void enterProgrammingMode() override { enterProgrammingMode(enableMode_); }
  void leaveProgrammingMode() override;
  void pulseReset(int32_t units) override;

  // For tests: how many write(2) calls the port has made.
  size_t portWriteCalls() const { return port_.writeCalls(); }

 private:
  void sendFrame(uint8_t command, const IspInstruction& instruction);
  void sendBytes(const uint8_t* data, size_t length);
  [[noreturn]] void linkLost(SerialStatus status);
  // Reads the answers still owed to busy commands that the fast download sent
  // without waiting, so that they are not taken for the next reply.
  void settleUnreadBusyReplies();
  // The replies to one busy command up to ready ('0', 0) or failed (-1).
  int readBusyOutcome();
  // Reads the outcomes of the split waits still owed and keeps them, in
  // order, for collectWaitReady, so no other reply is taken for them.
  void holdOwedBusyOutcome();
  // One pass of a windowed run with its known-answer checks; false when a
  // check came back wrong or a byte beyond the expected count arrived.
  bool queryWindowed(const IspInstruction* instructions, size_t count, uint8_t* results);
  // After replies fell out of step: waits out the answers still in flight
  // and makes sure one known-answer query is answered alone.
  void resynchronise();

  Session& session_;
  KorvoTimings timings_;
  SerialPort port_;
  std::string devicePath_;
  char enableMode_ = '2';
  bool awaitSignOn_ = true;
  int unreadBusyReplies_ = 0;
  // Split waits sent and not yet read, and those read and not yet collected.
  int owedBusyOutcomes_ = 0;
  std::deque<int> heldBusyOutcomes_;
  // Frames sent since the oldest owed busy command.
  int framesDuringBusy_ = 0;
};

// The exit command's close of the programmer's port; nothing for other links.
void closeProgrammerPort(Session& session);
