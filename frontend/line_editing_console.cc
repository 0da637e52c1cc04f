#include "frontend/line_editing_console.h"

#include <histedit.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "frontend/command_interpreter.h"

namespace {

// The interpreter prints its own "-" before each command, so the editor shows
// no prompt of its own.
char* emptyPrompt(EditLine*) {
  static char none[] = "";
  return none;
}

constexpr int kHistoryLines = static_cast<int>(PromptHistory::kMaxLines);

}  // namespace

LineEditingConsole::LineEditingConsole(const char* programName) {
  if (!isTerminal()) return;
  editor_ = el_init(programName, stdin, stdout, stderr);
  if (editor_ == nullptr) return;
  history_ = history_init();
  if (history_ != nullptr) {
    HistEvent event;
    history(history_, &event, H_SETSIZE, kHistoryLines);
    el_set(editor_, EL_HIST, history, history_);
    std::string file = PromptHistory::fileFor(programName);
    if (!file.empty()) {
      saved_ = std::make_unique<PromptHistory>(file);
      for (const std::string& line : saved_->load())
        history(history_, &event, H_ENTER, line.c_str());
      if (!saved_->note().empty()) print("%s\n", saved_->note().c_str());
    }
  }
  el_set(editor_, EL_PROMPT, emptyPrompt);
  el_set(editor_, EL_EDITOR, "emacs");
  el_set(editor_, EL_SIGNAL, 1);
}

LineEditingConsole::~LineEditingConsole() {
  if (editor_ != nullptr) el_end(editor_);
  if (history_ != nullptr) history_end(history_);
}

bool LineEditingConsole::readLine() {
  flush();
  int length = 0;
  const char* line = el_gets(editor_, &length);
  if (line == nullptr || length <= 0) return false;
  std::string text(line, static_cast<size_t>(length));
  bool hasToken = false;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    size_t start = pos;
    while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos > start) {
      // Capped as StdioConsole caps a token: too long is still too long.
      pending_.push_back(text.substr(start, std::min(pos - start, kCommandTokenRoom + 1)));
      hasToken = true;
    }
  }
  if (hasToken && history_ != nullptr) {
    HistEvent event;
    history(history_, &event, H_ENTER, line);
    if (saved_) saved_->add(text);
  }
  return true;
}

void LineEditingConsole::skipRestOfLine() {
  if (editor_ == nullptr) {
    StdioConsole::skipRestOfLine();
    return;
  }
  pending_.clear();  // the line's other tokens
}

bool LineEditingConsole::readToken(std::string& token) {
  if (editor_ == nullptr) return StdioConsole::readToken(token);
  while (pending_.empty()) {
    if (!readLine()) return false;
  }
  token = std::move(pending_.front());
  pending_.pop_front();
  return true;
}
