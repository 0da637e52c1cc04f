// Firmware built by avr-gcc through both programs and their simulators: an ELF
// for the ATtiny85 is refused on an ATmega328P before anything is erased; one
// ELF with FUSES and LOCKBITS programs the whole chip in one run; and a chip
// saved whole to an ELF and restored onto a blank one saves the same again.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/avr_examples.h"
#include "tests/support/run_process.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

const char kFirmware[] = R"(
#include <avr/io.h>
#include <avr/eeprom.h>
FUSES = {0xE2, 0xD9, 0xFD};
LOCKBITS = 0xFE;  /* LB1 only: the chip can still be read back */
EEMEM unsigned char settings[8] = {1, 2, 3, 4, 5, 6, 7, 8};
int main(void) {
  DDRB = 1;
  for (;;) PORTB ^= eeprom_read_byte(&settings[1]);
}
)";

class WholeChipRun : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    if (!haveAvrToolchain()) GTEST_SKIP() << "needs gcc-avr, avr-libc and binutils-avr";
    ::mkdir(blank().c_str(), 0755);
    for (const std::string& folder : {dir.path(), blank()}) writeCalibrationFor(GetParam(), folder);
    writeFile(dir.file("fw.c"), kFirmware);
    build("atmega328p", "#include <avr/signature.h>\n", "right.elf");
    build("attiny85", "#include <avr/signature.h>\n", "tiny.elf");
    build("attiny85", "", "tinyplain.elf");
  }
  void build(const std::string& mcu, const std::string& prefix, const std::string& elf) {
    writeFile(dir.file("source.c"), prefix + readFile(dir.file("fw.c")));
    const std::string command = "avr-gcc -mmcu=" + mcu + " -Os -o " + dir.file(elf) + " " +
                                dir.file("source.c") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  std::string blank() const { return dir.file("blank"); }

  ProcessResult run(const std::string& folder, const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.timeLimitSeconds = 300;
    return runOnSimulatedPart(GetParam(), "ATmega328P", folder, arguments, options);
  }

  TempDir dir;
};

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_P(WholeChipRun, FirmwareForAnotherPartIsRefusedBeforeTheErase) {
  ProcessResult first = run(dir.path(), {"-dfright.elf"});
  ASSERT_EQ(first.exitStatus, 0) << first.output;
  EXPECT_TRUE(has(first.output, "Target matches right.elf")) << first.output;
  EXPECT_TRUE(has(first.output,
                  "Note: .fuse and .lock of right.elf not written "
                  "(dcright.elf writes them after the flash)\n"));
  const std::string before = readFile(dir.file("chip.state"));

  // One run each: after a refusal, a run writes nothing more.
  for (const char* command : {"-dftiny.elf", "-dftinyplain.elf", "-detiny.elf"}) {
    ProcessResult refused = run(dir.path(), {command});
    EXPECT_EQ(refused.exitStatus, 2) << refused.output;
    const std::string file = std::string(command + 3);
    EXPECT_TRUE(has(refused.output, file +
                                        " was built for ATtiny85 (1E 93 0B); the target is "
                                        "ATmega328P (1E 95 0F) - nothing programmed\n"))
        << refused.output;
    EXPECT_FALSE(has(refused.output, "Erase chip")) << refused.output;
    EXPECT_FALSE(has(refused.output, "\nProgramming\n")) << refused.output;
  }
  EXPECT_TRUE(readFile(dir.file("chip.state")) == before) << "the chip was changed";
}

TEST_P(WholeChipRun, OneElfProgramsTheWholeChipAndASavedChipRestoresOntoABlankOne) {
  ProcessResult whole = run(dir.path(), {"-dcright.elf", "-gf", "-gl", "-ucsaved.elf"});
  ASSERT_EQ(whole.exitStatus, 0) << whole.output;
  EXPECT_TRUE(has(whole.output, "\nTarget matches right.elf\n")) << whole.output;  // flash
  EXPECT_TRUE(has(whole.output, "Bytes written to target 8\n")) << whole.output;   // EEPROM
  EXPECT_TRUE(has(whole.output, "Write fuse bytes: e2 d9 fd\n")) << whole.output;
  EXPECT_TRUE(has(whole.output, "Fuse bytes: fd d9 e2\n")) << whole.output;
  EXPECT_TRUE(has(whole.output, "Fuse lock byte fe\n")) << whole.output;

  writeFile(blank() + "/saved.elf", readFile(dir.file("saved.elf")));
  ProcessResult restore = run(blank(), {"-dcsaved.elf", "-ucagain.elf"});
  ASSERT_EQ(restore.exitStatus, 0) << restore.output;
  // Flash, EEPROM, fuses, lock and signature, byte for byte.
  EXPECT_TRUE(readFile(blank() + "/again.elf") == readFile(dir.file("saved.elf")));
  // To standard output, the console's text kept off it.
  ProcessResult piped = run(blank(), {"-uc-"});
  EXPECT_EQ(piped.exitStatus, 0) << piped.errorOutput;
  EXPECT_TRUE(piped.output == readFile(dir.file("saved.elf")));

  if (!haveTool("avr-objdump")) return;
  const std::string command =
      "avr-objdump -h " + dir.file("saved.elf") + " > " + dir.file("headers.txt");
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string headers = readFile(dir.file("headers.txt"));
  for (const char* section : {" .text ", " .eeprom ", " .fuse ", " .lock ", " .signature "}) {
    EXPECT_TRUE(has(headers, section)) << section << " missing:\n" << headers;
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, WholeChipRun,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
