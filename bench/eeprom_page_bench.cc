// A first download of a 1 KB EEPROM file with no 0xFF byte onto an
// ATmega328P, through korvo-sim pacing bytes at 115200 baud with the chip at
// datasheet speed, at 1 ms and 16 ms USB round trips, without and with
// verification. Prints each time and its ratio to the chip's own limit, 256
// page writes of t_WD_EEPROM, 3.6 ms (8271H-AVR-08/2014 Table 28-18), and to
// the 2.5 s a verified download should stay within. Asserts nothing.
//
// Usage: eeprom_page_bench

#include <cstdio>
#include <string>
#include <vector>

#include "bench/tarnwick_run.h"
#include "tests/support/hex_text.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kPart = "ATmega328P";
constexpr size_t kFileBytes = 1024;
constexpr double kChipLimitSeconds = 256 * 0.0036;
constexpr double kVerifiedBudgetSeconds = 2.5;

// Two files that differ in every byte, neither holding 0xFF, so each
// download onto what the other left writes every page.
void writeFiles(const TempDir& dir) {
  std::vector<uint8_t> first = randomBytes(kFileBytes, 41);
  std::vector<uint8_t> second(kFileBytes);
  for (size_t i = 0; i < kFileBytes; ++i) {
    if (first[i] == 0xFF) first[i] = 0x00;
    second[i] = static_cast<uint8_t>(first[i] ^ (first[i] == 0xA5 ? 0x33 : 0x5A));
  }
  writeFile(dir.file("first.hex"), intelHexText(first));
  writeFile(dir.file("second.hex"), intelHexText(second));
}

void report(const char* what, const RunCost& cost) {
  std::printf("  %-22s %6.2f s  chip limit x%.2f  budget x%.2f  (status %d)\n", what,
              cost.wallSeconds, cost.wallSeconds / kChipLimitSeconds,
              cost.wallSeconds / kVerifiedBudgetSeconds, cost.status);
}

}  // namespace

int main() {
  std::printf("1 KB EEPROM, %s at datasheet speed, chip limit %.2f s\n", kPart, kChipLimitSeconds);
  for (int latency : {1000, 16000}) {
    TempDir dir;
    writeFiles(dir);
    KorvoSimProcess korvo;
    if (!startPacedKorvo(dir, kPart, latency, korvo)) return 1;
    std::printf("tarnwick, 115200 baud, round trip %d us:\n", latency);
    const std::string prefix = dir.file("ttyKorvo");
    report("-nv", runTarnwick(dir.path(), prefix, {"-nv", "-defirst.hex"}));
    report("verified", runTarnwick(dir.path(), prefix, {"-desecond.hex"}));
    // The same file again writes nothing: what the two reads and the start
    // cost on their own.
    report("verified, no change", runTarnwick(dir.path(), prefix, {"-desecond.hex"}));
    korvo.stop();
  }
  return 0;
}
