#include "sim/korvo_device.h"

#include <utility>

namespace {

constexpr uint8_t kCarriageReturn = 0x0D;
// Read ready/busy: bit 0 of the fourth byte's answer is 1 while a self-timed
// write runs. The only instruction an AVR accepts while busy.
constexpr uint8_t kPollReady[4] = {0xF0, 0x00, 0x00, 0x00};

void append(KorvoBytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

KorvoDevice::KorvoDevice(KorvoTarget& target, KorvoSettings settings)
    : target_(target), settings_(settings) {}

std::string KorvoDevice::signOnText() {
  return "\r\nKorvo USB ISP V2.3\r\n>";
}

void KorvoDevice::hostOpened(KorvoBytes& out) {
  if (hungUp_ || silent_) return;
  if (!command_.empty() && trace_) trace_(command_);
  command_.clear();
  state_ = Parse::kIdle;
  inSequence_ = false;
  busyWait_ = false;
  held_.clear();
  // Opening the port restarts the programmer, which lets go of the ISP lines;
  // the target's pull-up then takes RESET high.
  target_.setResetLow(false);
  if (settings_.signOn) append(out, signOnText());
}

void KorvoDevice::receive(uint8_t byte, int64_t nowMicros, KorvoBytes& out) {
  // The cable is pulled when the host next sends something, so the replies to
  // the counted frames have reached it and the hang-up lands at a known point.
  if (hangupArmed_) hungUp_ = true;
  if (hungUp_ || silent_) return;
  if (busyWait_ && !settings_.actsDuringBusy) {
    // The programmer is inside its busy loop; the USB side buffers what the
    // host sends on (as a host that does not read the "b" reply does).
    held_.push_back(byte);
    return;
  }
  parse(byte, nowMicros, out);
}

void KorvoDevice::parse(uint8_t byte, int64_t nowMicros, KorvoBytes& out) {
  switch (state_) {
    case Parse::kIdle:
      startCommand(byte, nowMicros, out);
      return;
    case Parse::kP:
      if (byte == '1' || byte == '2') {
        command_.push_back(byte);
        state_ = Parse::kPDigit;
        return;
      }
      break;
    case Parse::kPDigit:
      if (byte == kCarriageReturn) {
        command_.push_back(byte);
        const uint8_t mode = command_[1];
        endCommand();
        inSequence_ = true;
        append(out, std::string("\r\nSPI mode ") + static_cast<char>(mode) + "\r\n");
        out.push_back('a');
        return;
      }
      break;
    case Parse::kR:
      if (byte == 'l' || byte == 'h') {
        command_.push_back(byte);
        endCommand();
        target_.setResetLow(byte == 'l');
        return;
      }
      break;
    case Parse::kFrame:
      command_.push_back(byte);
      if (command_.size() == 5) finishFrame(out);
      return;
  }
  // An incomplete command followed by something else: what was typed so far
  // goes back as it came, and the new byte starts afresh.
  KorvoBytes partial;
  partial.swap(command_);
  state_ = Parse::kIdle;
  for (uint8_t typed : partial) stray(typed, out);
  startCommand(byte, nowMicros, out);
}

void KorvoDevice::startCommand(uint8_t byte, int64_t nowMicros, KorvoBytes& out) {
  if (byte == 'p') {
    command_.assign(1, byte);
    state_ = Parse::kP;
    return;
  }
  // Outside a p1/p2 ... e sequence the programmer is a plain terminal.
  if (!inSequence_) {
    stray(byte, out);
    return;
  }
  switch (byte) {
    case 'r':
      command_.assign(1, byte);
      state_ = Parse::kR;
      return;
    case 'w':
    case '4':
    case '3':
      command_.assign(1, byte);
      state_ = Parse::kFrame;
      return;
    case 'e':
      command_.assign(1, byte);
      endCommand();
      inSequence_ = false;
      target_.setResetLow(false);
      return;
    case 'b':
      command_.assign(1, byte);
      endCommand();
      startBusyWait(nowMicros, out);
      return;
    default:
      stray(byte, out);
  }
}

void KorvoDevice::finishFrame(KorvoBytes& out) {
  const uint8_t kind = command_[0];
  uint8_t shiftedOut[4];
  for (int i = 0; i < 4; ++i) shiftedOut[i] = target_.exchange(command_[1 + i]);
  endCommand();
  if (kind == '4') out.push_back(shiftedOut[3]);
  if (kind == '3') out.push_back(shiftedOut[2]);
  ++frames_;
  if (settings_.hangupAfterFrames != 0 && frames_ >= settings_.hangupAfterFrames) {
    hangupArmed_ = true;
  }
  if (settings_.silentAfterFrames != 0 && frames_ >= settings_.silentAfterFrames) silent_ = true;
}

bool KorvoDevice::targetBusy() {
  const int timed = target_.timedBusy();
  if (timed >= 0) return timed != 0;
  uint8_t answer = 0;
  for (uint8_t byte : kPollReady) answer = target_.exchange(byte);
  return (answer & 0x01) != 0;
}

void KorvoDevice::startBusyWait(int64_t nowMicros, KorvoBytes& out) {
  busyWait_ = true;
  busyStart_ = nowMicros;
  nextBusyPoll_ = nowMicros;
  pollTarget(nowMicros, out);
}

void KorvoDevice::pollTarget(int64_t nowMicros, KorvoBytes& out) {
  if (!targetBusy()) {
    out.push_back(kReady);
  } else if (nowMicros - busyStart_ >= settings_.busyLimitMicros) {
    out.push_back(kGaveUp);
  } else {
    out.push_back(kBusyProgress);
    nextBusyPoll_ = nowMicros + settings_.busyPollMicros;
    return;
  }
  busyWait_ = false;
}

void KorvoDevice::advance(int64_t nowMicros, KorvoBytes& out) {
  if (!busyWait_ || hungUp_ || silent_ || nowMicros < nextBusyPoll_) return;
  pollTarget(nowMicros, out);
  // Whatever the host sent during the wait is acted on now, in order, until
  // it holds another "b" that has to wait in turn.
  while (!held_.empty() && !busyWait_ && !hungUp_ && !silent_) {
    const uint8_t byte = held_.front();
    held_.pop_front();
    parse(byte, nowMicros, out);
  }
  if (hungUp_ || silent_) held_.clear();
}

int64_t KorvoDevice::nextWakeMicros() const {
  if (!busyWait_ || hungUp_ || silent_) return -1;
  return nextBusyPoll_;
}

void KorvoDevice::endCommand() {
  if (trace_) trace_(command_);
  command_.clear();
  state_ = Parse::kIdle;
}

void KorvoDevice::stray(uint8_t byte, KorvoBytes& out) {
  if (trace_) trace_(KorvoBytes{byte});
  if (echoAllowed_) out.push_back(byte);
}
