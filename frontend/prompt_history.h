#pragma once
// The prompt's lines kept from one run to the next, in a plain text file of
// one line each (the oldest first), so that a user can read and edit it.
//
// The file's first line is kMarker. Only a regular file that begins with it
// (or none at all) is ever written: a file in its place that the program did
// not write as its history, a symbolic link, a FIFO or a device is read at
// most and left as it is, and the run's lines are not kept.

#include <deque>
#include <string>

class PromptHistory {
 public:
  static constexpr size_t kMaxLines = 1000;
  // A longer line is not kept: it cannot be a line typed at the prompt, whose
  // tokens are capped far below this.
  static constexpr size_t kMaxLineBytes = 1024;
  static const char* const kMarker;

  // The file for a program: "history" in its XDG state folder
  // ($XDG_STATE_HOME/<program>, ~/.local/state/<program>). Empty when there is
  // no such folder to be had.
  static std::string fileFor(const std::string& programName);

  explicit PromptHistory(std::string path) : path_(std::move(path)) {}

  // The newest kMaxLines lines of the file; none when it is missing. Only the
  // file's tail is read, so memory stays bounded whatever its size; a FIFO in
  // its place is not waited on.
  const std::deque<std::string>& load();
  // Adds a line and writes the file again: a run that is killed keeps what was
  // typed before. False when the file is not to be written (see note()) or
  // could not be; the prompt goes on without it.
  bool add(const std::string& line);
  const std::deque<std::string>& lines() const { return lines_; }
  // After load(): one line saying why the file is left alone, empty when it is
  // the program's own.
  const std::string& note() const { return note_; }

 private:
  std::string path_;
  std::deque<std::string> lines_;
  bool writable_ = false;
  std::string note_;
};
