#include "tests/support/terminal_session.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/run_process.h"

TerminalSession::~TerminalSession() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

bool TerminalSession::start(const std::string& program, const std::string& workingDirectory,
                            const std::map<std::string, std::string>& environment,
                            const std::vector<std::string>& arguments) {
  // Built before the fork: the child only execs.
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  child_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (child_ == 0) {
    if (chdir(workingDirectory.c_str()) != 0) _exit(126);
    keepUserFoldersHere();
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return child_ > 0;
}

void TerminalSession::type(const std::string& keys) {
  size_t done = 0;
  while (done < keys.size()) {
    ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

bool TerminalSession::readSome(int timeoutMs) {
  struct pollfd fd = {master_, POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) <= 0) return true;
  char buffer[4096];
  ssize_t got = read(master_, buffer, sizeof buffer);
  if (got <= 0) return false;  // EIO once the program has gone
  shown_.append(buffer, static_cast<size_t>(got));
  return true;
}

bool TerminalSession::waitFor(const std::string& text, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    size_t at = shown_.find(text, searchFrom_);
    if (at != std::string::npos) {
      searchFrom_ = at + text.size();
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline || !readSome(100)) return false;
  }
}

int TerminalSession::finish(int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(child_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child_, SIGKILL);
      waitpid(child_, &status, 0);
      child_ = -1;
      return -1;
    }
    readSome(50);
  }
  child_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TerminalSession::signal(int signal) {
  if (child_ > 0) kill(child_, signal);
}

struct termios TerminalSession::settings() const {
  struct termios now {};
  tcgetattr(master_, &now);
  return now;
}
