// Parts past row 12, on real firmware built by the AVR toolchain, through both
// programs and their simulators. Per part and program, three runs (each a new
// process, the chip kept in the simulator's state file):
//   1. start-up finds the factory fuses at the defaults; flash and EEPROM are
//      downloaded and verified;
//   2. both are uploaded and compared with avr-objcopy's binaries; the fuses
//      are read, written and read again;
//   3. start-up now finds the fuses off their defaults and says how; the
//      defaults are written back and read.
// Then the part lists, and a part of the user's own parts.txt rehearsed.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/support/avr_examples.h"
#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

struct PartCase {
  Program program;
  const char* part;        // as the simulators are asked for it
  const char* shown;       // the catalogue's name, as the programs print it
  int fuseCount;
  const char* defaults;    // "-gf" text of the defaults: extended high low, or high low
  const char* written;     // the -pfa argument: low,high,extended
  const char* writtenShown;
};

// The ATmega32U4's defaults are its datasheet's factory fuses (7766J, 6.2.1),
// not avr-libc's reserved-clock 51 dd ff.
const PartCase kParts[] = {
    {Program::kTarnwick, "ATmega328P", "ATmega328P", 3, "ff d9 62", "e2,d1,fd", "fd d1 e2"},
    {Program::kTarnwick, "ATtiny85", "ATtiny85", 3, "ff df 62", "e2,d7,fe", "fe d7 e2"},
    {Program::kTarnwick, "ATtiny13A", "ATtiny13/ATtiny13A", 2, "ff 6a", "7a,fb,ff", "fb 7a"},
    {Program::kTarnwick, "ATtiny2313", "ATtiny2313/ATtiny2313A", 3, "ff df 64", "e4,9f,fe",
     "fe 9f e4"},
    {Program::kTarnwick, "ATmega32U4", "ATmega32U4", 3, "f3 99 5e", "de,d9,fb", "fb d9 de"},
    {Program::kTarnwick, "ATmega8", "ATmega8/ATmega8A", 2, "d9 e1", "e1,d1,ff", "d1 e1"},
    {Program::kPellory, "ATmega328P", "ATmega328P", 3, "ff d9 62", "e2,d1,fd", "fd d1 e2"},
    {Program::kPellory, "ATtiny85", "ATtiny85", 3, "ff df 62", "e2,d7,fe", "fe d7 e2"},
    {Program::kPellory, "ATtiny13A", "ATtiny13/ATtiny13A", 2, "ff 6a", "7a,fb,ff", "fb 7a"},
    {Program::kPellory, "ATtiny2313", "ATtiny2313/ATtiny2313A", 3, "ff df 64", "e4,9f,fe",
     "fe 9f e4"},
    {Program::kPellory, "ATmega32U4", "ATmega32U4", 3, "f3 99 5e", "de,d9,fb", "fb d9 de"},
    {Program::kPellory, "ATmega8", "ATmega8/ATmega8A", 2, "d9 e1", "e1,d1,ff", "d1 e1"},
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One program run against a simulated part, with an optional parts.txt that
// only the simulator reads, and the simulator's summary collected.
class SimulatedRuns {
 public:
  SimulatedRuns(Program program, TempDir& dir) : program_(program), dir_(dir) {
    writeCalibrationFor(program, dir.path());
  }

  ProcessResult run(const std::string& part, const std::vector<std::string>& commands,
                    const std::string& simPartsFile = "") {
    ProcessOptions options;
    options.workingDirectory = dir_.path();
    options.timeLimitSeconds = 600;
    options.standardInput = "";
    std::string state = dir_.file("chip.state");
    if (program_ == Program::kPellory) {
      options.environment = simulatedCableEnvironment(part, state);
      options.environment["PELLORY_SIM_STATS"] = dir_.file("stats.txt");
      if (!simPartsFile.empty()) options.environment["PELLORY_SIM_PARTS"] = simPartsFile;
      ProcessResult result = runProcess(builtProgram("pellory"), commands, options);
      summary_ += readFile(dir_.file("stats.txt"));
      std::remove(dir_.file("stats.txt").c_str());
      return result;
    }
    KorvoSimProcess korvo;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    std::vector<std::string> arguments = {"--part", part, "--state", state, "--time-scale", scale};
    if (!simPartsFile.empty()) {
      arguments.insert(arguments.begin(), {"--parts", simPartsFile});
    }
    if (!korvo.start(dir_.file("ttyKorvo1"), arguments)) {
      ProcessResult failed;
      failed.output = korvo.error();
      return failed;
    }
    options.environment["TARNWICK_TTY_PREFIX"] = dir_.file("ttyKorvo");
    ProcessResult result = runProcess(builtProgram("tarnwick"), commands, options);
    korvo.stop();
    summary_ += readFile(korvo.logPath());
    return result;
  }

  // Every run must leave the simulated chip with nothing to complain of.
  void expectNoViolations(size_t runs) const {
    size_t seen = 0;
    for (size_t at = summary_.find("violations"); at != std::string::npos;
         at = summary_.find("violations", at + 1)) {
      ++seen;
      EXPECT_EQ(summary_.compare(at - 3, 13, " 0 violations"), 0) << summary_;
    }
    EXPECT_EQ(seen, runs) << summary_;
  }

 private:
  Program program_;
  TempDir& dir_;
  std::string summary_;
};

// The start-up report of a target whose fuses are at the part's defaults.
std::string defaultsSetLine(const PartCase& c) {
  std::string line = std::string("Target ") + c.shown + " responding - default fuses set";
  if (c.program == Program::kPellory) return line + ": " + c.defaults + "\n";
  return line + "\n";
}

class EveryPartAcceptance : public ::testing::TestWithParam<PartCase> {
 protected:
  void SetUp() override {
    if (!haveTool("avr-gcc") || !haveTool("srec_cat")) {
      GTEST_SKIP() << "needs gcc-avr, avr-libc and srecord (scripts/install-deps.sh)";
    }
  }
  TempDir dir_;
};

TEST_P(EveryPartAcceptance, DownloadUploadFusesAndTheDefaultCheck) {
  const PartCase& c = GetParam();
  std::string examples = builtExamples(lower(c.part));
  ASSERT_FALSE(examples.empty()) << "examples/build.sh failed for " << c.part;
  writeFile(dir_.file("table.hex"), readFile(examples + "/table.hex"));
  writeFile(dir_.file("settings.hex"), readFile(examples + "/eeprom_data.eep.hex"));
  SimulatedRuns sim(c.program, dir_);

  // 1. A factory-fresh chip: its fuses are the defaults. Download and verify.
  ProcessResult download = sim.run(c.part, {"-dftable.hex", "-desettings.hex"});
  ASSERT_FALSE(download.timedOut);
  EXPECT_EQ(download.exitStatus, 0) << download.output;
  EXPECT_TRUE(contains(download.output, defaultsSetLine(c))) << download.output;
  EXPECT_TRUE(contains(download.output, "\nTarget matches table.hex\n")) << download.output;
  EXPECT_TRUE(contains(download.output, "Target matches settings.hex\n")) << download.output;

  // 2. Upload both memories; read, write and read the fuses.
  const std::string written = std::string("-pfa") + c.written;
  ProcessResult upload =
      sim.run(c.part, {"-ufflash.hex", "-ueeeprom.hex", "-gf", written, "-gf"});
  ASSERT_FALSE(upload.timedOut);
  EXPECT_EQ(upload.exitStatus, 0) << upload.output;
  std::string expectedFlash = trimmedOfErased(readFile(examples + "/table.bin"));
  std::string expectedEeprom = trimmedOfErased(readFile(examples + "/eeprom_data.eep.bin"));
  ASSERT_FALSE(expectedFlash.empty());
  EXPECT_TRUE(hexToBinary(dir_.file("flash.hex"), dir_.file("flash.bin")) == expectedFlash)
      << "flash upload differs from avr-objcopy's binary";
  EXPECT_TRUE(hexToBinary(dir_.file("eeprom.hex"), dir_.file("eeprom.bin")) == expectedEeprom)
      << "EEPROM upload differs from the firmware's EEPROM data";
  size_t before = upload.output.find(std::string("Fuse bytes: ") + c.defaults + "\n");
  size_t after = upload.output.find(std::string("Fuse bytes: ") + c.writtenShown + "\n");
  EXPECT_NE(before, std::string::npos) << upload.output;
  EXPECT_NE(after, std::string::npos) << upload.output;
  EXPECT_LT(before, after) << upload.output;

  // 3. Start-up finds the fuses changed; the defaults go back.
  std::vector<std::string> restore = {"-a", "-gf"};
  if (std::string(c.part) == "ATmega328P") restore.insert(restore.end(), {"-gf1", "-gf2", "-gf3"});
  ProcessResult back = sim.run(c.part, restore);
  ASSERT_FALSE(back.timedOut);
  EXPECT_EQ(back.exitStatus, 0) << back.output;
  EXPECT_TRUE(contains(back.output, std::string("Target ") + c.shown +
                                        " responding - default fuses not set\n"
                                        "   Default fuses: " +
                                        c.defaults + "    Target fuses: " + c.writtenShown + "\n"))
      << back.output;
  size_t restored = back.output.find(std::string("Fuse bytes: ") + c.defaults + "\n");
  EXPECT_NE(restored, std::string::npos) << back.output;
  if (std::string(c.part) == "ATmega328P") {
    // Low, high, extended: 62 D9 FF.
    EXPECT_TRUE(contains(back.output, "Fuse byte 1: 62\n")) << back.output;
    EXPECT_TRUE(contains(back.output, "Fuse byte 2: d9\n")) << back.output;
    EXPECT_TRUE(contains(back.output, "Fuse byte 3: ff\n")) << back.output;
  }
  sim.expectNoViolations(3);
}

std::string caseName(const ::testing::TestParamInfo<PartCase>& info) {
  return std::string(info.param.program == Program::kTarnwick ? "tarnwick_" : "pellory_") +
         info.param.part;
}

INSTANTIATE_TEST_SUITE_P(NewParts, EveryPartAcceptance, ::testing::ValuesIn(kParts), caseName);

// Parts users name that have no example firmware: data at the bottom and in
// the last page of flash (past 64 KiB on the AT90USB1286, so the extended
// address is exercised), and EEPROM, read back byte for byte.
struct BareCase {
  Program program;
  const char* part;
  uint32_t flashBytes;
  uint32_t eepromBytes;
};

class BarePartRoundTrip : public ::testing::TestWithParam<BareCase> {
 protected:
  void SetUp() override {
    if (!haveTool("srec_cat")) GTEST_SKIP() << "needs srecord (scripts/install-deps.sh)";
  }
  TempDir dir_;
};

TEST_P(BarePartRoundTrip, ProgramsVerifiesAndReadsBackByteForByte) {
  const BareCase& c = GetParam();
  std::vector<uint8_t> flash(c.flashBytes, 0xFF);
  std::vector<uint8_t> bottom = randomBytes(1000, 7);
  std::vector<uint8_t> top = randomBytes(256, 8);
  std::copy(bottom.begin(), bottom.end(), flash.begin());
  std::copy(top.begin(), top.end(), flash.end() - 256);
  std::vector<uint8_t> eeprom = randomBytes(c.eepromBytes, 9);
  writeFile(dir_.file("image.hex"), intelHexText(flash));
  writeFile(dir_.file("settings.hex"), intelHexText(eeprom));
  SimulatedRuns sim(c.program, dir_);

  ProcessResult download = sim.run(c.part, {"-dfimage.hex", "-desettings.hex"});
  ASSERT_FALSE(download.timedOut);
  EXPECT_EQ(download.exitStatus, 0) << download.output;
  EXPECT_TRUE(contains(download.output, "\nTarget matches image.hex\n")) << download.output;
  EXPECT_TRUE(contains(download.output, "Target matches settings.hex\n")) << download.output;

  ProcessResult upload = sim.run(c.part, {"-ufflash.hex", "-ueeeprom.hex"});
  ASSERT_FALSE(upload.timedOut);
  EXPECT_EQ(upload.exitStatus, 0) << upload.output;
  EXPECT_TRUE(hexToBinary(dir_.file("flash.hex"), dir_.file("flash.bin")) ==
              std::string(flash.begin(), flash.end()))
      << "flash upload differs from the image";
  EXPECT_TRUE(hexToBinary(dir_.file("eeprom.hex"), dir_.file("eeprom.bin")) ==
              std::string(eeprom.begin(), eeprom.end()))
      << "EEPROM upload differs from the file";
  sim.expectNoViolations(2);
}

const BareCase kBareParts[] = {
    {Program::kTarnwick, "ATmega16U2", 16384, 512},
    {Program::kTarnwick, "ATmega324P", 32768, 1024},
    {Program::kTarnwick, "AT90USB1286", 131072, 4096},
    {Program::kPellory, "ATmega16U2", 16384, 512},
    {Program::kPellory, "ATmega324P", 32768, 1024},
    {Program::kPellory, "AT90USB1286", 131072, 4096},
};

std::string bareCaseName(const ::testing::TestParamInfo<BareCase>& info) {
  return std::string(info.param.program == Program::kTarnwick ? "tarnwick_" : "pellory_") +
         info.param.part;
}

INSTANTIATE_TEST_SUITE_P(UsersParts, BarePartRoundTrip, ::testing::ValuesIn(kBareParts),
                         bareCaseName);

// The prebuilt HEX files in examples/ are what examples/build.sh makes.
TEST(PrebuiltExamples, AreWhatTheToolchainBuilds) {
  if (!haveAvrToolchain()) GTEST_SKIP() << "needs gcc-avr and avr-libc";
  for (const char* mcu :
       {"atmega328p", "attiny85", "attiny13a", "attiny2313", "atmega32u4", "atmega8"}) {
    SCOPED_TRACE(mcu);
    std::string built = builtExamples(mcu);
    ASSERT_FALSE(built.empty());
    std::string prebuilt = std::string(AVRISP_SOURCE_DIR) + "/examples/prebuilt/" + mcu;
    EXPECT_EQ(readFile(prebuilt + "/blink.hex"), readFile(built + "/blink.hex"));
    EXPECT_EQ(readFile(prebuilt + "/eeprom_data.eep.hex"),
              readFile(built + "/eeprom_data.eep.hex"));
  }
}

// The first whitespace-separated field of every line after the header.
std::vector<std::string> listedNames(const std::string& output) {
  std::vector<std::string> names;
  size_t at = output.find('\n');
  while (at != std::string::npos && at + 1 < output.size()) {
    size_t end = output.find('\n', at + 1);
    std::string line = output.substr(at + 1, end - at - 1);
    names.push_back(line.substr(0, line.find(' ')));
    at = end;
  }
  return names;
}

TEST(PartLists, BothProgramsAndTheSimulatorListEveryPart) {
  TempDir dir;
  ProcessOptions options;
  options.workingDirectory = dir.path();
  options.standardInput = "";
  options.environment["XDG_CONFIG_HOME"] = dir.file("config");
  options.environment["AVRISP_ETC_ROOT"] = dir.file("etc");
  std::map<std::string, std::vector<std::string>> lists;
  for (const char* program : {"tarnwick", "pellory", "sim/korvo-sim"}) {
    ProcessResult result = runProcess(builtProgram(program), {"--list-parts"}, options);
    EXPECT_EQ(result.exitStatus, 0) << program << result.output;
    EXPECT_EQ(result.output.rfind("name ", 0), 0u) << result.output;
    lists[program] = listedNames(result.output);
    // The ATmega164A and 164PA under their datasheet signatures, not avr-libc's.
    EXPECT_TRUE(contains(result.output, "\nATmega164A ")) << program;
    EXPECT_TRUE(contains(result.output.substr(result.output.find("\nATmega164A ")), " 1E940F "));
    EXPECT_TRUE(contains(result.output, "/ATmega164PA ")) << program;
    EXPECT_TRUE(contains(result.output.substr(result.output.find("/ATmega164PA ")), " 1E940A "));
    EXPECT_GE(lists[program].size(), 100u) << program;
  }
  auto has = [](const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& listed : names) {
      if (listed == name) return true;
      // A joined name lists each part whole, between slashes.
      std::string joined = "/" + listed + "/";
      if (joined.find("/" + name + "/") != std::string::npos) return true;
    }
    return false;
  };
  for (const char* name : {"ATmega16", "ATmega32", "ATmega48", "ATmega88", "ATmega168",
                           "ATmega644", "ATmega644P", "ATmega128", "ATmega1280", "ATmega1281",
                           "ATmega1284P", "ATmega2560", "ATmega2561", "AT90USB162", "ATmega328P",
                           "ATtiny85", "ATtiny13A", "ATtiny2313", "ATmega32U4", "ATmega8",
                           "ATmega16U2", "ATmega324P", "AT90USB1286", "ATtiny441", "ATtiny841",
                           "ATmega164A", "ATmega164PA"}) {
    for (const auto& [program, names] : lists) EXPECT_TRUE(has(names, name)) << program << name;
  }
  // The thirteen rows first, in each program's own order.
  EXPECT_EQ(lists["tarnwick"][10], "ATmega1284P");
  EXPECT_EQ(lists["pellory"][12], "AT90USB162");
  EXPECT_EQ(lists["tarnwick"].size(), lists["pellory"].size());
}

