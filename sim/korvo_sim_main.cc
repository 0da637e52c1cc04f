// korvo-sim: the Korvo programmer, with an AVR target behind it, at the far
// end of a pseudo-terminal.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sim/avr_target.h"
#include "sim/korvo_device.h"
#include "sim/korvo_link_pacing.h"
#include "sim/korvo_sim_options.h"
#include "sim/korvo_trace.h"
#include "sim/line_settings.h"
#include "sim/pty_port.h"
#include "sim/sim_clock.h"
#include "sim/sim_parts.h"

namespace {

int stopPipe[2] = {-1, -1};

void requestStop(int) {
  const char byte = 1;
  const ssize_t ignored = write(stopPipe[1], &byte, 1);
  (void)ignored;
}

bool installStopHandlers() {
  if (pipe(stopPipe) != 0) return false;
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0) {
    return false;
  }
  signal(SIGPIPE, SIG_IGN);
  return true;
}

constexpr int64_t kInputWatchMicros = 1'000;

class TargetWires : public KorvoTarget {
 public:
  explicit TargetWires(AvrTarget& target) : target_(target) {}
  void setResetLow(bool low) override { target_.setResetLow(low); }
  uint8_t exchange(uint8_t mosi) override { return target_.exchange(mosi); }
  int timedBusy() override {
    if (target_.part().hasPollReady) return -1;
    return target_.busy() ? 1 : 0;
  }

 private:
  AvrTarget& target_;
};

// Keeps the state file in step with the chip without rewriting a large flash
// image after every page: at most every 200 ms while writes go on, and always
// when the host lets go of the port and at the end.
class StateKeeper {
 public:
  StateKeeper(const std::string& path, const AvrTarget& target) : path_(path), target_(target) {
    saved_ = target.writeGeneration();
  }
  bool pending() const { return !path_.empty() && target_.writeGeneration() != saved_; }
  void maybeSave(int64_t nowMicros) {
    if (!pending() || target_.busy() || nowMicros < nextAllowed_) return;
    save();
    nextAllowed_ = nowMicros + 200'000;
  }
  void save() {
    if (!pending()) return;
    std::string error;
    if (!target_.saveState(path_, &error)) {
      std::fprintf(stderr, "korvo-sim: cannot save state to %s: %s\n", path_.c_str(),
                   error.c_str());
    }
    saved_ = target_.writeGeneration();
  }

 private:
  std::string path_;
  const AvrTarget& target_;
  uint64_t saved_ = 0;
  int64_t nextAllowed_ = 0;
};

class Simulator {
 public:
  Simulator(const KorvoSimOptions& options, AvrTarget& target, SimClock& clock, PtyPort& port,
            KorvoTrace& trace)
      : options_(options),
        target_(target),
        clock_(clock),
        port_(port),
        wires_(target),
        device_(wires_, deviceSettings(options, clock)),
        state_(options.stateFile, target),
        boardRow_(target, target.part(), clock, target.faults(), options.boardRow) {
    device_.setTraceSink([&trace](const KorvoBytes& bytes) { trace.write(bytes); });
  }

  void run();

 private:
  static KorvoSettings deviceSettings(const KorvoSimOptions& options, const SimClock& clock);

  void noticeHostOpen(int64_t now);
  void sendSignOnWhenLineIsSet(int64_t now);
  void readHost(int64_t now);
  void checkLine();
  void serveInput(int64_t now);
  void writeDueOutput(int64_t now);
  void serveRemainingInput(int64_t now);
  void deliver(uint8_t byte, int64_t earliest, int64_t now, KorvoBytes& reply);
  void hostWentAway();
  int64_t nextWake(int64_t now) const;

  const KorvoSimOptions& options_;
  AvrTarget& target_;
  SimClock& clock_;
  PtyPort& port_;
  TargetWires wires_;
  KorvoDevice device_;
  StateKeeper state_;
  KorvoLinkPacing pacing_;
  BoardRow boardRow_;

