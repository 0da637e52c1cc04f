#include "tests/support/avr_examples.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

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

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool haveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string hexToBinary(const std::string& hex, const std::string& bin) {
  std::string command = "srec_cat " + hex + " -intel -o " + bin + " -binary 2>&1";
  if (std::system(command.c_str()) != 0) return "<srec_cat failed on " + hex + ">";
  return readFile(bin);
}

std::string trimmedOfErased(std::string data) {
  size_t end = data.find_last_not_of('\xff');
  data.resize(end == std::string::npos ? 0 : end + 1);
  return data;
}
