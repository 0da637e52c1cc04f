#pragma once
// The prompt's lines kept from one run to the next, in a plain text file of
// one line each (the oldest first), so that a user can read and edit it.

#include <deque>
#include <string>

class PromptHistory {
 public:
  static constexpr size_t kMaxLines = 1000;

  // The file for a program: "history" in its XDG state folder
  // ($XDG_STATE_HOME/<program>, ~/.local/state/<program>). Empty when there is
  // no such folder to be had.
  static std::string fileFor(const std::string& programName);

  explicit PromptHistory(std::string path) : path_(std::move(path)) {}

  // The newest kMaxLines lines of the file; none when it is missing.
  const std::deque<std::string>& load();
  // Adds a line and writes the file again: a run that is killed keeps what was
  // typed before. False when the file could not be written; the prompt goes
  // on without it.
  bool add(const std::string& line);
  const std::deque<std::string>& lines() const { return lines_; }

 private:
  std::string path_;
  std::deque<std::string> lines_;
};
