// The simulated Marlow cable, driven the way pellory drives the real one: single
// bits of the data register, MISO read from the status register. First the
// cable class in-process, then the built libio.so through its entry points.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "link_lpt/port_io_api.h"
#include "sim/simulated_cable.h"
#include "sim/target_clock.h"
#include "tests/support/temp_dir.h"

namespace {

// Bit operations on some port, and the pin sequences of the cable on top.
struct BitBanger {
  std::function<void(uint16_t, uint8_t)> set, clear;
  std::function<int16_t(uint16_t, uint8_t)> get;
  // Called after each SCK edge: how long the host holds the phase.
  std::function<void()> holdPhase = [] {};
  uint16_t base = 0x378;

  void line(uint8_t bit, bool level) { level ? set(base, bit) : clear(base, bit); }
  bool cablePresent() {
    bool present = true;
    set(base, 0);
    present &= get(base + 1, 5) == -1;
    clear(base, 0);
    present &= get(base + 1, 5) == 0;
    set(base, 1);
    present &= get(base + 1, 7) == 0;
    clear(base, 1);
    present &= get(base + 1, 7) == -1;
    return present;
  }
  void enterProgrammingMode() {
    line(7, 1);
    line(5, 1);
    line(4, 0);
    line(3, 0);
    line(2, 0);
    line(6, 0);
    line(7, 0);
  }
  void leaveProgrammingMode() {
    line(7, 1);
    line(6, 1);
    line(3, 1);
    line(2, 1);
  }
  // MSB first; MISO sampled while SCK is high, as the host does.
  uint8_t exchange(uint8_t out) {
    uint8_t in = 0;
    line(4, 0);
    for (int bit = 7; bit >= 0; --bit) {
      line(5, (out >> bit) & 1);
      line(4, 1);
      holdPhase();
      in = static_cast<uint8_t>(in << 1 | (get(base + 1, 6) != 0 ? 1 : 0));
      line(4, 0);
      holdPhase();
    }
    return in;
  }
  uint8_t instruction(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, int resultByte = 3) {
    uint8_t bytes[4] = {b1, b2, b3, b4}, result = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t in = exchange(bytes[i]);
      if (i == resultByte) result = in;
    }
    return result;
  }
  uint8_t enable() { return instruction(0xAC, 0x53, 0x00, 0x00, 2); }
};

struct CableBench {
  explicit CableBench(const char* part = "ATmega644P", bool plugged = true,
                      TargetFaults faults = {})
      : target(*findSimPart(part), clock, faults), cable(target, 0x378, plugged) {
    host.set = [this](uint16_t a, uint8_t b) { cable.write(a, cable.read(a) | 1 << b); };
    host.clear = [this](uint16_t a, uint8_t b) { cable.write(a, cable.read(a) & ~(1 << b)); };
    host.get = [this](uint16_t a, uint8_t b) -> int16_t {
      return (cable.read(a) >> b) & 1 ? -1 : 0;
    };
    host.holdPhase = [this] { clock.advanceMicros(phaseMicros); };
  }
  int64_t phaseMicros = 2;  // 2 cycles of the 1 MHz that factory fuses give
  SimClock clock = SimClock::manual();
  AvrTarget target;
  SimulatedCable cable;
  BitBanger host;
};

TEST(SimCableTest, LoopbacksAnswerTheCableTestOnlyWhenPlugged) {
  CableBench plugged;
  EXPECT_TRUE(plugged.host.cablePresent());
  EXPECT_EQ(plugged.cable.read(0x378) & 0x03, 0);
  CableBench unplugged("ATmega644P", false);
  EXPECT_FALSE(unplugged.host.cablePresent());
  // Another port address is empty: reads 0xFF, so the loopback test fails there.
  plugged.host.base = 0x278;
  EXPECT_FALSE(plugged.host.cablePresent());
  EXPECT_EQ(plugged.cable.read(0x279), 0xFF);
}

