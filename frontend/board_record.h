#pragma once
// The record of a batch: one CSV line per board, appended and flushed as each
// board ends, so that the file holds every board done even if the run is cut.

#include <cstdint>
#include <string>
#include <vector>

struct BoardOutcome {
  std::string time;  // ISO 8601, when the board was started
  std::string port;
  std::string part;                // empty when the target was not recognised
  std::string signature;           // "1E 95 0F"
  std::vector<std::string> files;  // each "name:sha256"
  bool hasSerial = false;
  uint64_t serial = 0;
  bool serialWritten = false;
  int fuseCount = 0;                      // fuse bytes read back: 0 when they could not be
  uint8_t fuses[3] = {0xFF, 0xFF, 0xFF};  // low, high, extended
  bool lockRead = false;
  uint8_t lock = 0xFF;
  bool ok = false;
  std::string failure;  // the first failure's message
  double seconds = 0;
};

// The text of one field as CSV needs it: quoted when it holds a comma, a
// quote or a line break, with quotes doubled.
std::string csvField(const std::string& text);
// The record's header line and one board's line, each ending in '\n'.
std::string boardRecordHeader();
std::string boardRecordLine(const BoardOutcome& board);

// Appends the line (and the header first, when the file is new or empty) to
// `path`, and flushes it to disk. False, with the reason, when it cannot.
bool appendBoardRecord(const std::string& path, const BoardOutcome& board, std::string& reason);

// Now, as local time in ISO 8601 with its offset: "2026-12-08T22:04:47+0000".
std::string isoTimeNow();