// A part newer than the installed avr-libc, from a parts.txt: the programs
// read theirs from the current folder, the simulators theirs from a file
// named to them. A bad line and a replaced part are reported in one line each.
TEST(UserParts, APartFromPartsTxtIsProgrammedThroughBothPrograms) {
  if (!haveTool("avr-gcc") || !haveTool("srec_cat")) GTEST_SKIP() << "needs the AVR toolchain";
  const std::string parts =
      "# name      signature  flash  page  EEPROM  fuses  defaults (low high extended)\n"
      "ATmega328PB 1E 95 16   32768  64    1024    3      62 D9 F7\n"
      "Broken 1E 95\n"
      "MyTiny85 1E930B 8192 32 512 3 -\n"
      "My32U4 1E9587 32768 64 1024 3 51 DD FF\n";
  for (Program program : {Program::kTarnwick, Program::kPellory}) {
    SCOPED_TRACE(program == Program::kTarnwick ? "tarnwick" : "pellory");
    TempDir dir;
    writeFile(dir.file("parts.txt"), parts);
    mkdir(dir.file("sim").c_str(), 0755);
    writeFile(dir.file("sim/parts.txt"), parts);
    writeFile(dir.file("blink.hex"),
              readFile(std::string(AVRISP_SOURCE_DIR) + "/examples/prebuilt/atmega328p/blink.hex"));
    SimulatedRuns sim(program, dir);
    ProcessResult run =
        sim.run("ATmega328PB", {"-dfblink.hex", "-gf", "-a"}, dir.file("sim/parts.txt"));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "./parts.txt line 3: the signature is not three hexadecimal "
                                     "bytes - line skipped\n"))
        << run.output;
    EXPECT_TRUE(contains(run.output, "./parts.txt line 4: MyTiny85 replaces the built-in ATtiny85 "
                                     "(1E 93 0B) for this run\n"))
        << run.output;
    EXPECT_TRUE(contains(run.output, "Target ATmega328PB responding - default fuses set"))
        << run.output;
    EXPECT_TRUE(contains(run.output, "\nTarget matches blink.hex\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "Fuse bytes: f7 d9 62\n")) << run.output;
    EXPECT_TRUE(contains(run.output,
                         "No fuse bit table for this part - written as given, unguarded\n"))
        << run.output;

    // Defaults whose clock code the datasheet calls reserved are never written.
    std::remove(dir.file("chip.state").c_str());
    ProcessResult reserved = sim.run("My32U4", {"-a"}, dir.file("sim/parts.txt"));
    EXPECT_NE(reserved.exitStatus, 0) << reserved.output;
    EXPECT_TRUE(contains(reserved.output, "Default fuses of My32U4 select a reserved clock code "
                                          "(CKSEL 0001) - fuses not written\n"))
        << reserved.output;

    // A part with no defaults known: start-up says so; "a" refuses.
    std::remove(dir.file("chip.state").c_str());
    ProcessResult tiny = sim.run("MyTiny85", {"-a"}, dir.file("sim/parts.txt"));
    EXPECT_TRUE(contains(tiny.output,
                         "Target MyTiny85 responding - no default fuses are known for this part\n"))
        << tiny.output;
    EXPECT_TRUE(contains(tiny.output, "No default fuses are known for MyTiny85 - fuses not written\n"))
        << tiny.output;

    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.standardInput = "";
    ProcessResult list = runProcess(
        builtProgram(program == Program::kTarnwick ? "tarnwick" : "pellory"), {"--list-parts"},
        options);
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_TRUE(contains(list.output, "ATmega328PB")) << list.output;
    EXPECT_TRUE(contains(list.output, "./parts.txt")) << list.output;
  }
}

}  // namespace
