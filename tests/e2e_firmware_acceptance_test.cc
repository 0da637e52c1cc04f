// Real firmware, built by the AVR toolchain, through both programs and their
// simulators: one run downloads flash and EEPROM and verifies them, a second
// run (a new process, the chip kept in the simulator's state file) uploads both,
// and the uploads are checked against the toolchain's own binary output with an
// independent HEX implementation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/part_record.h"
#include "tests/support/avr_examples.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

struct AcceptanceCase {
  Program program;
  int row;
};

std::string partName(const AcceptanceCase& c) {
  const PartRows& rows = c.program == Program::kTarnwick ? korvoPartRows() : marlowPartRows();
  return rows[static_cast<size_t>(c.row)].name;
}

class FirmwareAcceptance : public ::testing::TestWithParam<AcceptanceCase> {
 protected:
  void SetUp() override {
    if (!haveTool("avr-gcc") || !haveTool("srec_cat")) {
      GTEST_SKIP() << "needs gcc-avr, avr-libc and srecord (scripts/install-deps.sh)";
    }
    writeCalibrationFor(GetParam().program, dir_.path());
  }

  ProcessResult run(const std::vector<std::string>& commands) {
    const AcceptanceCase& c = GetParam();
    ProcessOptions options;
    options.workingDirectory = dir_.path();
    options.timeLimitSeconds = 600;
    std::string state = dir_.file("chip.state");
    if (c.program == Program::kPellory) {
      options.environment = simulatedCableEnvironment(partName(c), state);
      options.environment["PELLORY_SIM_STATS"] = dir_.file("stats.txt");
      ProcessResult result = runProcess(builtProgram("pellory"), commands, options);
      simulatorSummary_ += readFile(dir_.file("stats.txt"));
      std::remove(dir_.file("stats.txt").c_str());
      return result;
    }
    KorvoSimProcess korvo;
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", kSimTimeScale);
    if (!korvo.start(dir_.file("ttyKorvo1"),
                     {"--part", partName(c), "--state", state, "--time-scale", scale})) {
      ProcessResult failed;
      failed.output = korvo.error();
      return failed;
    }
    options.environment["TARNWICK_TTY_PREFIX"] = dir_.file("ttyKorvo");
    ProcessResult result = runProcess(builtProgram("tarnwick"), commands, options);
    korvo.stop();
    simulatorSummary_ += readFile(korvo.logPath());
    return result;
  }

  // Every run must leave the simulated chip with nothing to complain of.
  void expectNoViolations() {
    size_t runs = 0;
    for (size_t at = simulatorSummary_.find("violations"); at != std::string::npos;
         at = simulatorSummary_.find("violations", at + 1)) {
      ++runs;
      EXPECT_EQ(simulatorSummary_.compare(at - 3, 13, " 0 violations"), 0) << simulatorSummary_;
    }
    EXPECT_EQ(runs, 2u) << simulatorSummary_;
  }

  TempDir dir_;
  std::string simulatorSummary_;
};

TEST_P(FirmwareAcceptance, DownloadVerifyThenUploadInANewRun) {
  std::string name = partName(GetParam());
  std::string examples = builtExamples(lower(name));
  ASSERT_FALSE(examples.empty()) << "examples/build.sh failed for " << name;
  writeFile(dir_.file("table.hex"), readFile(examples + "/table.hex"));
  writeFile(dir_.file("settings.hex"), readFile(examples + "/eeprom_data.eep.hex"));

  ProcessResult download = run({"-dftable.hex", "-desettings.hex"});
  ASSERT_FALSE(download.timedOut);
  EXPECT_EQ(download.exitStatus, 0) << download.output;
  EXPECT_NE(download.output.find("\nTarget matches table.hex\n"), std::string::npos)
      << download.output;
  EXPECT_NE(download.output.find("Target matches settings.hex\n"), std::string::npos)
      << download.output;

  ProcessResult upload = run({"-ufflash4.hex", "-t2", "-ufflash2.hex", "-ueeeprom.hex"});
  ASSERT_FALSE(upload.timedOut);
  EXPECT_EQ(upload.exitStatus, 0) << upload.output;

  std::string expectedFlash = trimmedOfErased(readFile(examples + "/table.bin"));
  std::string expectedEeprom = trimmedOfErased(readFile(examples + "/eeprom_data.eep.bin"));
  ASSERT_FALSE(expectedFlash.empty());
  EXPECT_TRUE(hexToBinary(dir_.file("flash4.hex"), dir_.file("flash4.bin")) == expectedFlash)
      << "flash upload (type 04) differs from the firmware";
  EXPECT_TRUE(hexToBinary(dir_.file("flash2.hex"), dir_.file("flash2.bin")) == expectedFlash)
      << "flash upload (type 02) differs from the firmware";
  EXPECT_TRUE(hexToBinary(dir_.file("eeprom.hex"), dir_.file("eeprom.bin")) == expectedEeprom)
      << "EEPROM upload differs from the firmware's EEPROM data";

  expectNoViolations();
  if (expectedFlash.size() > 0x10000) {
    EXPECT_NE(readFile(dir_.file("flash4.hex")).find(":02000004"), std::string::npos);
    EXPECT_NE(readFile(dir_.file("flash2.hex")).find(":02000002"), std::string::npos);
  }
}

