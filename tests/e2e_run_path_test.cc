// The run path the build-tree programs carry: the README and the demo run
// them from there, so an empty or relative entry (the loader takes both as
// the current folder) would let a library planted in the working folder run
// inside them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace {

// The entries of the program's run path (RUNPATH or RPATH) as readelf shows it.
std::vector<std::string> runPathEntries(const std::string& program) {
  ProcessResult shown = runProcess("/usr/bin/readelf", {"-d", program}, {});
  EXPECT_EQ(shown.exitStatus, 0) << shown.errorOutput;
  std::vector<std::string> entries;
  std::istringstream lines(shown.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("(RUNPATH)") == std::string::npos && line.find("(RPATH)") == std::string::npos) {
      continue;
    }
    const size_t open = line.find('['), close = line.rfind(']');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream path(line.substr(open + 1, close - open - 1));
    std::string entry;
    // getline drops a final empty entry; a trailing ':' is caught below.
    while (std::getline(path, entry, ':')) entries.push_back(entry);
    if (line[close - 1] == ':') entries.push_back("");
  }
  return entries;
}

TEST(RunPath, BuildTreeProgramsHaveNoEmptyOrRelativeEntry) {
  if (::access("/usr/bin/readelf", X_OK) != 0) GTEST_SKIP() << "needs readelf (binutils)";
  for (const char* name : {"tarnwick", "pellory", "sim/korvo-sim"}) {
    for (const std::string& entry : runPathEntries(builtProgram(name))) {
      EXPECT_TRUE(entry.rfind("$ORIGIN/", 0) == 0 || (!entry.empty() && entry[0] == '/'))
          << name << ": run path entry '" << entry << "'";
    }
  }
  // pellory still finds the real port library beside it.
  const std::vector<std::string> pellory = runPathEntries(builtProgram("pellory"));
  EXPECT_NE(std::find(pellory.begin(), pellory.end(), "$ORIGIN/lib"), pellory.end());
}

// What an empty entry lets happen: a damaged libedit in the working folder
// stops the program before main.
TEST(RunPath, ALibraryInTheWorkingFolderIsNotLoaded) {
  TempDir dir;
  writeFile(dir.file("libedit.so.2"), "not a library");
  ProcessOptions options;
  options.workingDirectory = dir.path();
  options.environment["LD_LIBRARY_PATH"] = "";
  for (const char* name : {"tarnwick", "pellory"}) {
    ProcessResult shown = runProcess(builtProgram(name), {"--version"}, options);
    EXPECT_EQ(shown.exitStatus, 0) << name << ": " << shown.errorOutput;
  }
}

}  // namespace