TEST(SimCableTest, ReleasedEnableLinesIsolateTheTarget) {
  CableBench bench;
  BitBanger& host = bench.host;
  host.line(2, 1);
  host.line(3, 1);
  host.line(7, 0);
  host.line(6, 0);
  EXPECT_FALSE(bench.target.resetLow());  // its pull-up holds RESET high
  for (int i = 0; i < 4; ++i) host.exchange(0x00);
  EXPECT_EQ(host.get(0x379, 6), -1);
  host.line(3, 0);
  host.line(2, 0);
  EXPECT_TRUE(bench.target.resetLow());
  host.line(2, 1);  // one enable line back up switches the buffer off again
  EXPECT_FALSE(bench.target.resetLow());
}

TEST(SimCableTest, BitBangedEnableAndSignatureRead) {
  CableBench bench("ATmega1281");
  BitBanger& host = bench.host;
  host.enterProgrammingMode();
  bench.clock.advanceMicros(30000);
  EXPECT_EQ(host.enable(), 0x53);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x00, 0x00), 0x1E);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x01, 0x00), 0x97);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x02, 0x00), 0x04);
  host.instruction(0xC0, 0x00, 0x21, 0x5A);
  EXPECT_EQ(host.instruction(0xF0, 0x00, 0x00, 0x00) & 1, 1);
  bench.clock.advanceMicros(9000);
  EXPECT_EQ(host.instruction(0xF0, 0x00, 0x00, 0x00) & 1, 0);
  EXPECT_EQ(host.instruction(0xA0, 0x00, 0x21, 0x00), 0x5A);
  host.leaveProgrammingMode();
  EXPECT_FALSE(bench.target.inProgrammingMode());
  EXPECT_EQ(bench.target.stats().instructions, 8u);
  EXPECT_EQ(bench.target.stats().violations(), 0u);
}

// A real chip needs SCK high and low for 2 of its clock cycles each, at the
// clock its low fuse selects; shorter phases corrupt what it shifts.
TEST(SimCableTest, SckPhasesUnderTwoTargetClockCyclesAreViolations) {
  CableBench bench;
  bench.phaseMicros = 1;
  bench.host.enterProgrammingMode();
  bench.clock.advanceMicros(30000);
  bench.host.enable();
  EXPECT_EQ(bench.target.stats().shortSckPhases, 63u);  // 64 phases, the first untimed
  EXPECT_EQ(bench.target.stats().violations(), 63u);
  EXPECT_EQ(bench.target.stats().firstViolation,
            "SCK high for 1.00 us, under 2 clock cycles (2.00 us)");

  // Without CKDIV8 the internal RC runs at 8 MHz: 1 us phases are ample.
  CableBench fast;
  fast.phaseMicros = 1;
  fast.target.setFuses(0xE2, 0x99, 0xFF);
  fast.host.enterProgrammingMode();
  fast.clock.advanceMicros(30000);
  EXPECT_EQ(fast.host.enable(), 0x53);
  EXPECT_EQ(fast.target.stats().violations(), 0u);

  // A clock set from outside wins over the fuses: a 500 kHz part needs 4 us.
  CableBench slow;
  slow.target.setClockHz(500e3);
  slow.host.enterProgrammingMode();
  slow.clock.advanceMicros(30000);
  slow.host.enable();
  EXPECT_EQ(slow.target.stats().shortSckPhases, 63u);
}

