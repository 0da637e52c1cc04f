// Reading memory back through the Korvo: one query frame and one answer at a
// time, against the sliding window that keeps frames in flight while answers
// come back.
// korvo-sim adds a round-trip delay like a USB link's; the run prints both
// rates and their ratio. Asserts nothing.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/programming_mode.h"
#include "frontend/profile.h"
#include "link_usb/korvo_link.h"
#include "run/console.h"
#include "run/session.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

constexpr size_t kBytes = 2048;  // the ATmega644P's whole EEPROM

IspInstruction eepromRead(size_t address) {
  return IspInstruction{
      {0xA0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF), 0x00}};
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int latencyMicros = argc > 1 ? std::atoi(argv[1]) : 1000;
  TempDir dir;
  KorvoSimProcess korvo;
  if (!korvo.start(dir.file("ttyKorvo1"),
                   {"--time-scale", "0.001", "--latency-us", std::to_string(latencyMicros)})) {
    std::fprintf(stderr, "%s\n", korvo.error().c_str());
    return 1;
  }
  setLoopsPerMicrosecond(loopsFromMicrosecondsPerIteration(measureLoopTime()));
  ScriptedConsole console;
  Session session(tarnwickProfile(), console);
  session.settings.comDevicePath = dir.file("ttyKorvo1");
  KorvoLink link(session);
  if (link.openProgrammerPort() != 1 || !link.checkSignOn()) {
    std::fprintf(stderr, "cannot reach korvo-sim: %s\n", console.output().c_str());
    return 1;
  }
  session.link = &link;
  enterProgrammingMode(session);
  link.enableProgramming();

  uint8_t one[kBytes];
  auto start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < kBytes; ++i) one[i] = link.queryInstruction(eepromRead(i));
  double singly = secondsSince(start);

  uint8_t runs[kBytes];
  IspInstruction reads[kBytes];
  for (size_t i = 0; i < kBytes; ++i) reads[i] = eepromRead(i);
  start = std::chrono::steady_clock::now();
  link.queryInstructions(reads, kBytes, runs);
  double windowed = secondsSince(start);
  leaveProgrammingMode(session);

  bool same = std::equal(one, one + kBytes, runs);
  std::printf("Reading %zu bytes through korvo-sim with %d us latency per reply\n", kBytes,
              latencyMicros);
  std::printf("  one query at a time: %8.1f ms  (%.0f bytes/s)\n", singly * 1000, kBytes / singly);
  std::printf("  windows of frames:   %8.1f ms  (%.0f bytes/s)\n", windowed * 1000,
              kBytes / windowed);
  std::printf("  speed-up: %.1f   answers %s\n", singly / windowed, same ? "identical" : "DIFFER");
  return same ? 0 : 1;
}
