// libio.so for the simulated Marlow cable: the 13 entry points of the port-I/O
// library, acting on a SimulatedCable with an AvrTarget behind it. pellory loads
// it instead of the real library when build/sim comes first on LD_LIBRARY_PATH.
//
// Read from the environment when the library is loaded:
//   PELLORY_SIM_PART        part name, any case (ATmega644P)
//   PELLORY_SIM_STATE       state file: loaded if it exists, saved whenever the
//                           target is released (RESET high) and at exit
//   PELLORY_SIM_TRACE       appends each instruction the target received, in hex
//   PELLORY_SIM_TIME_SCALE  factor on every datasheet time (1)
//   PELLORY_SIM_FAULT       no-cable, target-absent, target-absent-low,
//                           busy-forever or wrong-signature
//   PELLORY_SIM_PORT        base address in hex (378)
//   PELLORY_SIM_CLOCK_HZ    the target's clock, in place of what its fuses
//                           select; SCK phases under 2 cycles are violations
//   PELLORY_SIM_BOARDS      a row of boards (sim/board_row.h), with
//   PELLORY_SIM_UNPLUG_AFTER_MS, PELLORY_SIM_BOARD_GAP_MS,
//   PELLORY_SIM_FAIL_BOARD and PELLORY_SIM_BOARD_STATES as korvo-sim's
//                           --unplug-after-ms, --board-gap-ms, --fail-board
//                           and --board-states
// An invalid value is reported on stderr and leaves the port without a cable,
// so the run fails visibly instead of going on with a default it did not ask
// for.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link_lpt/port_io_api.h"
#include "run/user_folders.h"
#include "sim/avr_target.h"
#include "sim/board_row.h"
#include "sim/simulated_cable.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct CableModule {
  bool configured = false;
  std::unique_ptr<SimClock> clock;
  std::unique_ptr<AvrTarget> target;
  std::unique_ptr<SimulatedCable> cable;
  std::unique_ptr<BoardRow> boardRow;
  std::string statePath;
  std::FILE* trace = nullptr;
  bool traceLineOpen = false;
  uint64_t savedGeneration = 0;
  bool resetLow = false;
};

CableModule& module() {
  static CableModule instance;
  return instance;
}

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

void complain(const char* variable, const char* value, const char* expected) {
  std::fprintf(stderr, "simulated cable: %s=%s is not valid (%s)\n", variable, value, expected);
}

void endTraceLine(CableModule& m) {
  if (m.trace && m.traceLineOpen) {
    std::fputc('\n', m.trace);
    std::fflush(m.trace);
  }
  m.traceLineOpen = false;
}

void traceByte(uint8_t byte, int framePosition) {
  CableModule& m = module();
  if (!m.trace) return;
  std::fprintf(m.trace, m.traceLineOpen ? " %02X" : "%02X", byte);
  m.traceLineOpen = true;
  if (framePosition == 3) endTraceLine(m);
}

void saveIfChanged(CableModule& m) {
  if (!m.target || m.statePath.empty()) return;
  if (m.target->writeGeneration() == m.savedGeneration) return;
  std::string error;
  if (m.target->saveState(m.statePath, &error)) {
    m.savedGeneration = m.target->writeGeneration();
  } else {
    std::fprintf(stderr, "simulated cable: %s\n", error.c_str());
  }
}

void finish() {
  CableModule& m = module();
  saveIfChanged(m);
  if (m.boardRow) m.boardRow->finish();
  endTraceLine(m);
  if (m.target) {
    // The same summary korvo-sim gives, so tests can prove the host's waits
    // were long enough; a violation is worth a word even without a trace.
    const TargetStats& stats = m.target->stats();
    const char* statsPath = std::getenv("PELLORY_SIM_STATS");
    if (std::FILE* out = statsPath && *statsPath ? std::fopen(statsPath, "a") : nullptr) {
      std::fprintf(out, "%llu instructions, %llu pages written, %llu violations",
                   static_cast<unsigned long long>(stats.instructions),
                   static_cast<unsigned long long>(stats.pagesWritten),
                   static_cast<unsigned long long>(stats.violations()));
      if (!stats.firstViolation.empty())
        std::fprintf(out, ", the first: %s", stats.firstViolation.c_str());
      std::fputc('\n', out);
      std::fclose(out);
    }
    if (stats.violations() > 0) {
      std::fprintf(stderr, "simulated cable: %llu timing violations by the host, the first: %s\n",
                   static_cast<unsigned long long>(stats.violations()),
                   stats.firstViolation.c_str());
    }
  }
  if (m.trace) std::fclose(m.trace);
  m = CableModule();
}

