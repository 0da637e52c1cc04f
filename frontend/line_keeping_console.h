#pragma once
// A console that passes everything through and keeps the last line of text
// written, so that a board's record can name what made it fail.

#include <string>

#include "run/console.h"

class LineKeepingConsole : public Console {
 public:
  explicit LineKeepingConsole(Console& inner) : inner_(inner) {}

  void write(std::string_view text) override;
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

  // The last line that held more than white space, without its line break; a
  // line rewritten with '\r' counts as what was last written over it.
  const std::string& lastLine() const { return lastLine_; }
  void forgetLines() { lastLine_.clear(), current_.clear(); }

 private:
  void endLine();

  Console& inner_;
  std::string current_;
  std::string lastLine_;
};
