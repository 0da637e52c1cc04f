#pragma once
// The console as the run sees it: everything goes to the real console, and
// while a log is open ("lf") every finished line goes to the log as well.
// Progress lines, rewritten in place with a bare carriage return, reach the
// log only as they finally stand. It also keeps the last line of text
// written, so that a batch of boards can name what made a board fail.

#include <cstdio>
#include <string>

#include "run/console.h"

class LoggedConsole : public Console {
 public:
  explicit LoggedConsole(Console& inner) : inner_(inner) {}

  // The log the session holds open, read at each line; nullptr stops copying.
  void copyLinesTo(std::FILE* const* log) { log_ = log; }

  void write(std::string_view text) override;

  // The last line that held more than white space, without its line break; a
  // line rewritten with '\r' counts as what was last written over it.
  const std::string& lastLine() const { return lastLine_; }
  void forgetLines() { lastLine_.clear(), current_.clear(); }

  void flush() override { inner_.flush(); }
  bool readToken(std::string& token) override { return inner_.readToken(token); }
  void skipRestOfLine() override { inner_.skipRestOfLine(); }
  int readAnswer() override { return inner_.readAnswer(); }
  bool keyWaiting() override { return inner_.keyWaiting(); }
  int readKey() override { return inner_.readKey(); }
  bool isTerminal() const override { return inner_.isTerminal(); }
  void beginKeyMode() override { inner_.beginKeyMode(); }
  void endKeyMode() override { inner_.endKeyMode(); }
  void sendTextToStandardError() override { inner_.sendTextToStandardError(); }
  bool endsLine() const override { return inner_.endsLine(); }

 private:
  Console& inner_;
  std::FILE* const* log_ = nullptr;
  std::string line_;
  bool carriageReturn_ = false;
  std::string current_;
  std::string lastLine_;
};