bool parseFault(const char* value, TargetFaults* faults, bool* plugged) {
  const std::string fault = value;
  if (fault == "no-cable") {
    *plugged = false;
  } else if (fault == "target-absent") {
    faults->miso = TargetFaults::Miso::kStuckHigh;
  } else if (fault == "target-absent-low") {
    faults->miso = TargetFaults::Miso::kStuckLow;
  } else if (fault == "busy-forever") {
    faults->neverReady = true;
  } else if (fault == "wrong-signature") {
    faults->wrongSignature = true;
  } else {
    return false;
  }
  return true;
}

void configure() {
  CableModule& m = module();
  // The user's parts, as pellory reads them (or the file PELLORY_SIM_PARTS
  // names), so that a part of a parts.txt can be rehearsed too.
  std::vector<std::string> partsMessages;
  if (const char* path = environment("PELLORY_SIM_PARTS")) {
    if (loadSimPartsFile(path, &partsMessages) < 0) {
      return complain("PELLORY_SIM_PARTS", path, "a readable parts.txt");
    }
    for (const std::string& message : partsMessages) {
      std::fprintf(stderr, "simulated cable: %s\n", message.c_str());
    }
  } else {
    // pellory itself reports the faults of its own parts.txt.
    for (const std::string& place : configurationFilePlaces("pellory", "parts.txt")) {
      if (loadSimPartsFile(place, &partsMessages) >= 0) break;
    }
  }
  const SimPart* part = findSimPart("ATmega644P");
  if (const char* name = environment("PELLORY_SIM_PART")) {
    part = findSimPart(name);
    if (!part) return complain("PELLORY_SIM_PART", name, "not a simulated part");
  }
  double scale = 1.0;
  if (const char* text = environment("PELLORY_SIM_TIME_SCALE")) {
    char* end = nullptr;
    scale = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(scale) || scale < 0) {
      return complain("PELLORY_SIM_TIME_SCALE", text, "a number, 0 or more");
    }
  }
  uint16_t base = 0x378;
  if (const char* text = environment("PELLORY_SIM_PORT")) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text, &end, 16);
    if (*end != '\0' || errno != 0 || value > 0xFFFF || text[0] == '-') {
      return complain("PELLORY_SIM_PORT", text, "a hexadecimal address up to FFFF");
    }
    base = static_cast<uint16_t>(value);
  }
  double clockHz = 0;
  if (const char* text = environment("PELLORY_SIM_CLOCK_HZ")) {
    char* end = nullptr;
    clockHz = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(clockHz) || clockHz <= 0) {
      return complain("PELLORY_SIM_CLOCK_HZ", text, "a frequency in Hz, above 0");
    }
  }
  TargetFaults faults;
  bool plugged = true;
  if (const char* text = environment("PELLORY_SIM_FAULT")) {
    if (!parseFault(text, &faults, &plugged)) {
      return complain("PELLORY_SIM_FAULT", text,
                      "no-cable, target-absent, target-absent-low, busy-forever or "
                      "wrong-signature");
    }
  }
  BoardRowSettings row;
  row.clockHz = clockHz;
  const struct {
    const char* variable;
    int64_t scale;
    int64_t* micros;
    int* count;
  } rowNumbers[] = {
      {"PELLORY_SIM_BOARDS", 1, nullptr, &row.boards},
      {"PELLORY_SIM_UNPLUG_AFTER_MS", 1000, &row.unplugAfterMicros, nullptr},
      {"PELLORY_SIM_BOARD_GAP_MS", 1000, &row.gapMicros, nullptr},
      {"PELLORY_SIM_FAIL_BOARD", 1, nullptr, &row.failBoard},
  };
  for (const auto& number : rowNumbers) {
    const char* text = environment(number.variable);
    if (text == nullptr) continue;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || errno != 0 || value > 3'600'000 || text[0] == '-') {
      return complain(number.variable, text, "a whole number up to 3600000");
    }
    if (number.micros) *number.micros = static_cast<int64_t>(value) * number.scale;
    if (number.count) *number.count = static_cast<int>(value);
  }
  if (const char* folder = environment("PELLORY_SIM_BOARD_STATES")) row.stateFolder = folder;
  std::FILE* trace = nullptr;
  if (const char* path = environment("PELLORY_SIM_TRACE")) {
    trace = std::fopen(path, "a");
    if (!trace) return complain("PELLORY_SIM_TRACE", path, std::strerror(errno));
  }

  m.clock = std::make_unique<SimClock>(scale);
  m.target = std::make_unique<AvrTarget>(*part, *m.clock, faults);
  m.target->setClockHz(clockHz);
  if (const char* path = environment("PELLORY_SIM_STATE")) {
    m.statePath = path;
    std::string error;
    if (std::FILE* probe = std::fopen(path, "r")) {
      std::fclose(probe);
      if (!m.target->loadState(path, &error)) {
        std::fprintf(stderr, "simulated cable: PELLORY_SIM_STATE: %s\n", error.c_str());
        if (trace) std::fclose(trace);
        m = CableModule();
        return;
      }
    }
  }
  m.savedGeneration = m.target->writeGeneration();
  m.trace = trace;
  m.cable = std::make_unique<SimulatedCable>(*m.target, base, plugged);
  m.cable->setByteObserver(traceByte);
  m.boardRow = std::make_unique<BoardRow>(*m.target, *part, *m.clock, faults, row);
  m.configured = true;
}

