// The Marlow cable's lines as the target sees them: bits clocked out and in,
// RESET and enable line order, and the loopback test for the cable itself.

#include <gtest/gtest.h>

#include "link_lpt/spi_bitbang.h"
#include "tests/support/fake_parallel_port.h"
#include "timing/delay.h"

namespace {

class SpiBitbangTest : public ::testing::Test {
 protected:
  SpiBitbangTest() {
    setLoopsPerMicrosecond(1);
    port_.bits = fake_.bits();
  }
  FakeParallelPort fake_;
  MarlowPort port_;
};

TEST_F(SpiBitbangTest, WrittenByteIsPresentedMostSignificantBitFirstAtRisingEdges) {
  spiWriteByte(port_, 0xAC);
  EXPECT_EQ(fake_.mosiAtRisingEdges(), (std::vector<int>{1, 0, 1, 0, 1, 1, 0, 0}));
  EXPECT_FALSE(fake_.mosiChangedWhileClockHigh());
  EXPECT_EQ(fake_.misoSamples(), 0u);
  // SCK is left low, MOSI at the level of bit 0.
  EXPECT_EQ(fake_.dataRegister() & 0x30, 0x00);
}

TEST_F(SpiBitbangTest, ExchangedByteIsAssembledFromMisoSamples) {
  const int pattern[8] = {0, 1, 0, 1, 0, 0, 1, 1};
  fake_.answer = [&](size_t) {
    unsigned value = 0;
    for (int level : pattern) value = (value << 1) | static_cast<unsigned>(level);
    return static_cast<uint8_t>(value);
  };
  EXPECT_EQ(spiExchangeByte(port_, 0x00), 0x53);
  EXPECT_EQ(fake_.misoSamples(), 8u);

  FakeParallelPort high;
  high.answer = [](size_t) { return uint8_t{0xFF}; };
  port_.bits = high.bits();
  EXPECT_EQ(spiExchangeByte(port_, 0x12), 0xFF);
  EXPECT_EQ(high.bytesOut(), std::vector<uint8_t>{0x12});
  EXPECT_FALSE(high.mosiChangedWhileClockHigh());

  FakeParallelPort low;
  low.answer = [](size_t) { return uint8_t{0x00}; };
  port_.bits = low.bits();
  EXPECT_EQ(spiExchangeByte(port_, 0xFF), 0x00);
}

TEST_F(SpiBitbangTest, OnlyTheClockDataAndResetLinesCanBeDrivenAsDataLines) {
  for (int bit : {-1, 0, 1, 2, 3, 8, 9}) {
    setDataLine(port_, bit, 1);
    setDataLine(port_, bit, 0);
  }
  EXPECT_TRUE(fake_.changes().empty());
  setDataLine(port_, 4, 1);
  setDataLine(port_, 7, 2);  // any level but 1 clears
  EXPECT_EQ(fake_.dataChangeText(), "+4 -7");
}

TEST_F(SpiBitbangTest, EnableResetAndPreparationKeepTheirBitOrder) {
  prepareLines(port_);
  EXPECT_EQ(fake_.dataChangeText(), "+7 +5 -4 -3 -2");

  FakeParallelPort pulse;
  port_.bits = pulse.bits();
  pulseReset(port_, 60000);
  EXPECT_EQ(pulse.dataChangeText(), "+7 +6 -7 -6");

  FakeParallelPort release;
  port_.bits = release.bits();
  releaseEnableLines(port_);
  EXPECT_EQ(release.dataChangeText(), "+3 +2");
}

TEST_F(SpiBitbangTest, CableWithLoopbacksIsFoundAndItsTestLinesLeftLow) {
  fake_.loopbacksFitted = true;
  EXPECT_TRUE(cablePresent(port_));
  EXPECT_EQ(fake_.dataChangeText(), "+0 -0 +1 -1");
  EXPECT_EQ(fake_.dataRegister() & 0x03, 0x00);
}

TEST_F(SpiBitbangTest, PortWithoutCableIsNotTakenForOne) {
  for (bool floatsHigh : {true, false}) {
    FakeParallelPort bare;
    bare.statusFloatsHigh = floatsHigh;
    port_.bits = bare.bits();
    EXPECT_FALSE(cablePresent(port_)) << "status floating " << (floatsHigh ? "high" : "low");
    // All four steps still run.
    EXPECT_EQ(bare.dataChangeText(), "+0 -0 +1 -1");
    EXPECT_EQ(bare.dataRegister() & 0x03, 0x00);
  }
}

TEST_F(SpiBitbangTest, CableTestUsesTheConfiguredPort) {
  FakeParallelPort moved(0x278, 0x279);
  moved.loopbacksFitted = true;
  MarlowPort other{moved.bits(), 0x278, 0x279};
  EXPECT_TRUE(cablePresent(other));
  EXPECT_EQ(moved.strayAccesses(), 0u);
}

}  // namespace
