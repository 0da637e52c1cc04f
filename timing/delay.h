#pragma once
// The wait behind every pause of the programming timing. One delay unit is one
// microsecond of the monotonic clock; the loop speed, measured once per machine
// and kept in "gcal.txt", paces how often a spinning wait reads the clock.

#include <cstdint>
#include <string>

class OutputSink;

constexpr int32_t kDefaultLoopsPerMicrosecond = 172;
// 60000 units is the longest wait; keeping the loop count below this bound keeps
// 60000 x loops inside a signed 32-bit product.
constexpr int32_t kMaxLoopsPerMicrosecond = 35790;

int32_t loopsPerMicrosecond();
void setLoopsPerMicrosecond(int32_t loops);  // tests and start-up only

// Runs the countdown loop `count` times; never folded away by the optimiser.
void busyCountdown(int32_t count);
// Waits from this length on are the chip's datasheet times (RESET settling,
// fuse and fixed write waits): they sleep on the monotonic clock and spin only
// their last stretch, so a run that waits on its target leaves the processor
// to others. The short ones (SPI clock phases, RESET steps, the gap between
// busy polls) spin throughout: a sleep cannot be woken that precisely.
constexpr int32_t kSleepingUnits = 1000;

// Waits n units, one unit being one microsecond: never less than n
// microseconds of the monotonic clock, and on a quiet machine little more. The
// calibrated loop count sets how often the clock is read while spinning.
void delayUnits(int32_t n);

// The length of a unit against a microsecond: 1 always on real hardware. A
// simulated chip that runs its datasheet times faster (the simulated cable's
// time scale) has every wait shortened with them, in the same proportion, so
// whole-program runs against it keep the real ratios of the program's waits to
// the chip's. Between 0 and 1; anything else is taken as 1.
double delayTimeScale();
void setDelayTimeScale(double scale);  // pellory's start-up and tests only

// Microseconds per countdown iteration from one measuring run; also sets the
// loop count from that run.
double measureLoopTime();

// Loads "gcal.txt" from `path`, or measures (13 runs) and writes it.
void calibrateDelay(OutputSink& console, const std::string& path = "gcal.txt");

// Where the loop count is kept. The current folder's gcal.txt comes first and,
// when it is there, is where a new measurement goes. Without one, the count is
// read from and written to the user's cache folder, so that a machine is
// measured once rather than once per folder run in.
struct CalibrationPlaces {
  std::string local = "gcal.txt";
  std::string cacheFolder;  // empty: there is none, and the current folder serves
};
// The places for a program: its folder under $XDG_CACHE_HOME (~/.cache).
CalibrationPlaces calibrationPlaces(const std::string& programName);
void calibrateDelay(OutputSink& console, const CalibrationPlaces& places);

// What a calibration run measured, for tests: the loop count implied by a mean
// time per iteration, clamped to the range the waits can use.
int32_t loopsFromMicrosecondsPerIteration(double microsecondsPerIteration);