void start() {
  static bool exitHandlerRegistered = false;
  if (!exitHandlerRegistered) {
    // Built before the handler is registered, so it is destroyed after the
    // handler has saved the chip.
    module();
    std::atexit(finish);
    exitHandlerRegistered = true;
  }
  configure();
}

__attribute__((constructor)) void loadLibrary() {
  start();
}

uint8_t readRegister(uint16_t address) {
  CableModule& m = module();
  if (!m.configured) return 0xFF;
  m.boardRow->advance(m.clock->nowMicros());
  return m.cable->read(address);
}

void writeRegister(uint16_t address, uint8_t value) {
  CableModule& m = module();
  if (!m.configured) return;
  m.boardRow->advance(m.clock->nowMicros());
  m.cable->write(address, value);
  // The row also sees the lines as this write leaves them, since the host
  // may touch nothing more for a while.
  m.boardRow->advance(m.clock->nowMicros());
  const bool resetLow = m.target->resetLow();
  if (resetLow != m.resetLow) {
    m.resetLow = resetLow;
    endTraceLine(m);
    // Released targets keep what was written, even if the program is killed later.
    if (!resetLow) saveIfChanged(m);
  }
}

}  // namespace

// Saves and closes what the current configuration holds, then reads the
// environment again: a fresh chip and cable for in-process tests.
SIM_EXPORT void PellorySimReset(void) {
  finish();
  start();
}

// How fast the simulated chip runs its datasheet times against the real ones
// (PELLORY_SIM_TIME_SCALE). Only the simulated cable has this entry point: a
// program that finds it may shorten its waits in the same proportion.
SIM_EXPORT double PellorySimTimeScale(void) {
  CableModule& m = module();
  return m.configured ? m.clock->scale() : 1.0;
}

SIM_EXPORT void PortOut(uint16_t address, uint8_t value) {
  writeRegister(address, value);
}

SIM_EXPORT void PortWordOut(uint16_t address, uint16_t value) {
  writeRegister(address, static_cast<uint8_t>(value));
  writeRegister(static_cast<uint16_t>(address + 1), static_cast<uint8_t>(value >> 8));
}

SIM_EXPORT void PortDWordOut(uint16_t address, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    writeRegister(static_cast<uint16_t>(address + i), static_cast<uint8_t>(value >> (8 * i)));
  }
}

SIM_EXPORT uint8_t PortIn(uint16_t address) {
  return readRegister(address);
}

SIM_EXPORT uint16_t PortWordIn(uint16_t address) {
  return static_cast<uint16_t>(readRegister(address) |
                               readRegister(static_cast<uint16_t>(address + 1)) << 8);
}

SIM_EXPORT uint32_t PortDWordIn(uint16_t address) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | readRegister(static_cast<uint16_t>(address + i));
  }
  return value;
}

SIM_EXPORT void SetPortBit(uint16_t address, uint8_t bit) {
  if (bit < 8) writeRegister(address, static_cast<uint8_t>(readRegister(address) | 1u << bit));
}

SIM_EXPORT void ClrPortBit(uint16_t address, uint8_t bit) {
  if (bit < 8) writeRegister(address, static_cast<uint8_t>(readRegister(address) & ~(1u << bit)));
}

SIM_EXPORT void NotPortBit(uint16_t address, uint8_t bit) {
  if (bit < 8) writeRegister(address, static_cast<uint8_t>(readRegister(address) ^ 1u << bit));
}

SIM_EXPORT int16_t GetPortBit(uint16_t address, uint8_t bit) {
  if (bit >= 8) return 0;
  return (readRegister(address) >> bit) & 1 ? -1 : 0;
}

SIM_EXPORT void RightPortShift(uint16_t address, uint8_t in) {
  writeRegister(address, static_cast<uint8_t>(readRegister(address) >> 1 | (in ? 0x80 : 0)));
}

SIM_EXPORT void LeftPortShift(uint16_t address, uint8_t in) {
  writeRegister(address, static_cast<uint8_t>(readRegister(address) << 1 | (in ? 1 : 0)));
}

SIM_EXPORT int IsDriverInstalled(void) {
  return 1;
}