// The build's ELF file given straight to the programs: flash and EEPROM come
// from its segments, and the uploads equal avr-objcopy's binary output.
class ElfFirmware : public FirmwareAcceptance {};

TEST_P(ElfFirmware, ElfDownloadsToFlashAndEeprom) {
  std::string name = partName(GetParam());
  std::string examples = builtExamples(lower(name));
  ASSERT_FALSE(examples.empty()) << "examples/build.sh failed for " << name;
  writeFile(dir_.file("table.elf"), readFile(examples + "/table.elf"));
  writeFile(dir_.file("settings.elf"), readFile(examples + "/eeprom_data.elf"));

  ProcessResult download = run({"-dftable.elf", "-desettings.elf"});
  ASSERT_FALSE(download.timedOut);
  EXPECT_EQ(download.exitStatus, 0) << download.output;
  EXPECT_NE(download.output.find("\nTarget matches table.elf\n"), std::string::npos)
      << download.output;
  EXPECT_NE(download.output.find("Target matches settings.elf\n"), std::string::npos)
      << download.output;

  ProcessResult upload = run({"-ufflash.hex", "-ueeeprom.hex"});
  ASSERT_FALSE(upload.timedOut);
  EXPECT_EQ(upload.exitStatus, 0) << upload.output;
  std::string expectedFlash = trimmedOfErased(readFile(examples + "/table.bin"));
  std::string expectedEeprom = trimmedOfErased(readFile(examples + "/eeprom_data.eep.bin"));
  ASSERT_FALSE(expectedFlash.empty());
  EXPECT_TRUE(hexToBinary(dir_.file("flash.hex"), dir_.file("flash.bin")) == expectedFlash)
      << "flash upload differs from avr-objcopy's binary of the ELF";
  EXPECT_TRUE(hexToBinary(dir_.file("eeprom.hex"), dir_.file("eeprom.bin")) == expectedEeprom)
      << "EEPROM upload differs from avr-objcopy's binary of the ELF's EEPROM";
  expectNoViolations();
}

// The same firmware as raw binary (avr-objcopy's) and as S-records (srec_cat's
// from the HEX, avr-objcopy's from the ELF): each downloads and verifies, and
// uploads to a binary, an S-record file and standard output all equal
// avr-objcopy's binary.
class BinaryAndSrecFirmware : public FirmwareAcceptance {
 protected:
  std::string tool(const std::string& command) {
    if (std::system((command + " 2>&1").c_str()) != 0) ADD_FAILURE() << command;
    return command;
  }
};

