// pellory on parts whose datasheets have no Poll RDY/BSY and whose answer to
// F0 does not track the write: the link waits each write's t_WD, and a whole
// download verifies with nothing lost to a busy chip.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "frontend/profile.h"
#include "link_lpt/marlow_link.h"
#include "run/session.h"
#include "sim/avr_target.h"
#include "sim/simulated_cable.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

constexpr double kTimeScale = 0.01;

// Neither part's instruction set has Poll RDY/BSY or EEPROM pages; their t_WD
// for erase, flash, EEPROM and fuse: ATmega8 2486AA-AVR-02/2013 Tables 97
// and 98, ATmega32(A) 8155I-AVR-08/2016 Tables 29-15 and 29-16.
const DatasheetPart kNoPollParts[] = {
    {"ATmega8", {0x1E, 0x93, 0x07}, 0, {0xFF, 0xFF, 0xFF}, false, 9000, 4500, 9000, 4500, 0},
    {"ATmega32", {0x1E, 0x95, 0x02}, 0, {0xFF, 0xFF, 0xFF}, false, 9000, 4500, 9000, 4500, 0},
};

// The port's bit operations reach the cable on the bench through here.
SimulatedCable* cable = nullptr;
void setBit(uint16_t at, uint8_t bit) {
  cable->write(at, cable->read(at) | 1u << bit);
}
void clearBit(uint16_t at, uint8_t bit) {
  cable->write(at, cable->read(at) & ~(1u << bit));
}
int16_t getBit(uint16_t at, uint8_t bit) {
  return (cable->read(at) >> bit) & 1 ? -1 : 0;
}

class NoReadyPoll : public ::testing::TestWithParam<DatasheetPart> {
 protected:
  NoReadyPoll() : savedLoops_(loopsPerMicrosecond()) {
    dir_.enter();
    setLoopsPerMicrosecond(4);
    setDelayTimeScale(kTimeScale);
  }
  ~NoReadyPoll() override {
    setDelayTimeScale(1);
    setLoopsPerMicrosecond(savedLoops_);
  }
  TempDir dir_;
  int32_t savedLoops_;
};

TEST_P(NoReadyPoll, PelloryWaitsEachWriteAndLosesNothing) {
  const DatasheetPart& facts = GetParam();
  SimClock clock(kTimeScale);
  AvrTarget target(*findSimPart(facts.name), clock, TargetFaults{}, &facts);
  SimulatedCable bench(target);
  cable = &bench;
  ScriptedConsole console;
  Session session(pelloryProfile(), console);
  MarlowLink link(session, PortBits{setBit, clearBit, getBit});
  session.link = &link;
  identifyTarget(session);
  ASSERT_NE(session.currentPart(), nullptr) << console.output();
  // The programs' view of the same facts.
  PartRecord& row = session.catalogue.rows[static_cast<size_t>(session.target.processorIndex)];
  row.hasPollReady = facts.hasPollReady;
  row.eraseWaitMicros = facts.eraseWaitMicros;
  row.flashWaitMicros = facts.flashWaitMicros;
  row.eepromWaitMicros = facts.eepromWaitMicros;

  for (bool eeprom : {false, true}) {
    const std::vector<uint8_t> data = randomBytes(eeprom ? 16 : 512, 4);
    writeFile("data.hex", intelHexText(data));
    session.settings.downloadFileName = "data.hex";
    EXPECT_TRUE(eeprom ? downloadEeprom(session) : downloadFlash(session)) << console.output();
    const std::vector<uint8_t>& chip = eeprom ? target.eeprom() : target.flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));
  }
  EXPECT_EQ(target.stats().busyViolations, 0u) << target.stats().firstViolation;
  cable = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Parts, NoReadyPoll, ::testing::ValuesIn(kNoPollParts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