  bool portGone_ = false;
  bool hostOpen_ = false;
  bool signOnPending_ = false;
  int64_t openedAt_ = 0;
  bool outputBlocked_ = false;
  // When a read last found nothing waiting; -1 before the first since the open.
  int64_t lastDrainedAt_ = -1;
  std::string reportedProblems_;
};

KorvoSettings Simulator::deviceSettings(const KorvoSimOptions& options, const SimClock& clock) {
  KorvoSettings settings;
  settings.signOn = options.signOn;
  // The Korvo's own give-up time for "b": 2 s of target time, far beyond any
  // datasheet erase or write.
  settings.busyLimitMicros = clock.scaled(2'000'000);
  // One ready poll (and one progress byte) per millisecond of target time, but
  // never more often than every 100 us of real time, so that a scaled-down
  // clock does not flood the host with progress bytes.
  settings.busyPollMicros = std::max<int64_t>(clock.scaled(1'000), 100);
  settings.hangupAfterFrames = options.hangupAfterFrames;
  settings.silentAfterFrames = options.silentAfterFrames;
  settings.actsDuringBusy = options.actsDuringBusy;
  return settings;
}

void Simulator::noticeHostOpen(int64_t now) {
  if (!port_.hostOpenedSinceLastCheck()) return;
  hostOpen_ = true;
  signOnPending_ = true;
  openedAt_ = now;
  lastDrainedAt_ = -1;
  pacing_.clear();
  outputBlocked_ = false;
  reportedProblems_.clear();  // each open is judged afresh
}

// A host sets its line up right after opening it. Sending before that would
// have the sign-on turned round by the terminal's default echo, so wait a
// little for raw mode.
void Simulator::sendSignOnWhenLineIsSet(int64_t now) {
  if (!signOnPending_) return;
  termios settings{};
  const bool known = port_.lineSettings(&settings);
  const bool raw = known && !judgeLineSettings(settings).echoes;
  constexpr int64_t kLineSetupMicros = 100'000;
  if (!raw && now - openedAt_ < kLineSetupMicros) return;
  signOnPending_ = false;
  checkLine();
  KorvoBytes signOn;
  device_.hostOpened(signOn);
  if (signOn.empty()) return;
  const uint8_t prompt = signOn.back();
  signOn.pop_back();
  pacing_.queueOutput(signOn, now, 0);
  pacing_.queueOutput(KorvoBytes{prompt}, now + options_.signOnGapMillis * 1000, 0);
}

void Simulator::checkLine() {
  termios settings{};
  if (!port_.lineSettings(&settings)) return;
  const LineSettings judged = judgeLineSettings(settings);
  device_.setEchoAllowed(!judged.echoes);
  pacing_.setBaud(options_.baudPacing ? judged.baud : 0);
  if (judged.problems != reportedProblems_) {
    reportedProblems_ = judged.problems;
    if (!judged.problems.empty()) {
      std::fprintf(stderr, "korvo-sim: wrong line settings on %s: %s\n", options_.link.c_str(),
                   judged.problems.c_str());
    }
  }
}

void Simulator::readHost(int64_t now) {
  if (!hostOpen_ || portGone_) return;
  uint8_t buffer[512];
  for (;;) {
    const ssize_t got = port_.read(buffer, sizeof buffer);
    if (got > 0) {
      checkLine();
      const int64_t uncertainty = lastDrainedAt_ >= 0 ? now - lastDrainedAt_ : 0;
      pacing_.queueInput(KorvoBytes(buffer, buffer + got), now, uncertainty);
      continue;
    }
    // EIO: the host closed the device; EAGAIN: nothing more for now.
    if (got < 0 && errno == EAGAIN && !port_.hostClosed()) {
      lastDrainedAt_ = now;
      return;
    }
    if (got < 0 && errno == EINTR) continue;
    serveRemainingInput(now);
    hostWentAway();
    return;
  }
}

// What the host sent before it closed the port or before we were told to stop
// still reaches the Korvo, as it would on the wire; nobody reads the replies.
void Simulator::serveRemainingInput(int64_t now) {
  if (signOnPending_) return;
  KorvoBytes unread;
  uint8_t byte = 0;
  int64_t earliest = 0;
  while (pacing_.takeDueInput(std::numeric_limits<int64_t>::max(), &byte, &earliest)) {
    deliver(byte, earliest, now, unread);
  }
}

// We may have been slow to read the byte; the chip is told how slow, so that
// our lateness is not charged to the host's waits.
void Simulator::deliver(uint8_t byte, int64_t earliest, int64_t now, KorvoBytes& reply) {
  target_.setArrivalSlackMicros(now - earliest);
  device_.receive(byte, now, reply);
  target_.setArrivalSlackMicros(0);
}

void Simulator::hostWentAway() {
  // The line keeps the last host's settings; without this the next host's
  // open would look set up at once, and the sign-on could reach it before it
  // drops what was waiting from before its open.
  port_.resetLineSettings();
  hostOpen_ = false;
  signOnPending_ = false;
  lastDrainedAt_ = -1;
  pacing_.clear();
  state_.save();
}

void Simulator::serveInput(int64_t now) {
  if (signOnPending_ || portGone_) return;
  KorvoBytes replies;
  uint8_t byte = 0;
  int64_t earliest = 0;
  while (pacing_.takeDueInput(now, &byte, &earliest)) {
    KorvoBytes reply;
    deliver(byte, earliest, now, reply);
    replies.insert(replies.end(), reply.begin(), reply.end());
  }
  device_.advance(now, replies);
  pacing_.queueOutput(replies, now, options_.latencyMicros);
}

void Simulator::writeDueOutput(int64_t now) {
  outputBlocked_ = false;
  if (!hostOpen_ || portGone_) return;
  KorvoBytes due = pacing_.peekDueOutput(now);
  if (due.empty()) return;
  const ssize_t written = port_.write(due.data(), due.size());
  if (written > 0) pacing_.dropOutput(static_cast<size_t>(written));
  if (written < static_cast<ssize_t>(due.size())) outputBlocked_ = true;
}

int64_t Simulator::nextWake(int64_t now) const {
  int64_t wake = -1;
  auto consider = [&wake](int64_t at) {
    if (at >= 0 && (wake < 0 || at < wake)) wake = at;
  };
  if (!portGone_) {
    if (signOnPending_) consider(now + 2'000);
    if (hostOpen_ && !signOnPending_) {
      consider(pacing_.nextInputDue());
      consider(device_.nextWakeMicros());
      // Looking at the port every millisecond even when nothing is due bounds
      // how long a byte can have waited unseen; a longer gap means we were not
      // scheduled, and the chip then gives the host the benefit of the doubt.
      consider(now + kInputWatchMicros);
    }
    if (hostOpen_ && !outputBlocked_) consider(pacing_.nextOutputDue());
    // Without a watch on the device node, a host open shows only as the
    // master's hang-up clearing, which poll cannot wait for.
    if (!hostOpen_ && port_.watchFd() < 0) consider(now + 10'000);
  }
  consider(boardRow_.nextWake(now));
  // A target that never finishes keeps the save waiting; look less often then.
  if (state_.pending()) consider(now + (target_.busy() ? 100'000 : 5'000));
  return wake;
}

void Simulator::run() {
  for (;;) {
    int64_t now = clock_.nowMicros();
    if (!portGone_) {
      noticeHostOpen(now);
      sendSignOnWhenLineIsSet(now);
      readHost(now);
      serveInput(now);
      writeDueOutput(now);
      if (device_.hungUp() && !pacing_.outputPending()) {
        port_.hangUp();
        portGone_ = true;
        hostOpen_ = false;
      }
    }
    boardRow_.advance(now);
    state_.maybeSave(now);

    pollfd fds[3];
    nfds_t count = 0;
    fds[count++] = {stopPipe[0], POLLIN, 0};
    if (!portGone_ && port_.watchFd() >= 0) fds[count++] = {port_.watchFd(), POLLIN, 0};
    if (!portGone_ && hostOpen_) {
      fds[count++] = {port_.masterFd(), static_cast<short>(POLLIN | (outputBlocked_ ? POLLOUT : 0)),
                      0};
    }
    const int64_t wake = nextWake(now);
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (wake >= 0) {
      const int64_t wait = std::max<int64_t>(wake - clock_.nowMicros(), 0);
      timeout.tv_sec = static_cast<time_t>(wait / 1'000'000);
      timeout.tv_nsec = static_cast<long>((wait % 1'000'000) * 1000);
      timeoutPointer = &timeout;
    }
    if (ppoll(fds, count, timeoutPointer, nullptr) < 0 && errno != EINTR) {
      std::fprintf(stderr, "korvo-sim: poll failed: %s\n", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) {
      if (!portGone_) {
        readHost(clock_.nowMicros());
        serveRemainingInput(clock_.nowMicros());
      }
      break;
    }
  }
  state_.save();
  boardRow_.finish();
}

int runSimulator(const KorvoSimOptions& options) {
  const SimPart* part = findSimPart(options.part);
  if (part == nullptr) {
    std::fprintf(stderr, "korvo-sim: unknown part '%s'\n", options.part.c_str());
    return 2;
  }
  SimClock clock(options.timeScale);
  TargetFaults faults;
  if (options.targetAbsent) faults.miso = TargetFaults::Miso::kStuckHigh;
  faults.neverReady = options.busyForever;
  AvrTarget target(*part, clock, faults);
  if (!options.stateFile.empty() && access(options.stateFile.c_str(), F_OK) == 0) {
    std::string error;
    if (!target.loadState(options.stateFile, &error)) {
      std::fprintf(stderr, "korvo-sim: cannot load state from %s: %s\n", options.stateFile.c_str(),
                   error.c_str());
      return 1;
    }
  }
  KorvoTrace trace;
  std::string error;
  if (!options.traceFile.empty() && !trace.open(options.traceFile, &error)) {
    std::fprintf(stderr, "korvo-sim: %s\n", error.c_str());
    return 1;
  }
  if (!installStopHandlers()) {
    std::fprintf(stderr, "korvo-sim: cannot install signal handlers: %s\n", std::strerror(errno));
    return 1;
  }
  PtyPort port;
  if (!port.open(options.link, &error)) {
    std::fprintf(stderr, "korvo-sim: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "korvo-sim: ready on %s (part %s)\n", options.link.c_str(), part->name);
  std::fflush(stderr);
  Simulator simulator(options, target, clock, port, trace);
  simulator.run();
  // Tests read this line to prove the host's waits were long enough.
  const TargetStats& stats = target.stats();
  std::fprintf(stderr,
               "korvo-sim: stopped: %llu instructions, %llu pages written, %llu violations\n",
               static_cast<unsigned long long>(stats.instructions),
               static_cast<unsigned long long>(stats.pagesWritten),
               static_cast<unsigned long long>(stats.violations()));
  if (!stats.firstViolation.empty()) {
    std::fprintf(stderr, "korvo-sim: first violation: %s\n", stats.firstViolation.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  KorvoSimOptions options;
  std::string error;
  if (!parseKorvoSimOptions(args, &options, &error)) {
    std::fprintf(stderr, "korvo-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(korvoSimHelpText(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("korvo-sim %s\n", AVRISP_VERSION);
    return 0;
  }
  if (options.listParts) {
    printSimPartList(stdout);
    return 0;
  }
  return runSimulator(options);
}
