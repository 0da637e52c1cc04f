#pragma once
// The console of the real programs: standard output, and standard input read
// through one buffer of our own so that tokens, answers and single keys never
// lose bytes to each other.

#include <termios.h>

#include <cstdio>
#include <string>

#include "run/console.h"

class StdioConsole : public Console {
 public:
  StdioConsole();
  ~StdioConsole() override;

  void write(std::string_view text) override;
  bool readToken(std::string& token) override;
  void skipRestOfLine() override;
  int readAnswer() override;
  bool keyWaiting() override;
  int readKey() override;
  bool isTerminal() const override { return inputIsTerminal_; }
  void beginKeyMode() override;
  void endKeyMode() override;
  void flush() override;
  void sendTextToStandardError() override;
  bool endsLine() const override { return endsLine_; }

 private:
  bool fill();  // reads more of stdin into the buffer; false at its end
  bool skipSpace();

  std::string buffer_;
  size_t pos_ = 0;
  bool atEnd_ = false;
  bool inputIsTerminal_ = false;
  bool outputIsTerminal_ = false;
  std::FILE* text_ = stdout;
  bool endsLine_ = true;
};

// Puts the terminal back the way it was found; safe to call from a signal
// handler and more than once.
void restoreConsoleTerminal();
