// Every example in the three man pages, taken from the built pages and run as
// written against the simulators, so that a new example is tried as soon as it
// is written. Each runs in a user and mount namespace of its own where the
// machine looks as the page assumes: a Korvo (korvo-sim) at /dev/ttyUSB0, at a
// /dev/serial/by-id name and at the default channel, a fresh /tmp and port
// locks of its own, the simulated cable at the folder an installation puts it
// in, and a Marlow cable (the simulated one, at the address the example names)
// for pellory.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/avr_examples.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

struct ManExample {
  std::string page;
  std::string text;  // shell text, or a Makefile when makeTarget is set
  std::string makeTarget;
  std::map<std::string, std::string> files;  // files the prose says the example reads
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The roff escapes the examples use, back to the characters a reader types.
std::string plainText(std::string text) {
  text = replaceAll(text, "\\-", "-");
  text = replaceAll(text, "\\e", "\\");
  text = replaceAll(text, "\\(lq", "\"");
  return replaceAll(text, "\\(rq", "\"");
}

std::vector<ManExample> examplesOf(const std::string& page) {
  const std::string roff = readFile(std::string(AVRISP_BINARY_DIR) + "/man/" + page + ".1");
  std::vector<ManExample> examples;
  const size_t start = roff.find("\n.SH EXAMPLES\n");
  if (start == std::string::npos) return examples;
  const size_t end = roff.find("\n.SH ", start + 1);
  const std::string section = roff.substr(start, end - start);
  // "a script file .I NAME holding commands such as .BR "COMMANDS"".
  const std::regex holding(R"re(\.I (\S+)\nholding commands such as\n\.BR "([^"]+)")re");
  const std::regex makeRule(R"(^([A-Za-z0-9_.-]+):)");
  size_t prose = 0;
  for (size_t open = section.find("\n.EX\n"); open != std::string::npos;
       open = section.find("\n.EX\n", open + 1)) {
    const size_t close = section.find("\n.EE", open);
    ManExample example{page, plainText(section.substr(open + 5, close - open - 5) + "\n"), "", {}};
    const std::string before = section.substr(prose, open - prose);
    for (std::sregex_iterator it(before.begin(), before.end(), holding), last; it != last; ++it) {
      example.files[(*it)[1]] = replaceAll((*it)[2], " ", "\n") + "\n";
    }
    std::smatch rule;
    if (std::regex_search(example.text, rule, makeRule)) example.makeTarget = rule[1];
    examples.push_back(example);
    prose = close;
  }
  return examples;
}

// Sets up the namespace and runs one example in /tmp/run; its output is the
// example's. Arguments: the test folder, the build's simulator folder, then
// the folders where an installation keeps the simulated cable.
const char kNamespaceScript[] = R"sh(set -eu
work=$1; sim=$2; shift 2
cd "$work"
# Devices: the usual ones, and the Korvo's names all leading to one korvo-sim.
# Pseudo-terminals from an instance of our own: the host's belong to a root
# this namespace does not map.
mkdir -p tmp/dev/pts tmp/dev/serial/by-id tmp/dev/shm
for name in null zero full random urandom tty; do
  touch "tmp/dev/$name"; mount --bind "/dev/$name" "tmp/dev/$name"
done
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts tmp/dev/pts
ln -s pts/ptmx tmp/dev/ptmx
for name in ttyUSB0 ttyS1 serial/by-id/usb-Korvo-if00; do ln -s /tmp/korvo-usb "tmp/dev/$name"; done
# The simulated cable where an installation keeps it.
n=0
for folder in "$@"; do
  above=$folder
  while [ ! -d "$above" ]; do above=$(dirname "$above"); done
  n=$((n + 1)); mkdir -p "overlay/$n/upper" "overlay/$n/work"
  mount -t overlay overlay -o "lowerdir=$above,upperdir=$work/overlay/$n/upper,workdir=$work/overlay/$n/work" "$above"
  mkdir -p "$folder"; cp "$sim/libio.so" "$folder/"
done
# Port locks of our own: the pseudo-terminals' numbers repeat the host's.
mount -t tmpfs tmpfs "$(readlink -f /var/lock)"
mount --rbind tmp/dev /dev
mount --bind tmp /tmp
cd /tmp/run
mkfifo /tmp/korvo-ready
korvo-sim --link /tmp/korvo-usb --time-scale 0.001 --state /tmp/usb.state 2>/tmp/korvo-ready &
korvo=$!
trap 'kill $korvo; wait $korvo || true' EXIT
exec 3</tmp/korvo-ready
read -r -u 3 ready
if [ -n "${MAKE_TARGET:-}" ]; then
  make --no-print-directory "$MAKE_TARGET"
else
  bash -e /tmp/example.sh
fi
)sh";

bool namespacesWork() {
  ProcessOptions options;
  options.timeLimitSeconds = 20;
  return runProcess("/usr/bin/unshare", {"-rm", "true"}, options).exitStatus == 0;
}

class ManExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!namespacesWork()) GTEST_SKIP() << "needs unprivileged user namespaces (unshare -rm)";
    examples_ = builtExamples("atmega644p");
    if (examples_.empty()) GTEST_SKIP() << "needs the AVR toolchain for the example firmware";
  }

  ProcessResult runExample(const ManExample& example) {
    TempDir dir;
    const std::string run = dir.file("tmp/run");
    ProcessOptions making;
    runProcess("/bin/mkdir", {"-p", run, dir.file("tmp/bin"), dir.file("tmp/home")}, making);
    // Copies, not links: the namespace puts its own folder over /tmp, where the
    // build tree itself may lie.
    for (const char* program : {"tarnwick", "pellory", "sim/korvo-sim"}) {
      const std::string name = std::string(program).substr(std::string(program).rfind('/') + 1);
      runProcess("/bin/cp", {builtProgram(program), dir.file("tmp/bin/" + name)}, making);
    }
    runProcess("/bin/mkdir", {"-p", dir.file("tmp/simlib")}, making);
    runProcess("/bin/cp", {builtProgram("sim") + "/libio.so", dir.file("tmp/simlib/")}, making);
    writeFile(run + "/blink.hex", readFile(examples_ + "/blink.hex"));
    writeFile(run + "/eeprom_data.eep.hex", readFile(examples_ + "/eeprom_data.eep.hex"));
    writeRealCalibration(run);
    for (const auto& [name, text] : example.files) writeFile(run + "/" + name, text);
    writeFile(dir.file("tmp/example.sh"), example.text);
    if (!example.makeTarget.empty()) writeFile(run + "/Makefile", example.text);
    writeFile(dir.file("namespace.sh"), kNamespaceScript);

    // Only where this build installs it, so a page naming another folder fails.
    std::vector<std::string> arguments = {"-rm",      "/bin/bash",         dir.file("namespace.sh"),
                                          dir.path(), builtProgram("sim"), AVRISP_INSTALLED_SIMDIR};
    ProcessOptions options;
    options.timeLimitSeconds = 120;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    options.environment = {
        {"PATH", "/tmp/bin:/usr/bin:/bin"},
        {"HOME", "/tmp/home"},
        {"XDG_CONFIG_HOME", "/tmp/home/.config"},
        {"XDG_CACHE_HOME", "/tmp/home/.cache"},
        {"XDG_STATE_HOME", "/tmp/home/.local/state"},
        {"MAKE_TARGET", example.makeTarget},
        // This machine's Marlow cable is the simulated one.
        {"LD_LIBRARY_PATH", "/tmp/simlib"},
        {"PELLORY_SIM_PART", "ATmega644P"},
        {"PELLORY_SIM_TIME_SCALE", scale},
        {"PELLORY_SIM_STATE", "/tmp/cable.state"},
    };
    // The cable sits at the address the example names.
    std::smatch port;
    if (std::regex_search(example.text, port, std::regex(R"(--port 0x([0-9A-Fa-f]+))"))) {
      options.environment["PELLORY_SIM_PORT"] = port[1];
    }
    return runProcess("/usr/bin/unshare", arguments, options);
  }

  std::string examples_;
};

