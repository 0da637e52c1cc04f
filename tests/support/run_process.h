#pragma once
// Runs one of the built programs the way a user would, with its own working
// directory, environment additions and standard input, and collects what it
// printed and how it ended. A program that outlives its time limit is killed.

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
  int exitStatus = -1;  // -1 when killed by a signal or the time limit
  bool timedOut = false;
  std::string output;       // standard output
  std::string errorOutput;  // standard error
};

struct ProcessOptions {
  std::string workingDirectory;
  std::map<std::string, std::string> environment;  // added to (or replacing) ours
  std::string standardInput;                       // fed, then closed
  bool closeStandardInput = false;                 // start with descriptor 0 closed
  bool holdStandardInputOpen = false;  // after standardInput, keep it open until the end
  int timeLimitSeconds = 60;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options);

// Points the user's cache and state folders (XDG_CACHE_HOME, XDG_STATE_HOME)
// into the folder a program is about to run in, so that what one run keeps
// (a measured gcal.txt, the prompt history) is seen by no other test and never
// lands in the real home. Called in the child, after chdir; the run's own
// environment additions come after and may point them elsewhere.
void keepUserFoldersHere();

// Path of a program in the build tree, e.g. builtProgram("tarnwick").
std::string builtProgram(const std::string& relativePath);
