// tarnwick on a faulty line: a relay between it and korvo-sim loses, doubles
// or adds a byte of what the Korvo sends, a faulty Korvo acts on bytes while
// it should be holding them, and runs are cut short by Ctrl-C. Each run ends
// with the right result or with a non-zero status, and an upload file on disk
// is never a wrong one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/avr_target.h"
#include "sim/sim_clock.h"
#include "sim/sim_parts.h"
#include "tests/support/fault_relay.h"
#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const char kOldUpload[] = "an upload kept from an earlier run\n";

class LinkFaultTest : public ::testing::Test {
 protected:
  // A chip holding a known pattern in its whole flash and EEPROM, behind
  // korvo-sim, behind the relay.
  void startLine(const std::string& part, std::vector<std::string> korvoOptions = {}) {
    writeRealCalibration(dir.path());
    SimClock clock;
    AvrTarget chip(*findSimPart(part), clock);
    std::vector<uint8_t> flash = randomBytes(chip.flash().size(), 20);
    std::vector<uint8_t> eeprom = randomBytes(chip.eeprom().size(), 21);
    std::copy(flash.begin(), flash.end(), chip.flash().begin());
    std::copy(eeprom.begin(), eeprom.end(), chip.eeprom().begin());
    ASSERT_TRUE(chip.saveState(dir.file("chip.state")));
    std::vector<std::string> options = {"--part", part, "--state", dir.file("chip.state")};
    options.push_back("--time-scale");
    options.push_back("0.001");
    options.insert(options.end(), korvoOptions.begin(), korvoOptions.end());
    ASSERT_TRUE(korvo.start(dir.file("korvoSim1"), options)) << korvo.error();
    relay = std::make_unique<FaultRelay>(dir.file("ttyKorvo1"), dir.file("korvoSim1"));
  }

  ProcessResult run(const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment["TARNWICK_TTY_PREFIX"] = dir.file("ttyKorvo");
    return runProcess(builtProgram("tarnwick"), arguments, options);
  }

  // The right upload, through a line without faults.
  void uploadWithoutFaults(const std::string& command, const std::string& file) {
    relay->start();
    ProcessResult good = run({command + file});
    relay->stop();
    ASSERT_EQ(good.exitStatus, 0) << good.output;
    right[file] = readFile(dir.file(file));
  }

  // One upload through a line with `first` (and `second`), over an upload
  // file from an earlier run. Status 0 only with the right file; otherwise
  // the earlier file as it was.
  ProcessResult uploadThroughFaults(const std::string& command, const std::string& file,
                                    LineFault first, LineFault second = LineFault()) {
    writeFile(dir.file(file), kOldUpload);
    relay->start(first, second);
    ProcessResult result = run({command + file});
    relay->stop();
    EXPECT_EQ(relay->faultsDone(), second.kind == LineFault::kNone ? 1 : 2);
    const std::string onDisk = readFile(dir.file(file));
    if (result.exitStatus == 0) {
      EXPECT_TRUE(onDisk == right[file]) << "status 0 with a wrong upload\n" << result.output;
    } else {
      EXPECT_EQ(onDisk, kOldUpload) << result.output;
    }
    return result;
  }

  TempDir dir;
  KorvoSimProcess korvo;
  std::unique_ptr<FaultRelay> relay;
  std::map<std::string, std::string> right;
};

LineFault fault(LineFault::Kind kind, uint64_t at) {
  LineFault made;
  made.kind = kind;
  made.at = at;
  return made;
}

TEST_F(LinkFaultTest, ABytePutOutOfStepDuringAnUploadIsCaughtAndTheStretchReadAgain) {
  startLine("ATmega644P");
  uploadWithoutFaults("-uf", "flash.hex");
  uploadWithoutFaults("-ue", "eeprom.hex");

  struct Case {
    const char* name;
    const char* command;
    const char* file;
    LineFault first;
    LineFault second;
  };
  const Case cases[] = {
      {"a reply twice", "-uf", "flash.hex", fault(LineFault::kDouble, 30000), LineFault()},
      {"a stray byte", "-uf", "flash.hex", fault(LineFault::kStrayBefore, 30000), LineFault()},
      {"a reply lost", "-uf", "flash.hex", fault(LineFault::kDrop, 30000), LineFault()},
      {"a reply lost, one twice 43 later", "-uf", "flash.hex", fault(LineFault::kDrop, 30000),
       fault(LineFault::kDouble, 30043)},
      {"a reply twice in EEPROM", "-ue", "eeprom.hex", fault(LineFault::kDouble, 1000),
       LineFault()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult result = uploadThroughFaults(c.command, c.file, c.first, c.second);
    if (c.second.kind == LineFault::kNone) {
      // One fault is recovered from: the stretch it hit is read again.
      EXPECT_EQ(result.exitStatus, 0) << result.output;
    } else {
      // Where the second fault lands depends on how many answers were in
      // flight when the first was seen: in the drained bytes (recovered), or
      // in the second reading of the stretch (status 4). Either way the file
      // is right or the earlier one, as checked above; never a shifted one.
      EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 4) << result.output;
    }
  }
}