TEST_F(ManExamples, EveryExampleRunsAsWritten) {
  size_t count = 0;
  for (const char* page : {"tarnwick", "pellory", "korvo-sim"}) {
    const std::vector<ManExample> examples = examplesOf(page);
    EXPECT_FALSE(examples.empty()) << page << "(1) has no examples";
    for (const ManExample& example : examples) {
      ++count;
      SCOPED_TRACE(std::string(page) + "(1):\n" + example.text);
      const ProcessResult result = runExample(example);
      EXPECT_FALSE(result.timedOut);
      EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
      for (const char* failure : {"ERROR", "not installed", "Can't open", "refused"}) {
        EXPECT_EQ(result.output.find(failure), std::string::npos) << result.output;
      }
    }
  }
  EXPECT_GE(count, 10u);
}

TEST_F(ManExamples, ScriptFilesAndMakeRulesAreTakenFromThePages) {
  const std::vector<ManExample> examples = examplesOf("tarnwick");
  bool script = false;
  bool rule = false;
  for (const ManExample& example : examples) {
    if (example.files.count("setup.txt") != 0) {
      script = true;
      EXPECT_EQ(example.files.at("setup.txt"), "gf\npf1e2\ni\n");
    }
    if (!example.makeTarget.empty()) {
      rule = true;
      EXPECT_EQ(example.makeTarget, "flash");
      EXPECT_NE(example.text.find("\n\ttarnwick --port "), std::string::npos) << example.text;
    }
  }
  EXPECT_TRUE(script);
  EXPECT_TRUE(rule);
}

TEST(KorvoSimVersion, PrintsTheProjectVersion) {
  ProcessOptions options;
  const ProcessResult result = runProcess(builtProgram("sim/korvo-sim"), {"--version"}, options);
  EXPECT_EQ(result.exitStatus, 0) << result.errorOutput;
  EXPECT_EQ(result.output, std::string("korvo-sim ") + AVRISP_VERSION + "\n");
}

}  // namespace
