#pragma once
// The interpreter's command words, in the order they are tested. A token runs
// the first row whose word it matches, letter case ignored, over the row's
// compared length; the rest of the token is the row's argument. A row without
// an argument matches only a token that is its whole word.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Profile;
struct Session;

enum class ArgumentKind { kNone, kFileName, kHexNumber, kFuseTriple };

// Where within a command the target is brought into programming mode and
// identified again, when it is running its own program at that point.
enum class Reidentify { kNo, kFirst, kAfterName, kBeforeParse, kAfterParse };

enum class StepResult { kDone, kFailed, kExit };

// One command being run: its session, its argument and what was parsed from it.
struct CommandCall {
  Session& session;
  std::string argument;
  uint8_t value = 0;
};

// Stores the file name or parses the number: the part of a command before its
// re-identify point when that point comes after the name or the parse. False
// refuses the command (after printing why); nothing else of it runs.
using PrepareStep = bool (*)(CommandCall&);
using ActStep = StepResult (*)(CommandCall&);

struct CommandRow {
  const char* word;
  size_t comparedLength;
  bool Profile::*onlyWhen;  // the profile flag of a one-program row; nullptr for both
  ArgumentKind argument;
  Reidentify reidentify;
  PrepareStep prepare;  // nullptr when there is nothing to do before the act
  ActStep act;
  // Downloads, the erase, fuse and lock writes: on the command line and in
  // scripts none of these runs once a command before it has failed.
  bool writesTarget;
};

struct CommandTable {
  const CommandRow* rows;
  size_t count;
};

const CommandTable& commandTable();

// The first row of this program that the token matches, nullptr when none.
const CommandRow* findCommand(const Profile& profile, std::string_view token);
