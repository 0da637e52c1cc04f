#include "frontend/board_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "image/output_file.h"

namespace {

std::string hexByte(uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string boardRecordHeader() {
  return "time,port,part,signature,files,serial,serial_written,low_fuse,high_fuse,"
         "extended_fuse,lock,result,seconds\n";
}

std::string boardRecordLine(const BoardOutcome& board) {
  std::string files;
  for (const std::string& file : board.files) files += (files.empty() ? "" : ";") + file;
  std::string line = csvField(board.time) + ',' + csvField(board.port) + ',' +
                     csvField(board.part) + ',' + board.signature + ',' + csvField(files) + ',';
  line += board.hasSerial ? std::to_string(board.serial) : "";
  line += ',';
  line += board.hasSerial ? (board.serialWritten ? "yes" : "no") : "";
  for (int i = 0; i < 3; ++i) {
    line += ',';
    if (i < board.fuseCount) line += hexByte(board.fuses[i]);
  }
  line += ',';
  if (board.lockRead) line += hexByte(board.lock);
  line += ',' + csvField(board.ok ? "ok" : "failed: " + board.failure);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ",%.2f\n", board.seconds);
  return line + seconds;
}

bool appendBoardRecord(const std::string& path, const BoardOutcome& board, std::string& reason) {
  if (!outputLinkPermitted(path, reason)) return false;
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0;
  if (ok && S_ISREG(status.st_mode) && status.st_size == 0) ok = writeAll(fd, boardRecordHeader());
  ok = ok && writeAll(fd, boardRecordLine(board));
  // A board's line must outlast a crash of the run that wrote it.
  if (ok && S_ISREG(status.st_mode)) ok = ::fsync(fd) == 0;
  if (!ok) reason = std::strerror(errno);
  ::close(fd);
  return ok;
}

std::string isoTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  return text;
}
