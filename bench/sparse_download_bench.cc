// Downloads whose time follows their data. A 2 KB image at the top of an
// ATmega32's 32 KB flash (a bootloader's place) is set against the same 2 KB
// at address 0, with and without verification: the pages below the image are
// left to the chip erase, so the two should cost about the same. A 1 KB
// EEPROM file downloaded a second time is set against the first download:
// the bytes already hold their values and are not written again. tarnwick
// runs through korvo-sim pacing bytes at 115200 baud with 1 ms and 16 ms
// round trips, pellory through the simulated cable; both chips at datasheet
// speed. Prints ratios; asserts nothing.
//
// Usage: sparse_download_bench

#include <cstdio>
#include <string>
#include <vector>

#include "bench/tarnwick_run.h"
#include "tests/support/hex_text.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kPart = "ATmega32";
constexpr uint32_t kFlashBytes = 0x8000;
constexpr size_t kImageBytes = 2048;
constexpr size_t kEepromBytes = 1024;

void writeFiles(const TempDir& dir) {
  const std::vector<uint8_t> image = randomBytes(kImageBytes, 31);
  writeFile(dir.file("bottom.hex"), intelHexText(image, 0));
  writeFile(dir.file("top.hex"),
            intelHexText(image, kFlashBytes - static_cast<uint32_t>(kImageBytes)));
  writeFile(dir.file("eeprom.hex"), intelHexText(randomBytes(kEepromBytes, 32)));
}

void compare(const char* what, const RunCost& against, const RunCost& measured) {
  std::printf("  %-34s %7.2f s against %7.2f s  ratio %.3f  (status %d, %d)\n", what,
              measured.wallSeconds, against.wallSeconds,
              against.wallSeconds > 0 ? measured.wallSeconds / against.wallSeconds : 0.0,
              measured.status, against.status);
}

// The four flash downloads and the two EEPROM ones through `run`.
template <typename Run>
void measure(Run run) {
  RunCost bottom = run({"-nv", "-dfbottom.hex"});
  RunCost top = run({"-nv", "-dftop.hex"});
  compare("2 KB at the top / at 0, -nv", bottom, top);
  bottom = run({"-dfbottom.hex"});
  top = run({"-dftop.hex"});
  compare("2 KB at the top / at 0, verified", bottom, top);
  RunCost first = run({"-deeeprom.hex"});
  RunCost second = run({"-deeeprom.hex"});
  compare("1 KB EEPROM again / first time", first, second);
}

}  // namespace

int main() {
  std::printf("%s at datasheet speed\n", kPart);
  for (int latency : {1000, 16000}) {
    TempDir dir;
    writeFiles(dir);
    KorvoSimProcess korvo;
    if (!startPacedKorvo(dir, kPart, latency, korvo)) return 1;
    std::printf("tarnwick, 115200 baud, round trip %d us:\n", latency);
    const std::string prefix = dir.file("ttyKorvo");
    measure([&](const std::vector<std::string>& commands) {
      return runTarnwick(dir.path(), prefix, commands);
    });
    korvo.stop();
  }

  TempDir dir;
  writeRealCalibration(dir.path());
  writeFiles(dir);
  auto environment = simulatedCableEnvironment(kPart, dir.file("chip.state"));
  environment["PELLORY_SIM_TIME_SCALE"] = "1";
  std::printf("pellory, simulated cable:\n");
  measure([&](const std::vector<std::string>& commands) {
    return runProgram("pellory", dir.path(), environment, commands);
  });
  return 0;
}