TEST(SimCableTest, TargetClockFollowsTheLowFuse) {
  const SimPart& m644p = *findSimPart("ATmega644P");
  EXPECT_EQ(fuseSelectedClockHz(m644p, m644p.factoryLow), 1e6);
  EXPECT_EQ(fuseSelectedClockHz(m644p, 0xE2), 8e6);
  EXPECT_EQ(fuseSelectedClockHz(m644p, 0x63), 16e3);  // 128 kHz / 8
  const SimPart& m16 = *findSimPart("ATmega16");
  EXPECT_EQ(fuseSelectedClockHz(m16, m16.factoryLow), 1e6);
  EXPECT_EQ(fuseSelectedClockHz(m16, 0xE4), 8e6);
  // An external crystal is assumed at 8 MHz, so the AT90USB162's factory
  // setting (crystal, CKDIV8) is 1 MHz like the rest.
  const SimPart& usb = *findSimPart("AT90USB162");
  EXPECT_EQ(fuseSelectedClockHz(usb, usb.factoryLow), 1e6);
  for (int i = 0; i < simPartCount(); ++i) {
    EXPECT_EQ(fuseSelectedClockHz(simParts()[i], simParts()[i].factoryLow), 1e6)
        << simParts()[i].name;
  }
}

TEST(SimCableTest, EnableTooSoonAfterResetFailsUntilResetIsPulsed) {
  CableBench bench;
  BitBanger& host = bench.host;
  host.enterProgrammingMode();
  bench.clock.advanceMicros(5000);
  EXPECT_EQ(host.enable(), 0xFF);
  host.line(7, 1);
  host.line(6, 1);
  host.line(7, 0);
  host.line(6, 0);
  bench.clock.advanceMicros(30000);
  EXPECT_EQ(host.enable(), 0x53);
  EXPECT_EQ(bench.target.stats().earlyEnables, 1u);
}

TEST(SimCableTest, AbsentTargetReadsAllOnesOrAllZeros) {
  TargetFaults high;
  high.miso = TargetFaults::Miso::kStuckHigh;
  CableBench absent("ATmega644P", true, high);
  absent.host.enterProgrammingMode();
  absent.clock.advanceMicros(30000);
  EXPECT_TRUE(absent.host.cablePresent());
  EXPECT_EQ(absent.host.enable(), 0xFF);

  TargetFaults low;
  low.miso = TargetFaults::Miso::kStuckLow;
  CableBench shorted("ATmega644P", true, low);
  shorted.host.enterProgrammingMode();
  shorted.clock.advanceMicros(30000);
  EXPECT_EQ(shorted.host.enable(), 0x00);
}

// The built library, loaded as pellory loads it.
class PortLibrary {
 public:
  PortLibrary() {
    handle_ = dlopen(AVRISP_BINARY_DIR "/sim/libio.so", RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    for (const char* name : kPortIoNames) found_ += dlsym(handle_, name) != nullptr;
    reset_ = reinterpret_cast<void (*)()>(dlsym(handle_, "PellorySimReset"));
    host.set = reinterpret_cast<SetPortBitFn>(dlsym(handle_, "SetPortBit"));
    host.clear = reinterpret_cast<ClrPortBitFn>(dlsym(handle_, "ClrPortBit"));
    host.get = reinterpret_cast<GetPortBitFn>(dlsym(handle_, "GetPortBit"));
    portIn = reinterpret_cast<PortInFn>(dlsym(handle_, "PortIn"));
    installed = reinterpret_cast<IsDriverInstalledFn>(dlsym(handle_, "IsDriverInstalled"));
  }
  ~PortLibrary() {
    if (reset_) {
      for (const char* name : {"PELLORY_SIM_PART", "PELLORY_SIM_STATE", "PELLORY_SIM_TRACE",
                               "PELLORY_SIM_TIME_SCALE", "PELLORY_SIM_FAULT", "PELLORY_SIM_PORT"}) {
        unsetenv(name);
      }
      reset_();
    }
    if (handle_) dlclose(handle_);
  }
  bool loaded() const { return handle_ && reset_ && found_ == 13; }
  // Re-reads the environment: a new run of the simulated chip.
  void restart() { reset_(); }

  BitBanger host;
  PortInFn portIn = nullptr;
  IsDriverInstalledFn installed = nullptr;

 private:
  void* handle_ = nullptr;
  void (*reset_)() = nullptr;
  int found_ = 0;
};

TEST(SimCableLibraryTest, ExportsTheEntryPointsAndKeepsTheChipBetweenRuns) {
  TempDir dir;
  setenv("PELLORY_SIM_PART", "atmega2560", 1);
  setenv("PELLORY_SIM_TIME_SCALE", "0", 1);
  setenv("PELLORY_SIM_STATE", dir.file("chip.state").c_str(), 1);
  setenv("PELLORY_SIM_TRACE", dir.file("trace.txt").c_str(), 1);
  PortLibrary library;
  ASSERT_TRUE(library.loaded()) << "build the io_sim target first: " << dlerror();
  library.restart();
  EXPECT_EQ(library.installed(), 1);
  BitBanger& host = library.host;
  ASSERT_TRUE(host.cablePresent());
  host.enterProgrammingMode();
  EXPECT_EQ(host.enable(), 0x53);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x00, 0x00), 0x1E);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x01, 0x00), 0x98);
  EXPECT_EQ(host.instruction(0x30, 0x00, 0x02, 0x00), 0x01);
  host.instruction(0xC0, 0x0F, 0xFF, 0x3C);
  host.leaveProgrammingMode();
  EXPECT_EQ(readFile(dir.file("trace.txt")),
            "AC 53 00 00\n30 00 00 00\n30 00 01 00\n30 00 02 00\nC0 0F FF 3C\n");
  EXPECT_TRUE(fileExists(dir.file("chip.state")));

  library.restart();
  host.enterProgrammingMode();
  EXPECT_EQ(host.enable(), 0x53);
  EXPECT_EQ(host.instruction(0xA0, 0x0F, 0xFF, 0x00), 0x3C);
  host.leaveProgrammingMode();
}

