// pellory on parts whose datasheets have no Poll RDY/BSY: the chip's answer
// to F0 does not track its writes, so the Marlow link waits each write's t_WD
// instead, and a whole download verifies with no instruction lost to a busy
// chip.

#include <gtest/gtest.h>

#include <memory>
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
#include "tests/support/no_poll_parts.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

constexpr double kTimeScale = 0.01;

// The port's bit operations reach the one cable on the bench through here.
SimulatedCable* cableOnBench = nullptr;

void setBit(uint16_t address, uint8_t bit) {
  cableOnBench->write(address, static_cast<uint8_t>(cableOnBench->read(address) | 1u << bit));
}
void clearBit(uint16_t address, uint8_t bit) {
  cableOnBench->write(address, static_cast<uint8_t>(cableOnBench->read(address) & ~(1u << bit)));
}
int16_t getBit(uint16_t address, uint8_t bit) {
  return (cableOnBench->read(address) >> bit) & 1 ? -1 : 0;
}

struct NoPollCase {
  const char* part;
  const DatasheetPart* facts;
};

class NoReadyPoll : public ::testing::TestWithParam<NoPollCase> {
 protected:
  NoReadyPoll() : savedLoops_(loopsPerMicrosecond()) {
    dir_.enter();
    setLoopsPerMicrosecond(4);
    setDelayTimeScale(kTimeScale);
  }
  ~NoReadyPoll() override {
    cableOnBench = nullptr;
    setDelayTimeScale(1);
    setLoopsPerMicrosecond(savedLoops_);
  }

  TempDir dir_;
  int32_t savedLoops_;
};

TEST_P(NoReadyPoll, PelloryWaitsEachWriteAndLosesNothing) {
  const NoPollCase& c = GetParam();
  SimClock clock(kTimeScale);
  AvrTarget target(*findSimPart(c.part), clock, TargetFaults{}, c.facts);
  SimulatedCable cable(target);
  cableOnBench = &cable;
  PortBits bits;
  bits.setBit = setBit;
  bits.clearBit = clearBit;
  bits.getBit = getBit;

  ScriptedConsole console;
  Session session(pelloryProfile(), console);
  MarlowLink link(session, bits);
  session.link = &link;
  identifyTarget(session);
  ASSERT_NE(session.currentPart(), nullptr) << console.output();
  // The programs' view of the same datasheet facts.
  PartRecord& row = session.catalogue.rows[static_cast<size_t>(session.target.processorIndex)];
  row.hasPollReady = c.facts->hasPollReady;
  row.eraseWaitMicros = c.facts->eraseWaitMicros;
  row.flashWaitMicros = c.facts->flashWaitMicros;
  row.eepromWaitMicros = c.facts->eepromWaitMicros;
  row.fuseWaitMicros = c.facts->fuseWaitMicros;
  row.eepromPageBytes = c.facts->eepromPageBytes;

  const std::vector<uint8_t> flash = randomBytes(512, 4);
  writeFile("flash.hex", intelHexText(flash));
  session.settings.downloadFileName = "flash.hex";
  EXPECT_TRUE(downloadFlash(session)) << console.output();
  const std::vector<uint8_t> eeprom = randomBytes(16, 5);
  writeFile("eeprom.hex", intelHexText(eeprom));
  session.settings.downloadFileName = "eeprom.hex";
  EXPECT_TRUE(downloadEeprom(session)) << console.output();

  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), target.flash().begin()));
  EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), target.eeprom().begin()));
  EXPECT_EQ(target.stats().busyViolations, 0u) << target.stats().firstViolation;
}

INSTANTIATE_TEST_SUITE_P(Parts, NoReadyPoll,
                         ::testing::Values(NoPollCase{"ATmega8", &kAtmega8Facts},
                                           NoPollCase{"ATmega32", &kAtmega32Facts}),
                         [](const ::testing::TestParamInfo<NoPollCase>& info) {
                           return std::string(info.param.part);
                         });

}  // namespace