TEST_P(BinaryAndSrecFirmware, DownloadsVerifyAndUploadsEqualTheToolchainsBinary) {
  if (!haveTool("avr-objcopy")) GTEST_SKIP() << "needs binutils-avr";
  std::string name = partName(GetParam());
  std::string examples = builtExamples(lower(name));
  ASSERT_FALSE(examples.empty()) << "examples/build.sh failed for " << name;
  writeFile(dir_.file("table.bin"), readFile(examples + "/table.bin"));
  tool("srec_cat " + examples + "/table.hex -intel -o " + dir_.file("table.srec") + " -motorola");
  tool("avr-objcopy -O srec -j .eeprom --change-section-lma .eeprom=0 " + examples +
       "/eeprom_data.elf " + dir_.file("settings.s19"));
  writeFile(dir_.file("settings.bin"), readFile(examples + "/eeprom_data.eep.bin"));

  ProcessResult download = run({"-dftable.bin", "-desettings.s19"});
  ASSERT_FALSE(download.timedOut);
  EXPECT_EQ(download.exitStatus, 0) << download.output;
  EXPECT_NE(download.output.find("\nTarget matches table.bin\n"), std::string::npos)
      << download.output;
  EXPECT_NE(download.output.find("Target matches settings.s19\n"), std::string::npos)
      << download.output;

  ProcessResult again = run({"-dftable.srec", "-desettings.bin"});
  ASSERT_FALSE(again.timedOut);
  EXPECT_EQ(again.exitStatus, 0) << again.output;
  EXPECT_NE(again.output.find("\nTarget matches table.srec\n"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("Target matches settings.bin\n"), std::string::npos) << again.output;

  // Standard output carries only the file; the console text is on standard error.
  ProcessResult upload = run({"-ufflash.bin", "-ufflash.srec", "-uf-", "-ueeeprom.s19"});
  ASSERT_FALSE(upload.timedOut);
  EXPECT_EQ(upload.exitStatus, 0) << upload.errorOutput;
  EXPECT_NE(upload.errorOutput.find("Write Flash/EEPROM data to -\n"), std::string::npos)
      << upload.errorOutput;
  writeFile(dir_.file("stdout.hex"), upload.output);

  std::string expectedFlash = trimmedOfErased(readFile(examples + "/table.bin"));
  std::string expectedEeprom = trimmedOfErased(readFile(examples + "/eeprom_data.eep.bin"));
  ASSERT_FALSE(expectedFlash.empty());
  EXPECT_TRUE(readFile(dir_.file("flash.bin")) == expectedFlash)
      << "binary upload differs from avr-objcopy's binary";
  tool("srec_cat " + dir_.file("flash.srec") + " -motorola -o " + dir_.file("srec.bin") +
       " -binary");
  EXPECT_TRUE(readFile(dir_.file("srec.bin")) == expectedFlash)
      << "S-record upload differs from avr-objcopy's binary";
  EXPECT_TRUE(hexToBinary(dir_.file("stdout.hex"), dir_.file("stdout.bin")) == expectedFlash)
      << "upload to standard output differs from avr-objcopy's binary";
  tool("srec_cat " + dir_.file("eeprom.s19") + " -motorola -o " + dir_.file("eeprom.bin") +
       " -binary");
  EXPECT_TRUE(readFile(dir_.file("eeprom.bin")) == expectedEeprom)
      << "EEPROM S-record upload differs from the firmware's EEPROM data";
}

AcceptanceCase caseFor(Program program, const std::string& part) {
  const PartRows& rows = program == Program::kTarnwick ? korvoPartRows() : marlowPartRows();
  for (int row = 0; row < kCatalogueRows; ++row) {
    if (rows[static_cast<size_t>(row)].name == part) return {program, row};
  }
  ADD_FAILURE() << part << " is not in the catalogue";
  return {program, 0};
}

// A part above 128 KB, where the ELF's addresses need the extended records,
// and a small one, through each program.
std::vector<AcceptanceCase> elfCases() {
  return {caseFor(Program::kTarnwick, "ATmega2560"), caseFor(Program::kTarnwick, "ATmega48"),
          caseFor(Program::kPellory, "ATmega2560"), caseFor(Program::kPellory, "ATmega48")};
}

std::vector<AcceptanceCase> allCases() {
  std::vector<AcceptanceCase> cases;
  for (Program program : {Program::kTarnwick, Program::kPellory}) {
    for (int row = 0; row < kCatalogueRows; ++row) cases.push_back({program, row});
  }
  return cases;
}

std::string caseName(const ::testing::TestParamInfo<AcceptanceCase>& info) {
  return std::string(info.param.program == Program::kTarnwick ? "tarnwick_" : "pellory_") +
         partName(info.param);
}

INSTANTIATE_TEST_SUITE_P(EveryPart, FirmwareAcceptance, ::testing::ValuesIn(allCases()), caseName);
INSTANTIATE_TEST_SUITE_P(LargeAndSmall, ElfFirmware, ::testing::ValuesIn(elfCases()), caseName);
INSTANTIATE_TEST_SUITE_P(LargeAndSmall, BinaryAndSrecFirmware, ::testing::ValuesIn(elfCases()),
                         caseName);

}  // namespace
