#include "link_usb/korvo_link.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "link_usb/device_names.h"
#include "link_usb/port_diagnosis.h"
#include "run/session.h"
#include "timing/delay.h"

namespace {

constexpr char kNoReply[] = "\nError - no reply from Korvo\n";
constexpr char kConnectionLost[] = "\nError - connection to Korvo lost\n";
// Bytes arrived, but not the awaited reply before its time was up.
constexpr char kNoValidReply[] = "\nError - no valid reply from Korvo\n";
// The answers to a windowed read were out of step twice in a row.
constexpr char kRepliesOutOfStep[] = "\nError - replies from Korvo out of step, read abandoned\n";
constexpr char kEndlessSignOn[] =
    "\nError - the device on the port keeps sending without a Korvo sign-on\n";

constexpr uint8_t kQueryFourth = '4';
constexpr uint8_t kQueryThird = '3';
constexpr uint8_t kWriteInstruction = 'w';
constexpr uint8_t kBusyCommand = 'b';
constexpr uint8_t kReady = '0';
constexpr uint8_t kFailed = '1';
constexpr uint8_t kModeAccepted = 'a';

// Replies to "b" other than ready or failed that are tolerated before giving up.
constexpr int kBusyReplyLimit = 5000;
constexpr int32_t kBusyPollUnits = 100;
// RESET timing: 10 us between the raise and the lowering, then the 20 ms the
// AVR needs after RESET goes low before it takes Programming Enable, with room.
constexpr int32_t kResetStepUnits = 10;
constexpr int32_t kResetSettleUnits = 30000;

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineAfter(int ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

// Milliseconds left until `deadline`, 0 once it has passed.
int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The bytes of one reply, which must be complete within its time as a whole:
// bytes that are not the awaited answer do not buy more time.
class ReplyWait {
 public:
  ReplyWait(SerialPort& port, int limitMs)
      : port_(port), start_(Clock::now()), deadline_(deadlineAfter(limitMs)) {}

  uint8_t next() {
    uint8_t byte = 0;
    SerialStatus status = port_.receive(byte, millisecondsLeft(deadline_));
    if (status == SerialStatus::kLost) throw LinkLostError(kConnectionLost);
    const Clock::time_point now = Clock::now();
    if (status == SerialStatus::kTimeout) {
      // A Korvo that fell silent gives no reply; one still talking near the
      // end of the time gives none that is valid.
      bool talking = heard_ && now - lastByte_ < (deadline_ - start_) / 2;
      throw LinkLostError(talking ? kNoValidReply : kNoReply);
    }
    if (now > deadline_) throw LinkLostError(kNoValidReply);
    heard_ = true;
    lastByte_ = now;
    return byte;
  }

 private:
  SerialPort& port_;
  Clock::time_point start_;
  Clock::time_point deadline_;
  Clock::time_point lastByte_;
  bool heard_ = false;
};

// Query frames in flight while memory is read back. The line must stay busy
// for a whole round trip: an FTDI adapter's default latency timer holds an
// answer up to 16 ms, and 16 ms at 115200 baud (11,520 bytes a second) are
// about 185 bytes. On top come the frame's own way out and the scheduling of
// both ends: a program on a busy machine reads an answer tens of ms late, and
// every ms beyond what the window covers is a ms of idle line. Nothing on the
// Korvo's side asks for a small window: it keeps up with frames arriving at
// the full line rate anyway (a download streams "w" frames that fast), so
// frames in flight wait on the wire, not in its queue; and its answers are
// one byte per five sent, so they never back up behind each other. The one
// ceiling is the 1024 bytes of queue the port is opened with: the whole
// window must fit in a queue of that size should the Korvo itself fall behind.
// 160 frames, 800 bytes or 69 ms of line, cover four 16 ms round trips and
// leave such a queue a fifth spare.
constexpr size_t kQueryWindowFrames = 160;

// The Korvo's protocol has no framing: a byte lost or doubled on the way
// shifts every answer after it, and nothing in the data shows it. So runs of
// queries carry a query whose answer is known, signature byte 0, which is
// 0x1E on every AVR: one after every kCheckInterval data queries and one at
// the end. One check frame in 56 keeps the cost under 2% of the wire time
// (19 checks in a run of 1024); a shift shows at the next check, so at most
// 56 answers stand between a fault and its discovery.
constexpr size_t kCheckInterval = 56;
constexpr IspInstruction kKnownAnswerQuery{{0x30, 0x00, 0x00, 0x00}};
constexpr uint8_t kKnownAnswer = 0x1E;

// Frames sent behind a busy command before its outcome is read: 900 bytes,
// inside a 1024-byte queue with the busy command and room to spare. A page
// write normally ends long before (4.5 ms are 52 bytes).
constexpr int kFramesDuringBusy = 180;

}  // namespace

KorvoLink::KorvoLink(Session& session, KorvoTimings timings)
    : session_(session), timings_(timings) {}

KorvoLink::~KorvoLink() = default;

int KorvoLink::openProgrammerPort() {
  const RunSettings& settings = session_.settings;
  std::string device = programmerDevicePath(settings);
  int error = port_.open(device, settings.baudCode);
  pid_t holder = port_.lock().holder();
  if (error == EBUSY && holder > 0 && holder != getpid()) {
    session_.console.print("\n%s is in use by process %d (lock file %s)\n", device.c_str(),
                           static_cast<int>(holder), port_.lock().path().c_str());
  }
  if (error != 0) {
    reportPortError(-1, error);
    // The port error names neither the device nor the reason; a Linux user
    // needs both, and the devices there are to choose from.
    session_.console.write(explainPortError(device, error, deviceFoldersFromEnvironment()) + "\n");
    return -1;
  }
  devicePath_ = device;
  return 1;
}

int KorvoLink::reportPortError(int result, int error) {
  if (result >= 0) return result;
  Console& console = session_.console;
  console.print("\n");
  console.print("ERROR: %s: %d\n",
                "Com port id maybe wrong or in use by another application\n"
                "       Select another com port or clear conflict - ",
                error);
  closePort();
  console.print("\n");
  return -1;
}

void KorvoLink::closePort() {
  port_.close();
  devicePath_.clear();
}

void KorvoLink::linkLost(SerialStatus status) {
  throw LinkLostError(status == SerialStatus::kTimeout ? kNoReply : kConnectionLost);
}

void KorvoLink::sendBytes(const uint8_t* data, size_t length) {
  SerialStatus status = port_.send(data, length);
  if (status != SerialStatus::kOk) linkLost(status);
}

void KorvoLink::programmerSendByte(uint8_t byte) {
  sendBytes(&byte, 1);
}

void KorvoLink::programmerSendText(const char* text) {
  sendBytes(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

uint8_t KorvoLink::programmerReadByte() {
  uint8_t byte = 0;
  SerialStatus status = port_.receive(byte, timings_.replyTimeoutMs);
  if (status != SerialStatus::kOk) linkLost(status);
  return byte;
}

bool KorvoLink::receiveWithin(uint8_t& byte, int timeoutMs) {
  SerialStatus status = port_.receive(byte, timeoutMs);
  if (status == SerialStatus::kLost) linkLost(status);
  return status == SerialStatus::kOk;
}

int KorvoLink::waitForPrompt(char prompt) {
  const bool echo = session_.settings.outputMode != 'q';
  const Clock::time_point deadline = deadlineAfter(timings_.signOnLimitMs);
  size_t received = 0;
  uint8_t byte = 0;
  while (byte != static_cast<uint8_t>(prompt)) {
    if (received >= timings_.signOnTextLimit || Clock::now() > deadline) {
      session_.console.print("%s", kEndlessSignOn);
      return -1;
    }
    ++received;
    SerialStatus status = port_.receive(byte, timings_.signOnGapMs);
    if (status == SerialStatus::kLost) linkLost(status);
    if (status == SerialStatus::kTimeout) {
      if (session_.settings.logEnabled && session_.logStream != nullptr) {
        std::fputs("break lockup", session_.logStream);
      }
      return -1;
    }
    if (echo) session_.console.write(std::string_view(reinterpret_cast<char*>(&byte), 1));
  }
  return 1;
}

bool KorvoLink::checkSignOn() {
  if (!awaitSignOn_) return false;
  return waitForPrompt('>') == 1;
}

void KorvoLink::settleUnreadBusyReplies() {
  // Each busy command is answered by a stream that ends in '0' or '1'; the
  // Korvo keeps the commands sent meanwhile and answers them afterwards. Its
  // own busy limit ends each stream well within the reply time, so each owed
  // reply gets that time as a whole, not renewed by the bytes of the stream.
  while (unreadBusyReplies_ > 0) {
    ReplyWait wait(port_, timings_.replyTimeoutMs);
    uint8_t reply = 0;
    do {
      reply = wait.next();
    } while (reply != kReady && reply != kFailed);
    --unreadBusyReplies_;
  }
}

void KorvoLink::enterProgrammingMode(char mode) {
  settleUnreadBusyReplies();
  // A command that ended early (an error other than a lost link) can leave a
  // split wait owed; its replies are among the bytes dropped below, and none
  // is owed in the new programming mode.
  owedBusyOutcomes_ = 0;
  heldBusyOutcomes_.clear();
  framesDuringBusy_ = 0;
  unreadBusyReplies_ = 0;
  programmerSendText(mode == '1' ? "p1\r" : "p2\r");
  // Whatever the Korvo says before accepting the mode (and anything left over
  // from earlier commands) is dropped, within one reply time as a whole.
  ReplyWait wait(port_, timings_.replyTimeoutMs);
  while (wait.next() != kModeAccepted) {
  }
  programmerSendText("rl");
  delayUnits(kResetSettleUnits);
  pulseReset(kResetSettleUnits);
  // Here the Korvo owes nothing, and 60 ms have passed for anything still on
  // its way to arrive: answers left by an interrupted run or an earlier
  // command, or a stray "a" taken for the acceptance above. Dropped, so the
  // enable's echo is the first byte read.
  port_.discardInput();
}

void KorvoLink::leaveProgrammingMode() {
  delayUnits(kResetStepUnits);
  programmerSendText("rh");
  delayUnits(kResetStepUnits);
  programmerSendText("e");
}

void KorvoLink::pulseReset(int32_t units) {
  delayUnits(kResetStepUnits);
  programmerSendText("rh");
  delayUnits(kResetStepUnits);
  programmerSendText("rl");
  delayUnits(units);
}

void KorvoLink::sendFrame(uint8_t command, const IspInstruction& instruction) {
  // One write per frame: the same bytes on the wire, but one system call and
  // one USB packet instead of five.
  const uint8_t frame[5] = {command, instruction.bytes[0], instruction.bytes[1],
                            instruction.bytes[2], instruction.bytes[3]};
  sendBytes(frame, sizeof frame);
}

void KorvoLink::sendInstruction(const IspInstruction& instruction) {
  // While a split wait is open the Korvo keeps what arrives until the target
  // is ready; a target that stays busy for the Korvo's whole 2 s limit must
  // not make it drop frames, so past a bound the outcome is read first.
  if (owedBusyOutcomes_ > 0 && ++framesDuringBusy_ > kFramesDuringBusy) {
    holdOwedBusyOutcome();
  }
  sendFrame(kWriteInstruction, instruction);
}

uint8_t KorvoLink::queryInstruction(const IspInstruction& instruction) {
  settleUnreadBusyReplies();
  sendFrame(kQueryFourth, instruction);
  return programmerReadByte();
}

void KorvoLink::queryInstructions(const IspInstruction* instructions, size_t count,
                                  uint8_t* results) {
  holdOwedBusyOutcome();
  settleUnreadBusyReplies();
  if (count == 0) return;
  // Nothing is owed here, so a byte already waiting can only be one that an
  // earlier exchange did not expect: the replies are out of step, and the
  // answers taken before it cannot be trusted either.
  uint8_t stray = 0;
  if (receiveWithin(stray, 0)) throw LinkLostError(kRepliesOutOfStep);
  if (queryWindowed(instructions, count, results)) return;
  // Once is a fault on the line; the same stretch out of step again is a
  // link that cannot be trusted with the data.
  resynchronise();
  if (queryWindowed(instructions, count, results)) return;
  throw LinkLostError(kRepliesOutOfStep);
}

bool KorvoLink::queryWindowed(const IspInstruction* instructions, size_t count, uint8_t* results) {
  // The run as slots: groups of kCheckInterval data queries each followed by
  // a check, and a last, shorter group closed by one too.
  constexpr size_t kGroup = kCheckInterval + 1;
  const size_t slots = count + (count + kCheckInterval - 1) / kCheckInterval;
  auto isCheck = [&](size_t slot) { return slot % kGroup == kCheckInterval || slot == slots - 1; };
  auto dataIndex = [&](size_t slot) { return slot / kGroup * kCheckInterval + slot % kGroup; };
  // Takes one answer; false when it is a check that came back wrong.
  auto take = [&](size_t slot, uint8_t answer) {
    if (isCheck(slot)) return answer == kKnownAnswer;
    results[dataIndex(slot)] = answer;
    return true;
  };

  // A sliding window: the first frames go out together, and each answer that
  // comes back lets one more frame go, so the line carries frames for the whole
  // round trip instead of idling while the last answers of a window travel.
  size_t sent = 0;
  size_t answered = 0;
  uint8_t frames[kQueryWindowFrames * 5];
  while (answered < slots) {
    const size_t room = kQueryWindowFrames - (sent - answered);
    const size_t batch = std::min(room, slots - sent);
    if (batch > 0) {
      for (size_t k = 0; k < batch; ++k) {
        const size_t slot = sent + k;
        const IspInstruction& frame =
            isCheck(slot) ? kKnownAnswerQuery : instructions[dataIndex(slot)];
        frames[k * 5] = kQueryFourth;
        std::memcpy(&frames[k * 5 + 1], frame.bytes, 4);
      }
      sendBytes(frames, batch * 5);
      sent += batch;
    }
    if (!take(answered, programmerReadByte())) return false;
    ++answered;
    // Answers that have already arrived are taken together, so their frames
    // leave in one write rather than one write each.
    uint8_t answer = 0;
    while (answered < sent && receiveWithin(answer, 0)) {
      if (!take(answered, answer)) return false;
      ++answered;
    }
  }
  // A byte beyond the last answer means one came twice, or a stray one.
  uint8_t extra = 0;
  return !receiveWithin(extra, 0);
}

void KorvoLink::resynchronise() {
  // The answers to the frames still in flight, and whatever else the line
  // holds, until it has been quiet for a while; within one reply time.
  const Clock::time_point deadline = deadlineAfter(timings_.replyTimeoutMs);
  uint8_t byte = 0;
  while (receiveWithin(byte, timings_.resyncQuietMs)) {
    if (Clock::now() > deadline) throw LinkLostError(kNoValidReply);
  }
  // One check alone: its answer, and nothing after it, shows the Korvo and
  // the host are in step again.
  sendFrame(kQueryFourth, kKnownAnswerQuery);
  if (programmerReadByte() != kKnownAnswer || receiveWithin(byte, 0)) {
    throw LinkLostError(kRepliesOutOfStep);
  }
}

uint8_t KorvoLink::enableProgramming() {
  settleUnreadBusyReplies();
  sendFrame(kQueryThird, IspInstruction{{0xAC, 0x53, 0x00, 0x00}});
  return programmerReadByte();
}

int KorvoLink::waitReady() {
  if (session_.settings.noBusyWait) {
    programmerSendByte(kBusyCommand);
    ++unreadBusyReplies_;
    return 0;
  }
  settleUnreadBusyReplies();
  programmerSendByte(kBusyCommand);
  return readBusyOutcome();
}

bool KorvoLink::sendWaitReady() {
  // The fast download reads no busy replies at all; its waits stay as they are.
  if (session_.settings.noBusyWait) return false;
  settleUnreadBusyReplies();
  // The Korvo keeps what arrives during the wait and acts on it afterwards, so
  // the next page's loads can follow the busy command at once.
  // Several may be owed at once; the Korvo answers them in the order sent.
  programmerSendByte(kBusyCommand);
  if (owedBusyOutcomes_++ == 0) framesDuringBusy_ = 0;
  return true;
}

void KorvoLink::holdOwedBusyOutcome() {
  for (; owedBusyOutcomes_ > 0; --owedBusyOutcomes_) {
    heldBusyOutcomes_.push_back(readBusyOutcome());
  }
}

int KorvoLink::collectWaitReady() {
  // The oldest outcome only, so the later ones go on arriving meanwhile.
  if (heldBusyOutcomes_.empty()) {
    if (owedBusyOutcomes_ == 0) return 0;
    --owedBusyOutcomes_;
    framesDuringBusy_ = 0;
    return readBusyOutcome();
  }
  const int outcome = heldBusyOutcomes_.front();
  heldBusyOutcomes_.pop_front();
  return outcome;
}

int KorvoLink::readBusyOutcome() {
  int replies = 0;
  for (;;) {
    uint8_t reply = programmerReadByte();
    if (reply == kReady) return 0;
    delayUnits(kBusyPollUnits);
    if (replies > kBusyReplyLimit) return -1;
    ++replies;
    if (reply == kFailed) return -1;
  }
}

void closeProgrammerPort(Session& session) {
  if (auto* korvo = dynamic_cast<KorvoLink*>(session.link)) korvo->closePort();
}
