// tarnwick against the line to the Korvo: at 115200 baud the line carries
// 11,520 bytes a second and every flash byte costs a five-byte frame, so no
// transfer can beat 2,304 bytes a second. korvo-sim paces every byte at the
// baud rate and holds each reply for a USB round trip: 1 ms (USB CDC) and
// 16 ms (an FTDI adapter's default latency timer). The chip runs at its
// datasheet times. Each whole tarnwick run, start-up included, is set against
// the time the wire alone needs for its memory bytes; the processor share of
// each run is printed beside it. For the upload, the known-answer checks that
// keep the replies in step are counted from korvo-sim's trace and set against
// the frames that read memory. Prints ratios; asserts nothing.
//
// Usage: korvo_wire_bench [DOWNLOAD_BYTES]   (12288 by default)

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/tarnwick_run.h"
#include "tests/support/hex_text.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double kLineBytesPerSecond = 11520.0;
constexpr double kFrameBytes = 5.0;
constexpr double kWireBytesPerSecond = kLineBytesPerSecond / kFrameBytes;
constexpr long kFlashBytes = 65536;  // the ATmega644P

void report(const char* what, double memoryBytes, const RunCost& cost) {
  double wire = memoryBytes / kWireBytesPerSecond;
  std::printf("  %-26s wall %7.2f s  wire %7.2f s  ratio %.3f  CPU share %.3f  (status %d)\n", what,
              cost.wallSeconds, wire, cost.wallSeconds > 0 ? wire / cost.wallSeconds : 0.0,
              cost.cpuShare(), cost.status);
}

// Query frames in korvo-sim's trace from byte `from` on: those that read
// signature byte 0 (the known-answer checks, and the few of identification)
// and those that read memory.
void reportChecks(const std::string& trace, std::streamoff from) {
  std::ifstream in(trace);
  in.seekg(from);
  long checks = 0;
  long reads = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (line == "34 30 00 00 00") ++checks;
    if (line.rfind("34 20 ", 0) == 0 || line.rfind("34 28 ", 0) == 0) ++reads;
  }
  std::printf("  %-26s %ld checks for %ld reads: %.2f%% of the read's wire time\n",
              "upload, framing checks", checks, reads,
              reads > 0 ? 100.0 * static_cast<double>(checks) / static_cast<double>(reads) : 0.0);
}

std::streamoff fileSize(const std::string& path) {
  std::ifstream in(path, std::ios::ate);
  return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  long downloadBytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 12288;
  if (downloadBytes <= 0 || downloadBytes > kFlashBytes) {
    std::fprintf(stderr, "korvo_wire_bench: the download size must be 1 to %ld bytes\n",
                 kFlashBytes);
    return 2;
  }
  std::printf("ATmega644P at datasheet speed, 115200 baud, wire limit %.0f bytes/s\n",
              kWireBytesPerSecond);
  for (int latency : {1000, 16000}) {
    TempDir dir;
    writeRealCalibration(dir.path());
    writeFile(dir.file("sfconfig.txt"), "comchannel com2\nbaudrate 115200\n");
    writeFile(dir.file("image.hex"),
              intelHexText(randomBytes(static_cast<size_t>(downloadBytes), 14)));
    KorvoSimProcess korvo;
    if (!korvo.start(dir.file("ttyKorvo1"),
                     {"--part", "ATmega644P", "--time-scale", "1", "--baud-pacing", "--latency-us",
                      std::to_string(latency), "--state", dir.file("chip.state"), "--trace",
                      dir.file("trace.txt")})) {
      std::fprintf(stderr, "korvo_wire_bench: %s\n", korvo.error().c_str());
      return 1;
    }
    const std::string prefix = dir.file("ttyKorvo");
    std::printf("round trip %d us:\n", latency);
    report("download -nv", static_cast<double>(downloadBytes),
           runTarnwick(dir.path(), prefix, {"-nv", "-dfimage.hex"}));
    report("download and verify", 2.0 * static_cast<double>(downloadBytes),
           runTarnwick(dir.path(), prefix, {"-dfimage.hex"}));
    const std::streamoff traced = fileSize(dir.file("trace.txt"));
    report("upload, whole flash", static_cast<double>(kFlashBytes),
           runTarnwick(dir.path(), prefix, {"-ufback.hex"}));
    reportChecks(dir.file("trace.txt"), traced);
    korvo.stop();
  }
  return 0;
}
