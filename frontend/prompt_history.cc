#include "frontend/prompt_history.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "image/output_file.h"
#include "run/regular_file.h"
#include "run/user_folders.h"

const char* const PromptHistory::kMarker = "# prompt history, one line each, newest last";

namespace {

// Enough for the newest kMaxLines lines at their longest.
constexpr size_t kTailBytes = PromptHistory::kMaxLines * (PromptHistory::kMaxLineBytes + 2);

size_t readAt(int fd, char* buffer, size_t length, off_t offset) {
  size_t got = 0;
  while (got < length) {
    const ssize_t part = ::pread(fd, buffer + got, length - got, offset + static_cast<off_t>(got));
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    got += static_cast<size_t>(part);
  }
  return got;
}

// Whether the open file begins with the marker line.
bool beginsWithMarker(int fd) {
  const size_t length = std::strlen(PromptHistory::kMarker);
  std::string first(length + 1, '\0');
  if (readAt(fd, &first[0], first.size(), 0) != first.size()) return false;
  return first.compare(0, length, PromptHistory::kMarker) == 0 && first[length] == '\n';
}

}  // namespace

std::string PromptHistory::fileFor(const std::string& programName) {
  std::string folder = userFolder(UserFolder::kState, programName);
  return folder.empty() ? std::string() : folder + "/history";
}

const std::deque<std::string>& PromptHistory::load() {
  lines_.clear();
  note_.clear();
  writable_ = false;
  if (path_.empty()) return lines_;
  struct stat status;
  if (::lstat(path_.c_str(), &status) != 0) {
    writable_ = errno == ENOENT;  // made at the first line typed
    return lines_;
  }
  const bool link = S_ISLNK(status.st_mode);
  std::string reason;
  if (link && !outputLinkPermitted(path_, reason)) {
    note_ = path_ + ": " + reason + " - history not kept";
    return lines_;
  }
  const int fd = openRegularFile(path_, reason);
  if (fd < 0) {
    note_ = path_ + ": " + reason + " - history not kept";
    return lines_;
  }
  const bool ours = beginsWithMarker(fd);
  if (link) {
    note_ = path_ + " is a symbolic link - history read, not kept";
  } else if (!ours) {
    note_ = path_ + " was not written as a prompt history - left alone, history not kept";
  }
  writable_ = ours && !link;

  // Only the tail: a line cut by its start is dropped.
  struct stat opened;
  const off_t size = ::fstat(fd, &opened) == 0 ? opened.st_size : 0;
  const off_t start =
      size > static_cast<off_t>(kTailBytes) ? size - static_cast<off_t>(kTailBytes) : 0;
  std::string text(static_cast<size_t>(size - start), '\0');
  text.resize(readAt(fd, &text[0], text.size(), start));
  ::close(fd);
  size_t at = 0;
  if (start > 0) {
    at = text.find('\n');
    at = at == std::string::npos ? text.size() : at + 1;
  } else if (ours) {
    at = std::strlen(kMarker) + 1;
  }
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    size_t length = end - at;
    if (length > 0 && text[at + length - 1] == '\r') --length;
    if (length > 0 && length <= kMaxLineBytes) {
      lines_.emplace_back(text, at, length);
      if (lines_.size() > kMaxLines) lines_.pop_front();
    }
    at = end + 1;
  }
  return lines_;
}

bool PromptHistory::add(const std::string& line) {
  std::string entry = line;
  while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
  if (entry.empty() || entry.size() > kMaxLineBytes) return false;
  lines_.push_back(entry);
  if (lines_.size() > kMaxLines) lines_.pop_front();
  if (!writable_ || path_.empty()) return false;
  // Looked at again: the file may have been replaced since the start.
  std::string reason;
  struct stat status;
  if (::lstat(path_.c_str(), &status) == 0) {
    const int fd = S_ISREG(status.st_mode) ? openRegularFile(path_, reason) : -1;
    const bool ours = fd >= 0 && beginsWithMarker(fd);
    if (fd >= 0) ::close(fd);
    if (!ours) {
      writable_ = false;
      return false;
    }
  }
  std::string text = std::string(kMarker) + "\n";
  for (const std::string& kept : lines_) text += kept + "\n";
  size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) makeUserFolder(path_.substr(0, slash));
  // Written whole through a temporary file: a full disk leaves the old
  // history, never half of one. Never through a link, nor over one.
  OutputFile out;
  return out.openOwn(path_) && out.write(text.data(), text.size()) && out.commit();
}
