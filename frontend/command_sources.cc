// The three places commands come from: the command line, the interactive prompt
// and script files. Each hands its tokens to executeCommand one at a time.

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/programming_mode.h"
#include "frontend/command_interpreter.h"
#include "frontend/command_table.h"
#include "image/file_contents.h"
#include "run/session.h"

namespace {

// No script of commands comes near this; /dev/zero and its like stop here.
constexpr size_t kScriptFileLimit = size_t{16} << 20;

// Starts a comment that runs to the end of its line, in scripts and at the
// prompt alike.
constexpr char kCommentMark = '#';

// Splits the script at white space, leaving out comments. A token longer than
// any command is kept one character too long, so it is still refused whole
// without holding an endless run of bytes in memory twice.
class ScriptTokens {
 public:
  explicit ScriptTokens(const std::string& text) : text_(text) {}

  bool next(std::string& token) {
    for (;;) {
      while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
      if (at_ >= text_.size()) return false;
      if (text_[at_] != kCommentMark) break;
      while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    }
    const size_t start = at_;
    while (at_ < text_.size() && !isBlank(text_[at_]) && text_[at_] != kCommentMark) ++at_;
    token.assign(text_, start, std::min(at_ - start, kCommandTokenRoom + 1));
    return true;
  }

 private:
  static bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

  const std::string& text_;
  size_t at_ = 0;
};

bool namesScriptFile(const std::string& token) {
  // A token too long to be a command goes on to be refused as one.
  return !token.empty() && token.size() <= kCommandTokenRoom &&
         (token[0] == 'f' || token[0] == 'F');
}

// The console stays silent about a word that matches no command, as it always
// has; but a word that runs nothing on the command line or in a script is
// almost always a typo, and a makefile must not take it for success. So it
// gets a line on standard error, and the run fails. Tokens too long for any
// command are left to the interpreter, which refuses them itself.
void reportUnknownWord(Session& session, const std::string& token, const char* shownPrefix) {
  if (token.size() > kCommandTokenRoom || findCommand(session.profile, token) != nullptr) return;
  session.console.flush();
  std::fprintf(stderr, "%s: unknown command %s%s\n", session.profile.programName, shownPrefix,
               token.c_str());
  std::fflush(stderr);
  session.commandFailed = true;
}

// A script is a run of its own: once one of its commands failed, its later
// writes stop. Started from the prompt, it begins with a clean record, and what
// failed in it still counts towards the run's exit status afterwards.
class ScriptOrigin {
 public:
  explicit ScriptOrigin(Session& session)
      : session_(session), outer_(session.commandOrigin), failedOutside_(session.commandFailed) {
    if (outer_ == CommandOrigin::kPrompt) session_.commandFailed = false;
    session_.commandOrigin = CommandOrigin::kScript;
  }
  ~ScriptOrigin() {
    session_.commandOrigin = outer_;
    session_.commandFailed = session_.commandFailed || failedOutside_;
  }
  ScriptOrigin(const ScriptOrigin&) = delete;
  ScriptOrigin& operator=(const ScriptOrigin&) = delete;

 private:
  Session& session_;
  CommandOrigin outer_;
  bool failedOutside_;
};

// Runs every token of the file named by the token after its 'f'. Script files
// do not nest: their own 'f' tokens go to executeCommand, which ignores them.
CommandOutcome runScriptFile(Session& session, const std::string& fileName) {
  // The script is a command of its own, even when it fails or holds none: a
  // held fuse write must not take the entry after it as its confirmation.
  session.commandsRun += 1;
  // Read whole first: a directory, a FIFO or a read error is refused with its
  // reason, and an endless file cannot grow a token without limit.
  std::string text;
  std::string reason;
  if (!readWholeRegularFile(fileName, kScriptFileLimit, text, reason)) {
    session.console.print("Can't open file named: %s\n", fileName.c_str());
    session.console.print("   %s: %s\n", fileName.c_str(), reason.c_str());
    session.console.print("\n-");
    session.commandFailed = true;
    return CommandOutcome::kContinue;
  }
  session.console.print("\n-");
  ScriptOrigin origin(session);
  ScriptTokens tokens(text);
  std::string token;
  while (tokens.next(token)) {
    session.console.print("%s\n", token.c_str());
    reportUnknownWord(session, token, "");
    if (executeCommand(session, token) == CommandOutcome::kExit) return CommandOutcome::kExit;
    session.console.print("-");
  }
  return CommandOutcome::kContinue;
}

int statusAfterCommands(const Session& session) {
  return session.commandFailed ? kExitCommandFailed : kExitOk;
}

}  // namespace

int runCommandLine(Session& session, int argc, char** argv) {
  session.commandOrigin = CommandOrigin::kCommandLine;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr) continue;
    if (argument[0] != '-') {
      session.console.flush();
      std::fprintf(stderr, "%s: ignored: %s, commands begin with -\n",
                   session.profile.programName, argument);
      std::fflush(stderr);
      session.commandFailed = true;
      session.commandsRun += 1;  // it stands between a held write and its confirmation
      continue;
    }
    std::string token(argument + 1);
    if (session.profile.echoCommandLine) session.console.print("\n-%s", token.c_str());
    if (!namesScriptFile(token)) reportUnknownWord(session, token, "-");
    CommandOutcome outcome = namesScriptFile(token) ? runScriptFile(session, token.substr(1))
                                                    : executeCommand(session, token);
    if (outcome == CommandOutcome::kExit) return kExitCommand;
  }
  return statusAfterCommands(session);
}

namespace {

// Cuts a '#' comment off a token read at the prompt, with the rest of its line.
// False when nothing of the token is left to run.
bool dropComment(Console& console, std::string& token) {
  const size_t mark = token.find(kCommentMark);
  if (mark == std::string::npos) return true;
  token.erase(mark);
  console.skipRestOfLine();
  return !token.empty();
}

}  // namespace

int runPrompt(Session& session) {
  session.commandOrigin = CommandOrigin::kPrompt;
  session.console.print("\n-");
  std::string token;
  while (session.console.readToken(token)) {
    if (!dropComment(session.console, token)) continue;
    if (namesScriptFile(token)) {
      if (runScriptFile(session, token.substr(1)) == CommandOutcome::kExit) return kExitCommand;
      continue;
    }
    if (executeCommand(session, token) == CommandOutcome::kExit) return kExitCommand;
    session.console.print("-");
  }
  // The end of the console's input ends the run as the command line does.
  if (session.link != nullptr) leaveProgrammingMode(session);
  return statusAfterCommands(session);
}
