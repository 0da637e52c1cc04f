#pragma once
// The console every subsystem prints to and reads from. The real one sits on
// stdin/stdout and termios; tests use a scripted one and compare transcripts.

#include <string>
#include <string_view>

#include "run/output_sink.h"

class Console : public OutputSink {
 public:
  // Next white-space separated token; false at the end of input.
  virtual bool readToken(std::string& token) = 0;
  // Drops what is left of the current input line (after a '#' comment).
  virtual void skipRestOfLine() = 0;
  // Next character that is not white space (answers at the channel prompt);
  // -1 at the end of input.
  virtual int readAnswer() = 0;
  // Non-blocking key test, and a key read without echo (-1 at end of input).
  virtual bool keyWaiting() = 0;
  virtual int readKey() = 0;
  // Whether the real user sits at a terminal (the closing key wait and line
  // editing only make sense then).
  virtual bool isTerminal() const = 0;
  // Raw, unechoed key input for terminal mode; restored by endKeyMode.
  virtual void beginKeyMode() {}
  virtual void endKeyMode() {}
  // From here on the text goes to standard error: standard output carries a
  // file's bytes.
  virtual void sendTextToStandardError() {}
  // Whether the text written so far ends with a line break (or there is none).
  virtual bool endsLine() const { return true; }
};

// A console for tests: input comes from a string, output is kept.
class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::string input = "") : input_(std::move(input)) {}

  void write(std::string_view text) override { output_.append(text); }
  bool readToken(std::string& token) override;
  void skipRestOfLine() override;
  int readAnswer() override;
  bool keyWaiting() override { return pos_ < input_.size(); }
  int readKey() override;
  bool isTerminal() const override { return false; }
  bool endsLine() const override { return output_.empty() || output_.back() == '\n'; }

  const std::string& output() const { return output_; }
  void clearOutput() { output_.clear(); }
  void addInput(std::string_view more) { input_.append(more); }

 private:
  std::string input_;
  size_t pos_ = 0;
  std::string output_;
};
