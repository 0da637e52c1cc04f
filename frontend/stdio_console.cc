#include "frontend/stdio_console.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/command_interpreter.h"

namespace {

struct termios savedTerminal;
volatile sig_atomic_t terminalSaved = 0;

constexpr int kConsoleSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[4];

// The signal then goes on to what was there before (the port lock's removal),
// and from there to the default that ends the process.
void restoreOnSignal(int signal) {
  restoreConsoleTerminal();
  for (size_t i = 0; i < 4; ++i) {
    if (kConsoleSignals[i] != signal) continue;
    if (previousActions[i].sa_handler == SIG_IGN) previousActions[i].sa_handler = SIG_DFL;
    sigaction(signal, &previousActions[i], nullptr);
  }
  std::raise(signal);
}

}  // namespace

void restoreConsoleTerminal() {
  if (terminalSaved) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    terminalSaved = 0;
  }
}

StdioConsole::StdioConsole() {
  inputIsTerminal_ = isatty(STDIN_FILENO) == 1;
  outputIsTerminal_ = isatty(STDOUT_FILENO) == 1;
}

StdioConsole::~StdioConsole() {
  endKeyMode();
  flush();
}

void StdioConsole::write(std::string_view text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), text_);
  endsLine_ = text.back() == '\n';
  if (outputIsTerminal_) std::fflush(text_);
}

void StdioConsole::flush() {
  std::fflush(text_);
}

void StdioConsole::sendTextToStandardError() {
  std::fflush(stdout);
  text_ = stderr;
  outputIsTerminal_ = isatty(STDERR_FILENO) == 1;
}

bool StdioConsole::fill() {
  if (atEnd_) return false;
  flush();
  if (pos_ >= buffer_.size()) {
    buffer_.clear();
    pos_ = 0;
  }
  char chunk[4096];
  for (;;) {
    ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    atEnd_ = true;
    return false;
  }
}

bool StdioConsole::skipSpace() {
  for (;;) {
    while (pos_ < buffer_.size() && std::isspace(static_cast<unsigned char>(buffer_[pos_]))) ++pos_;
    if (pos_ < buffer_.size()) return true;
    if (!fill()) return false;
  }
}

bool StdioConsole::readToken(std::string& token) {
  if (!skipSpace()) return false;
  token.clear();
  for (;;) {
    while (pos_ < buffer_.size() && !std::isspace(static_cast<unsigned char>(buffer_[pos_]))) {
      // As in a script: a token longer than any command is kept one character
      // too long, so it is refused whole, and endless input (/dev/zero) runs
      // through without being held.
      if (token.size() <= kCommandTokenRoom) token.push_back(buffer_[pos_]);
      ++pos_;
    }
    if (pos_ < buffer_.size() || !fill()) return true;
  }
}

void StdioConsole::skipRestOfLine() {
  for (;;) {
    while (pos_ < buffer_.size()) {
      if (buffer_[pos_++] == '\n') return;
    }
    if (!fill()) return;
  }
}

int StdioConsole::readAnswer() {
  if (!skipSpace()) return -1;
  return static_cast<unsigned char>(buffer_[pos_++]);
}

bool StdioConsole::keyWaiting() {
  if (pos_ < buffer_.size()) return true;
  if (atEnd_) return true;  // the end itself is news the reader must see
  struct pollfd fd = {STDIN_FILENO, POLLIN, 0};
  return ::poll(&fd, 1, 0) > 0;
}

int StdioConsole::readKey() {
  if (pos_ >= buffer_.size() && !fill()) return -1;
  return static_cast<unsigned char>(buffer_[pos_++]);
}

void StdioConsole::beginKeyMode() {
  flush();
  if (!inputIsTerminal_ || terminalSaved) return;
  if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
  struct termios raw = savedTerminal;
  // ISIG off as well: in terminal mode Ctrl-C and Ctrl-\ are keys for the
  // Korvo, not signals that would end the program.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ISIG));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminalSaved = 1;
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    handlersInstalled = true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = restoreOnSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < 4; ++i) sigaction(kConsoleSignals[i], &action, &previousActions[i]);
    std::atexit(restoreConsoleTerminal);
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void StdioConsole::endKeyMode() {
  restoreConsoleTerminal();
}