TEST_F(LinkFaultTest, OutOfStepTwiceInOneStretchEndsTheRunAndKeepsTheEarlierFile) {
  startLine("ATmega644P");
  uploadWithoutFaults("-uf", "flash.hex");
  // The second fault lands in the second reading of the same stretch.
  ProcessResult result = uploadThroughFaults("-uf", "flash.hex", fault(LineFault::kDouble, 30000),
                                             fault(LineFault::kDouble, 31000));
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_NE(result.output.find("\nError - replies from Korvo out of step, read abandoned\n"),
            std::string::npos)
      << result.output;
}

TEST_F(LinkFaultTest, AKorvoThatActsDuringItsBusyWaitNeverLeavesAWrongChipWithStatusZero) {
  // At the datasheet's times, so that the loads meet a target still writing.
  startLine("ATmega644P", {"--acts-during-busy", "--time-scale", "1"});
  const std::vector<uint8_t> image = randomBytes(12288, 22);
  writeFile(dir.file("image.hex"), intelHexText(image));
  relay->start();
  // Without a read-back each page's outcome is awaited before the next
  // page's loads, so nothing is sent while the Korvo waits.
  ProcessResult unverified = run({"-nv", "-dfimage.hex"});
  EXPECT_EQ(unverified.exitStatus, 0) << unverified.output;
  ProcessResult upload = run({"-ufback.hex"});
  SimClock clock;
  AvrTarget chip(*findSimPart("ATmega644P"), clock);
  ASSERT_TRUE(chip.loadState(dir.file("chip.state")));
  for (size_t i = 0; i < image.size(); ++i) {
    ASSERT_EQ(chip.flash()[i], image[i]) << "flash byte " << i;
  }

  // With a read-back the waits overlap the loads; what such a Korvo loses
  // then shows as a mismatch, never as status 0 over a wrong chip.
  const std::vector<uint8_t> second = randomBytes(12288, 23);
  writeFile(dir.file("second.hex"), intelHexText(second));
  ProcessResult verified = run({"-dfsecond.hex"});
  relay->stop();
  korvo.stop();
  ASSERT_TRUE(chip.loadState(dir.file("chip.state")));
  const bool chipRight = std::equal(second.begin(), second.end(), chip.flash().begin());
  EXPECT_TRUE(verified.exitStatus != 0 || chipRight) << verified.output;
}

// --- Ctrl-C in the middle of an upload -----------------------------------

pid_t startTarnwick(const std::string& folder, const std::vector<std::string>& arguments) {
  const std::string program = builtProgram("tarnwick");
  const std::string prefix = "TARNWICK_TTY_PREFIX=" + folder + "/ttyKorvo";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    putenv(const_cast<char*>(prefix.c_str()));
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

TEST_F(LinkFaultTest, AnUploadRightAfterOneCutShortByCtrlCIsRightFiftyTimesInFifty) {
  // A small part, and replies 3 ms late so that answers are on their way
  // when the run is cut short; a USB Korvo still delivers them afterwards.
  startLine("ATmega48", {"--latency-us", "3000"});
  relay->keepLateAnswers();
  uploadWithoutFaults("-uf", "flash.hex");
  relay->start();
  int right50 = 0;
  for (int attempt = 0; attempt < 50; ++attempt) {
    SCOPED_TRACE(attempt);
    writeFile(dir.file("flash.hex"), kOldUpload);
    // Cut at a different point of the upload each time.
    const uint64_t since = relay->programBytes();
    pid_t cut = startTarnwick(dir.path(), {"-ufflash.hex"});
    ASSERT_GT(cut, 0);
    const bool reached = relay->waitForProgramBytes(since, 400 + 397 * attempt % 18000, 20000);
    kill(cut, SIGINT);
    int status = 0;
    waitpid(cut, &status, 0);
    ASSERT_TRUE(reached);
    ProcessResult next = run({"-ufflash.hex"});
    const std::string onDisk = readFile(dir.file("flash.hex"));
    if (next.exitStatus == 0 && onDisk == right["flash.hex"]) ++right50;
    EXPECT_EQ(next.exitStatus, 0) << next.output;
  }
  relay->stop();
  EXPECT_EQ(right50, 50);
}

}  // namespace
