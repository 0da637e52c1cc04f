// Any text typed at either program's prompt, run by the interpreter against
// the simulated target (an ATmega88 at a thousandth of its datasheet times).
// Files the commands name are made in the fuzz folder: every '/' of the input
// becomes '_', so no name reaches outside it.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "engine/engine_delay.h"
#include "engine/progress_line.h"
#include "frontend/command_interpreter.h"
#include "frontend/profile.h"
#include "run/console.h"
#include "run/session.h"
#include "sim/avr_target.h"
#include "sim/sim_clock.h"
#include "sim/sim_parts.h"
#include "tests/fuzz/fuzz_folder.h"
#include "tests/support/target_link.h"

namespace {
// Enough for dozens of commands; longer inputs only repeat them.
constexpr size_t kLongestInput = 4096;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_folder::enter();
  // The fixed pauses after fuse and lock writes are not waited for.
  setEngineDelayObserver([](int32_t) {});
  setProgressInterval(std::chrono::microseconds(1000000));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Profile& profile = data[0] & 1 ? pelloryProfile() : tarnwickProfile();
  std::string input(reinterpret_cast<const char*>(data) + 1, std::min(size - 1, kLongestInput));
  std::replace(input.begin(), input.end(), '/', '_');
  {
    SimClock clock(0.001);
    AvrTarget target(*findSimPart("ATmega88"), clock);
    TargetLink link(target, clock);
    ScriptedConsole console(input);
    Session session(profile, console);
    session.link = &link;
    session.target.targetReleased = true;
    runPrompt(session);
  }
  fuzz_folder::empty();
  return 0;
}
