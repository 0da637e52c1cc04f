// Loading and measuring the busy-wait speed kept in "gcal.txt".

#include <gtest/gtest.h>

#include <chrono>

#include "frontend/console.h"
#include "tests/support/temp_dir.h"
#include "timing/delay.h"

namespace {

class CalibrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.enter();
    setLoopsPerMicrosecond(kDefaultLoopsPerMicrosecond);
  }
  void TearDown() override { setLoopsPerMicrosecond(kDefaultLoopsPerMicrosecond); }

  TempDir dir_;
  ScriptedConsole console_;
};

TEST_F(CalibrationTest, StoredValueIsUsedSilentlyAndLeftAlone) {
  for (const char* text : {"250", "250\n", "  \n 250 trailing words"}) {
    SCOPED_TRACE(text);
    writeFile("gcal.txt", text);
    calibrateDelay(console_);
    EXPECT_EQ(loopsPerMicrosecond(), 250);
    EXPECT_EQ(console_.output(), "");
    EXPECT_EQ(readFile("gcal.txt"), text);
  }
}

TEST_F(CalibrationTest, FileWithoutANumberKeepsTheBuiltInValue) {
  for (const char* text : {"", "fast", "\n\n"}) {
    SCOPED_TRACE(text);
    writeFile("gcal.txt", text);
    calibrateDelay(console_);
    EXPECT_EQ(loopsPerMicrosecond(), 172);
    EXPECT_EQ(console_.output(), "");
    EXPECT_EQ(readFile("gcal.txt"), text);
  }
}

TEST_F(CalibrationTest, MissingFileIsMeasuredAndWritten) {
  calibrateDelay(console_);
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............\n");
  int32_t measured = loopsPerMicrosecond();
  EXPECT_GE(measured, 1);
  EXPECT_LE(measured, kMaxLoopsPerMicrosecond);
  EXPECT_EQ(readFile("gcal.txt"), std::to_string(measured));
}

TEST_F(CalibrationTest, ZeroOrNegativeIsMeasuredAfresh) {
  for (const char* text : {"0", "-40"}) {
    SCOPED_TRACE(text);
    console_.clearOutput();
    writeFile("gcal.txt", text);
    calibrateDelay(console_);
    EXPECT_EQ(console_.output(), "\nCalibrating delay .............\n");
    EXPECT_GE(loopsPerMicrosecond(), 1);
    EXPECT_EQ(readFile("gcal.txt"), std::to_string(loopsPerMicrosecond()));
  }
}

TEST_F(CalibrationTest, HugeStoredValueIsKeptWithinTheLongestWait) {
  writeFile("gcal.txt", "99999999999");
  calibrateDelay(console_);
  EXPECT_EQ(loopsPerMicrosecond(), kMaxLoopsPerMicrosecond);
  // 60000 units at the largest loop count still fit a signed 32-bit product.
  EXPECT_LT(static_cast<int64_t>(60000) * loopsPerMicrosecond(), INT32_MAX);
}

TEST_F(CalibrationTest, UnwritableFileIsReportedAndTheRunGoesOn) {
  calibrateDelay(console_, dir_.file("missing/gcal.txt"));
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............Can't write gcal.txt\n\n");
  EXPECT_GE(loopsPerMicrosecond(), 1);
}

TEST(LoopCount, TruncatesTheMeanTimePerIteration) {
  EXPECT_EQ(loopsFromMicrosecondsPerIteration(0.0026), 384);
  EXPECT_EQ(loopsFromMicrosecondsPerIteration(static_cast<float>(0.0026)), 384);
  EXPECT_EQ(loopsFromMicrosecondsPerIteration(2.0), 1);  // slower than a microsecond a loop
  EXPECT_EQ(loopsFromMicrosecondsPerIteration(0.0), kMaxLoopsPerMicrosecond);
  EXPECT_EQ(loopsFromMicrosecondsPerIteration(1e-9), kMaxLoopsPerMicrosecond);
}

TEST(Delay, ZeroAndNegativeReturnAtOnce) {
  delayUnits(0);
  delayUnits(-5);
  busyCountdown(0);
  SUCCEED();
}

// A loop count measured while the machine was busy, or before the processor
// sped up, is too low; one taken on a faster moment is too high. Either way no
// wait may end before its units have passed on the monotonic clock: the short
// ones are SCK phases the chip needs whole, the long ones (which sleep) are
// datasheet times. A lower bound only; how much longer is the benchmarks' part.
TEST(Delay, NoWaitIsShorterThanAskedWhateverTheCount) {
  const int32_t saved = loopsPerMicrosecond();
  for (int32_t count : {1, kDefaultLoopsPerMicrosecond, kMaxLoopsPerMicrosecond}) {
    setLoopsPerMicrosecond(count);
    for (int32_t units : {1, 2, 7, 10, 100, kSleepingUnits - 1, kSleepingUnits, 10000}) {
      for (int repeat = 0; repeat < 20; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        delayUnits(units);
        const auto waited = std::chrono::steady_clock::now() - start;
        ASSERT_GE(waited, std::chrono::microseconds(units))
            << units << " units with a count of " << count;
      }
    }
  }
  setLoopsPerMicrosecond(saved);
}

}  // namespace
