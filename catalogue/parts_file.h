#pragma once
// The user's own parts: a parts.txt, one part a line,
//
//   # name      signature  flash  page  EEPROM  fuses  defaults (low high extended)
//   ATmega328PB 1E 95 16   32768  64    1024    3      62 D9 F7
//   ATtiny3217x 1E9522     32768  64    256     2      -
//
// name (no spaces, at most 63 characters), the three signature bytes in
// hexadecimal (apart, or together as six digits), flash bytes, flash page
// words, EEPROM bytes (numbers in decimal, "01024" too, or hexadecimal after 0x), the
// number of fuse bytes (1 low; 2 low, high; 3 low, high, extended), then that
// many default fuse bytes in hexadecimal, low first, or '-' when none are
// known. '#' starts a comment; blank lines are skipped.
//
// A line whose signature a row already holds replaces that row for the run;
// any other good line is appended. A line for a built-in signature may rename
// the part and give its defaults, but one that changes its flash, page or
// EEPROM size is refused unless its last word is "override":
//
//   ATmega328P  1E 95 0F   32768  128   1024    3      -   override
//
// A name given to two signatures is refused at its second line. A bad line is
// skipped, with a message; a field is shown with its control characters
// escaped.

#include <cstddef>
#include <string>
#include <vector>

#include "catalogue/part_record.h"

// One parsed line: the part, or the fault that makes the line bad.
struct PartsFileLine {
  int lineNumber = 0;
  PartRecord part{};
  std::string fault;      // empty for a good line
  bool override = false;  // ended with kOverrideWord
};

// The last word of a line that means to change a built-in part's memory.
constexpr const char* kOverrideWord = "override";

// Parses the text of a parts.txt: one entry per line that is neither blank
// nor a comment.
std::vector<PartsFileLine> parsePartsText(const std::string& text);

// The largest parts.txt read: some thousand lines, far more than any user's.
constexpr size_t kPartsFileLimit = size_t{1} << 20;

// Adds the parts of `text`, read from `path`, to the catalogue. Every bad
// line, every replacement and a full table adds one line (without line end)
// to `messages`, naming the file and the line. Returns the number of parts
// taken.
int addPartsText(PartCatalogue& catalogue, const std::string& path, const std::string& text,
                 std::vector<std::string>* messages);
