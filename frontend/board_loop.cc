#include "frontend/board_loop.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/isp_instructions.h"
#include "engine/isp_link.h"
#include "engine/programming_mode.h"
#include "engine/serial_write.h"
#include "engine/target_flows.h"
#include "frontend/board_record.h"
#include "frontend/command_interpreter.h"
#include "frontend/command_steps.h"
#include "frontend/command_table.h"
#include "frontend/logged_console.h"
#include "run/session.h"
#include "run/sha256.h"

namespace {

// How often a waiting loop asks whether a target answers. Each ask is a
// Programming Enable: cheap, and harmless to a board that runs its program
// since RESET is let go again at once.
constexpr auto kPollPeriod = std::chrono::milliseconds(20);
// A board being plugged in makes contact in stages; it must answer this many
// asks in a row before it counts as there.
constexpr int kPresentAsksInARow = 2;

volatile sig_atomic_t stopRequested = 0;
struct sigaction previousInterrupt;

// The first Ctrl-C lets the board at hand finish and ends the loop; a second
// one takes the course Ctrl-C had before.
void requestStop(int) {
  if (stopRequested) {
    ::sigaction(SIGINT, &previousInterrupt, nullptr);
    ::raise(SIGINT);
    return;
  }
  stopRequested = 1;
}

class InterruptStops {
 public:
  InterruptStops() {
    stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    installed_ = ::sigaction(SIGINT, &action, &previousInterrupt) == 0;
  }
  ~InterruptStops() {
    if (installed_) ::sigaction(SIGINT, &previousInterrupt, nullptr);
  }

 private:
  bool installed_ = false;
};

std::string portName(const Session& session) {
  const RunSettings& settings = session.settings;
  if (session.profile.link == LinkKind::kMarlow) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", settings.lptDataPort);
    return text;
  }
  if (!settings.comDevicePath.empty()) return settings.comDevicePath;
  return "COM" + std::to_string(settings.comChannel + 1);
}

std::string signatureText(const uint8_t signature[3]) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X", signature[0], signature[1], signature[2]);
  return text;
}

// Whether the console's input has ended (or 'e' was typed): the operator's
// way, besides Ctrl-C, of saying there are no more boards.
bool inputEnded(Console& console) {
  while (console.keyWaiting()) {
    const int key = console.readKey();
    if (key < 0 || key == 'e' || key == 'E') return true;
  }
  return false;
}

bool targetAnswers(Session& session) {
  const bool answers = identifyTarget(session) == kProgrammingEnableEcho;
  leaveProgrammingMode(session);
  return answers;
}

