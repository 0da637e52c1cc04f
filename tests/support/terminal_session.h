#pragma once
// A program run at a pseudo-terminal, typed at and read from as a person
// would: type, wait for an answer to show, type again.

#include <sys/types.h>
#include <termios.h>

#include <map>
#include <string>
#include <vector>

class TerminalSession {
 public:
  TerminalSession() = default;
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  bool start(const std::string& program, const std::string& workingDirectory,
             const std::map<std::string, std::string>& environment,
             const std::vector<std::string>& arguments = {});
  void type(const std::string& keys);
  // Reads until `text` has been shown after everything seen so far; false when
  // it did not show within `seconds`.
  bool waitFor(const std::string& text, int seconds = 20);
  // Waits for the program to end; its exit status, or -1.
  int finish(int seconds = 20);
  // Sends `signal` to the program, as another process would.
  void signal(int signal);
  // The terminal's settings as the program left them.
  struct termios settings() const;
  const std::string& shown() const { return shown_; }

 private:
  bool readSome(int timeoutMs);

  pid_t child_ = -1;
  int master_ = -1;
  std::string shown_;
  size_t searchFrom_ = 0;
};
