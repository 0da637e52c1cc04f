// Loading and measuring the busy-wait speed kept in "gcal.txt".

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "run/console.h"
#include "run/user_folders.h"
#include "tests/support/shared_folder.h"
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

// A file that is not a count may not be the program's at all: it is named,
// left as it is, and the built-in value stays.
TEST_F(CalibrationTest, FileWithoutACountKeepsTheBuiltInValueAndIsNamed) {
  for (const char* text : {"", "fast", "\n\n", "0 important ledger"}) {
    SCOPED_TRACE(text);
    console_.clearOutput();
    writeFile("gcal.txt", text);
    calibrateDelay(console_);
    EXPECT_EQ(loopsPerMicrosecond(), 172);
    EXPECT_EQ(console_.output(), "gcal.txt holds no count - left alone\n");
    EXPECT_EQ(readFile("gcal.txt"), text);
  }
}

// A gcal.txt that links elsewhere, in the folder or in the cache, is named
// and never written through nor replaced; a folder's measurement goes to the
// cache instead.
TEST_F(CalibrationTest, ALinkedGcalIsLeftAloneWhereverItIs) {
  CalibrationPlaces places;
  places.cacheFolder = dir_.file("cache");
  const std::string cached = places.cacheFolder + "/gcal.txt";
  for (const std::string& link : {std::string("gcal.txt"), cached}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(makeUserFolder(places.cacheFolder));
    console_.clearOutput();
    writeFile(dir_.file("ledger.txt"), "0 important ledger");
    ASSERT_EQ(::symlink(dir_.file("ledger.txt").c_str(), link.c_str()), 0);
    calibrateDelay(console_, places);
    EXPECT_EQ(readFile(dir_.file("ledger.txt")), "0 important ledger");
    EXPECT_EQ(console_.output(),
              link + " is a symbolic link - left alone\n\nCalibrating delay .............\n");
    if (link != cached) {
      EXPECT_EQ(readFile(cached), std::to_string(loopsPerMicrosecond()));
    }
    std::remove(link.c_str());
    std::remove(cached.c_str());
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

// A FIFO in the calibration's place would block the start for ever, on the
// read and again on the write: it is named, measured around and left alone.
TEST_F(CalibrationTest, AFifoInItsPlaceIsTreatedAsMissingAndLeftAlone) {
  ASSERT_EQ(::mkfifo("gcal.txt", 0600), 0);
  calibrateDelay(console_);
  EXPECT_EQ(console_.output(),
            "gcal.txt is not a regular file - ignored\n\nCalibrating delay .............\n");
  struct stat info;
  ASSERT_EQ(::stat("gcal.txt", &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
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

TEST_F(CalibrationTest, UnwritableFileIsReportedOnALineOfItsOwnAndTheRunGoesOn) {
  calibrateDelay(console_, dir_.file("missing/gcal.txt"));
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............\nCan't write gcal.txt\n   " +
                                   dir_.file("missing/gcal.txt") + ": No such file or directory\n");
  EXPECT_GE(loopsPerMicrosecond(), 1);
}

// An empty gcal.txt would hold no number, and every later start would skip the
// measurement and keep the built-in count.
TEST_F(CalibrationTest, AFullDiskLeavesNoGcalFile) {
  if (!runningAsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
  SmallTmpfs disk(dir_.file("disk"));
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs could be mounted here";
  disk.fill();
  calibrateDelay(console_, dir_.file("disk/gcal.txt"));
  EXPECT_EQ(disk.otherNames(), "");
  EXPECT_NE(console_.output().find(".\nCan't write gcal.txt\n"), std::string::npos)
      << console_.output();
}

TEST_F(CalibrationTest, APlantedLinkInASharedFolderIsNotFollowed) {
  if (!runningAsRoot()) GTEST_SKIP() << "a link owned by another user needs root";
  ASSERT_TRUE(makeStickyFolder(dir_.file("shared")));
  writeFile(dir_.file("precious"), "1");  // nor is its count taken
  ASSERT_TRUE(plantLink(dir_.file("shared/gcal.txt"), dir_.file("precious"), kOtherUser));
  calibrateDelay(console_, dir_.file("shared/gcal.txt"));
  EXPECT_EQ(readFile(dir_.file("precious")), "1");
  EXPECT_NE(loopsPerMicrosecond(), 1);
  EXPECT_NE(
      console_.output().find(dir_.file("shared/gcal.txt") + " is a symbolic link - left alone\n"),
      std::string::npos)
      << console_.output();
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

// Against a simulated chip at a fraction of its datasheet times the waits
// shrink in proportion, and never below that; a scale that would lengthen or
// make no sense leaves the real microsecond.
TEST(Delay, ASimulatedTimeScaleShortensWaitsInProportionOnly) {
  setDelayTimeScale(0.5);
  EXPECT_EQ(delayTimeScale(), 0.5);
  for (int32_t units : {2, 100, 2 * kSleepingUnits, 20000}) {
    const auto start = std::chrono::steady_clock::now();
    delayUnits(units);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(units / 2))
        << units << " units at half scale";
  }
  // And the scale really shortens: two seconds of datasheet time at 1/1000
  // are two milliseconds. The bound is half the unscaled wait, far above any
  // scheduling delay, so only a wait that ignored the scale can reach it.
  setDelayTimeScale(0.001);
  const auto start = std::chrono::steady_clock::now();
  delayUnits(2000000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  for (double unusable : {2.0, -1.0, std::nan("")}) {
    setDelayTimeScale(unusable);
    EXPECT_EQ(delayTimeScale(), 1.0) << unusable;
  }
  setDelayTimeScale(1.0);
}

// A user who runs the program in many folders: the first run measures, the
// rest find the count in the cache.
TEST_F(CalibrationTest, OneMeasurementServesEveryFolderThroughTheCache) {
  CalibrationPlaces places;
  places.cacheFolder = dir_.file("home/.cache/tarnwick");
  for (const char* folder : {"first", "second"}) {
    SCOPED_TRACE(folder);
    ASSERT_EQ(mkdir(dir_.file(folder).c_str(), 0755), 0);
    ASSERT_EQ(chdir(dir_.file(folder).c_str()), 0);
    calibrateDelay(console_, places);
    EXPECT_FALSE(fileExists("gcal.txt"));
  }
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............\n");
  EXPECT_EQ(readFile(places.cacheFolder + "/gcal.txt"), std::to_string(loopsPerMicrosecond()));
  struct stat info;
  ASSERT_EQ(stat(places.cacheFolder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(CalibrationTest, TheFolderOwnGcalComesFirstAndKeepsItsMeasurements) {
  CalibrationPlaces places;
  places.cacheFolder = dir_.file("cache");
  ASSERT_TRUE(makeUserFolder(places.cacheFolder));
  writeFile(places.cacheFolder + "/gcal.txt", "300");
  writeFile("gcal.txt", "250");
  calibrateDelay(console_, places);
  EXPECT_EQ(loopsPerMicrosecond(), 250);

  // A folder's unusable count is measured again into the folder, not the cache.
  writeFile("gcal.txt", "0");
  calibrateDelay(console_, places);
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............\n");
  EXPECT_EQ(readFile("gcal.txt"), std::to_string(loopsPerMicrosecond()));
  EXPECT_EQ(readFile(places.cacheFolder + "/gcal.txt"), "300");

  std::remove("gcal.txt");
  console_.clearOutput();
  calibrateDelay(console_, places);
  EXPECT_EQ(loopsPerMicrosecond(), 300);
  EXPECT_EQ(console_.output(), "");
}

// The cache is the program's own file: one that holds no count is measured
// over rather than keeping the built-in count on every later run.
TEST_F(CalibrationTest, ACacheWithoutACountIsMeasuredOver) {
  CalibrationPlaces places;
  places.cacheFolder = dir_.file("cache");
  ASSERT_TRUE(makeUserFolder(places.cacheFolder));
  writeFile(places.cacheFolder + "/gcal.txt", "junk");
  calibrateDelay(console_, places);
  EXPECT_EQ(console_.output(), "\nCalibrating delay .............\n");
  EXPECT_EQ(readFile(places.cacheFolder + "/gcal.txt"), std::to_string(loopsPerMicrosecond()));
}

TEST(UserFolders, XdgVariablesFirstThenHome) {
  std::map<std::string, std::string> saved;
  for (const char* name : {"XDG_CACHE_HOME", "XDG_STATE_HOME", "HOME"}) {
    if (const char* value = std::getenv(name)) saved[name] = value;
  }
  setenv("HOME", "/home/ann", 1);
  setenv("XDG_CACHE_HOME", "/var/cache/ann", 1);
  unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(userFolder(UserFolder::kCache, "tarnwick"), "/var/cache/ann/tarnwick");
  EXPECT_EQ(userFolder(UserFolder::kState, "pellory"), "/home/ann/.local/state/pellory");
  EXPECT_EQ(calibrationPlaces("pellory").cacheFolder, "/var/cache/ann/pellory");
  // A relative value is ignored, as XDG's rules say.
  setenv("XDG_CACHE_HOME", "cache", 1);
  setenv("XDG_STATE_HOME", "/state", 1);
  EXPECT_EQ(userFolder(UserFolder::kCache, "tarnwick"), "/home/ann/.cache/tarnwick");
  EXPECT_EQ(userFolder(UserFolder::kState, "tarnwick"), "/state/tarnwick");
  unsetenv("HOME");
  EXPECT_EQ(userFolder(UserFolder::kCache, "tarnwick"), "");
  for (const char* name : {"XDG_CACHE_HOME", "XDG_STATE_HOME", "HOME"}) {
    auto found = saved.find(name);
    if (found == saved.end()) {
      unsetenv(name);
    } else {
      setenv(name, found->second.c_str(), 1);
    }
  }
}

}  // namespace