// Waits until the target is gone (wantPresent false) or until one answers
// (true); false when the loop is to end instead.
bool waitForTarget(Session& session, bool wantPresent) {
  int inARow = 0;
  for (;;) {
    if (stopRequested || inputEnded(session.console)) return false;
    if (targetAnswers(session) == wantPresent) {
      if (!wantPresent || ++inARow >= kPresentAsksInARow) return true;
    } else {
      inARow = 0;
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
}

void readBack(Session& session, BoardOutcome& board) {
  if (!reidentifyWhenReleased(session) || !session.target.responding) return;
  board.signature = signatureText(session.target.signature);
  const PartRecord* part = session.currentPart();
  if (part != nullptr) {
    readFuses(session);
    board.fuseCount = partFuseCount(*part);
    // fuseBytes are kept extended, high, low; the record says low first.
    board.fuses[0] = session.target.fuseBytes[2];
    board.fuses[1] = session.target.fuseBytes[1];
    board.fuses[2] = session.target.fuseBytes[0];
  }
  board.lock = ispReadLockBits(*session.link);
  board.lockRead = true;
}

bool writeSerial(Session& session, const SerialPlan& plan, uint64_t number, std::string& reason) {
  if (!reidentifyWhenReleased(session)) {
    reason = "Target not responding - serial number not written";
    return false;
  }
  const std::vector<uint8_t> bytes = encodeSerial(plan, number);
  return plan.memory == SerialMemory::kEeprom
             ? writeEepromBytes(session, plan.address, bytes, reason)
             : writeFlashBytes(session, plan.address, bytes, reason);
}

bool heldByLastCommand(const Session& session) {
  return session.fuseHold.pending && session.fuseHold.heldAtCommand == session.commandsRun;
}

bool writesConfiguration(const Session& session, const char* argument) {
  if (argument == nullptr || argument[0] != '-') return false;
  const CommandRow* row = findCommand(session.profile, argument + 1);
  if (row == nullptr) return false;
  const std::string word = row->word;
  return word == "a" || word.compare(0, 2, "pf") == 0 || word == "pl";
}

void writeSerialStep(Session& session, const SerialPlan& plan, BoardOutcome& board) {
  board.serialWritten = writeSerial(session, plan, board.serial, board.failure);
  if (board.serialWritten) {
    session.console.print("\nSerial number %llu written\n",
                          static_cast<unsigned long long>(board.serial));
  } else {
    session.console.print("\n%s\n", board.failure.c_str());
    session.commandFailed = true;
  }
  if (!session.target.targetReleased) leaveProgrammingMode(session);
}

std::string firstLine(const std::string& text) {
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return text;
  return text.substr(start, text.find_first_of("\r\n", start) - start);
}

// The command line on one board. Stops at its first failed command: what
// comes after it was meant for a board that took what came before.
int programBoard(Session& session, LoggedConsole& lines, const BoardRun& run, int argc,
                 char** argv, BoardOutcome& board) {
  board.time = isoTimeNow();
  board.port = portName(session);
  board.signature = signatureText(session.target.signature);
  if (const PartRecord* part = session.currentPart()) board.part = part->name;
  // Each board starts afresh: no failure, and no held write that its first
  // command could confirm.
  session.commandFailed = false;
  session.fuseHold = FuseWriteHold{};
  session.downloadsNamed.clear();
  int status = kExitOk;
  if (run.serialGiven) {
    board.hasSerial = takeSerialNumber(run.serial, board.serial, board.failure);
    if (!board.hasSerial) {
      session.console.print("%s\n", board.failure.c_str());
      session.commandFailed = true;
    }
  }
  bool serialPending = board.hasSerial;
  for (int i = 1; i <= argc && status != kExitCommand; ++i) {
    // A fuse write the guard has just held back waits for its confirmation,
    // the next command; any other failure ends the board.
    if (session.commandFailed && !heldByLastCommand(session)) break;
    // The number goes on with the firmware, before a fuse or lock write: a
    // lock would keep it out.
    if (serialPending && !session.commandFailed &&
        (i == argc || writesConfiguration(session, argv[i]))) {
      serialPending = false;
      writeSerialStep(session, run.serial, board);
    }
    if (i == argc || (session.commandFailed && !heldByLastCommand(session))) break;
    lines.forgetLines();
    char* one[] = {argv[0], argv[i], nullptr};
    status = runCommandLine(session, 2, one);
    if (session.commandFailed) board.failure = lines.lastLine();
  }
  readBack(session, board);
  if (session.target.targetReleased == false) leaveProgrammingMode(session);
  if (const PartRecord* part = session.currentPart()) board.part = part->name;
  board.ok = !session.commandFailed;
  if (!board.ok && board.failure.empty()) board.failure = "a command failed";
  return status;
}

}  // namespace

int runBoards(Session& session, LoggedConsole& lines, const BoardRun& run, int argc,
              char** argv) {
  InterruptStops interrupts;
  uint64_t boards = 0, ok = 0, failed = 0;
  bool recordFailed = false;
  int status = kExitOk;
  bool linkLost = false;
  std::string lostMessage;
  for (;;) {
    BoardOutcome board;
    const auto started = std::chrono::steady_clock::now();
    try {
      status = programBoard(session, lines, run, argc, argv, board);
    } catch (const LinkLostError& lost) {
      // The board's record comes first; whether the programmer is still
      // there shows when the loop next asks for a target.
      board.failure = firstLine(lost.what());
      board.ok = false;
      session.console.write(lost.what());
    }
    for (const std::string& file : session.downloadsNamed) {
      std::string digest;
      std::string reason;
      board.files.push_back(file + ":" +
                            (sha256OfFile(file, digest, reason) ? digest : "unreadable"));
    }
    board.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ++boards;
    (board.ok ? ok : failed) += 1;
    std::string reason;
    if (!run.recordFile.empty() && !appendBoardRecord(run.recordFile, board, reason)) {
      session.console.print("\nCan't add to the record %s: %s\n", run.recordFile.c_str(),
                            reason.c_str());
      recordFailed = true;
    }
    std::string serial = board.hasSerial ? std::to_string(board.serial) : "-";
    session.console.print("\nBoard %llu: serial %s, %s, %.2f s\n",
                          static_cast<unsigned long long>(boards), serial.c_str(),
                          board.ok ? "ok" : "failed", board.seconds);
    session.console.flush();
    // A counter that cannot hand out a number stops every board after it too,
    // and a record that cannot be written would leave boards unaccounted for.
    const bool cannotGoOn = (run.serialGiven && !board.hasSerial) || recordFailed;
    if (!run.loop || status == kExitCommand || cannotGoOn) break;
    if (run.boardLimit != 0 && boards >= run.boardLimit) break;
    session.console.print("Unplug the board and plug in the next (Ctrl-C or end of input ends)\n");
    session.console.flush();
    try {
      // A board found gone at its read-back (pulled part way) has already
      // been seen unplugged.
      const bool gone = !session.target.responding;
      if ((!gone && !waitForTarget(session, false)) || !waitForTarget(session, true)) break;
    } catch (const LinkLostError& lost) {
      lostMessage = lost.what();
      linkLost = true;
      break;
    }
  }
  if (run.loop) {
    session.console.print("\nBoards: %llu ok, %llu failed\n", static_cast<unsigned long long>(ok),
                          static_cast<unsigned long long>(failed));
  }
  if (linkLost) throw LinkLostError(lostMessage);
  if (status == kExitCommand) return kExitCommand;
  return failed == 0 && !recordFailed ? kExitOk : kExitCommandFailed;
}
