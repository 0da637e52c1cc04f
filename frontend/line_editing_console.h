#pragma once
// The programs' console at a terminal: the prompt's input is read a line at a
// time with line editing and history, and the line's tokens are handed out one
// by one, so several commands on one line still run in order. The lines are
// kept between runs (PromptHistory). Away from a terminal it is exactly the
// plain console, and keeps no history.

#include <deque>
#include <memory>
#include <string>

#include "frontend/prompt_history.h"
#include "frontend/stdio_console.h"

struct editline;
struct history;

class LineEditingConsole : public StdioConsole {
 public:
  explicit LineEditingConsole(const char* programName);
  ~LineEditingConsole() override;
  LineEditingConsole(const LineEditingConsole&) = delete;
  LineEditingConsole& operator=(const LineEditingConsole&) = delete;

  bool readToken(std::string& token) override;
  void skipRestOfLine() override;

 private:
  bool readLine();  // queues the tokens of the next line; false at the end of input

  struct editline* editor_ = nullptr;
  struct history* history_ = nullptr;
  std::deque<std::string> pending_;
  std::unique_ptr<PromptHistory> saved_;  // the lines kept between runs
};
