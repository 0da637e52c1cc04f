#include "tests/support/avr_examples.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/run_process.h"

bool haveAvrToolchain() {
  return std::system(
             "command -v avr-gcc >/dev/null 2>&1 && "
             "command -v avr-objcopy >/dev/null 2>&1") == 0;
}

// Two test processes may ask for the same part at once, so each builds
// privately and renames.
std::string builtExamples(const std::string& mcu) {
  std::string root = builtProgram("examples");
  std::string done = root + "/" + mcu;
  struct stat info;
  if (stat((done + "/table.bin").c_str(), &info) == 0) return done;
  mkdir(root.c_str(), 0755);
  std::string scratch = done + ".tmp." + std::to_string(getpid());
  std::string command = std::string(AVRISP_SOURCE_DIR) + "/examples/build.sh " + mcu + " " +
                        scratch + " >" + scratch + ".log 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  if (rename(scratch.c_str(), done.c_str()) != 0) {
    std::system(("rm -rf " + scratch).c_str());  // another process won the race
  }
  return done;
}
