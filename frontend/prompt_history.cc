#include "frontend/prompt_history.h"

#include <fstream>

#include "image/output_file.h"
#include "run/user_folders.h"

std::string PromptHistory::fileFor(const std::string& programName) {
  std::string folder = userFolder(UserFolder::kState, programName);
  return folder.empty() ? std::string() : folder + "/history";
}

const std::deque<std::string>& PromptHistory::load() {
  lines_.clear();
  std::ifstream file(path_);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    lines_.push_back(line);
    if (lines_.size() > kMaxLines) lines_.pop_front();
  }
  return lines_;
}

bool PromptHistory::add(const std::string& line) {
  std::string entry = line;
  while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
  if (entry.empty() || path_.empty()) return false;
  lines_.push_back(entry);
  if (lines_.size() > kMaxLines) lines_.pop_front();
  std::string text;
  for (const std::string& kept : lines_) text += kept + "\n";
  size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) makeUserFolder(path_.substr(0, slash));
  // Written whole through a temporary file: a full disk leaves the old
  // history, never half of one.
  OutputFile out;
  return out.open(path_) && out.write(text.data(), text.size()) && out.commit();
}