TEST(SimCableLibraryTest, EnvironmentMovesThePortAndSwitchesFaults) {
  TempDir dir;
  setenv("PELLORY_SIM_TIME_SCALE", "0", 1);
  setenv("PELLORY_SIM_PORT", "278", 1);
  PortLibrary library;
  ASSERT_TRUE(library.loaded()) << "build the io_sim target first";
  library.restart();
  EXPECT_FALSE(library.host.cablePresent());
  EXPECT_EQ(library.portIn(0x379), 0xFF);
  library.host.base = 0x278;
  EXPECT_TRUE(library.host.cablePresent());

  unsetenv("PELLORY_SIM_PORT");
  library.host.base = 0x378;
  setenv("PELLORY_SIM_FAULT", "no-cable", 1);
  library.restart();
  EXPECT_FALSE(library.host.cablePresent());

  setenv("PELLORY_SIM_FAULT", "target-absent", 1);
  library.restart();
  EXPECT_TRUE(library.host.cablePresent());
  library.host.enterProgrammingMode();
  EXPECT_EQ(library.host.enable(), 0xFF);
  library.host.leaveProgrammingMode();
}

TEST(SimCableLibraryTest, InvalidSettingsAreReportedInOneLineAndLeaveNoCable) {
  PortLibrary library;
  ASSERT_TRUE(library.loaded()) << "build the io_sim target first";
  const char* cases[][3] = {
      {"PELLORY_SIM_PART", "ATmega9999", "PELLORY_SIM_PART=ATmega9999"},
      {"PELLORY_SIM_TIME_SCALE", "fast", "PELLORY_SIM_TIME_SCALE=fast"},
      {"PELLORY_SIM_PORT", "xyz", "PELLORY_SIM_PORT=xyz"},
      {"PELLORY_SIM_FAULT", "smoke", "PELLORY_SIM_FAULT=smoke"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c[0]);
    setenv(c[0], c[1], 1);
    testing::internal::CaptureStderr();
    library.restart();
    std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find(c[2]), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), message.size() - 1) << message;
    EXPECT_FALSE(library.host.cablePresent());
    unsetenv(c[0]);
  }
}

}  // namespace
