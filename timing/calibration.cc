#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "image/output_file.h"
#include "run/output_sink.h"
#include "run/regular_file.h"
#include "run/user_folders.h"
#include "timing/delay.h"

namespace {

constexpr int32_t kIterationsPerRun = 80000000;
constexpr int kRuns = 13;

// Reads the leading optionally signed decimal integer of the file; false when
// the file does not start (after blanks) with one.
bool readLoopCount(std::FILE* file, int32_t& value) {
  long number = 0;
  if (std::fscanf(file, "%ld", &number) != 1) return false;
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  value = static_cast<int32_t>(number);
  return true;
}

enum class Stored { kMissing, kNotANumber, kUnusable, kLoaded };

// Reads the loop count kept at `path` into the delay.
Stored loadLoopCount(const std::string& path, OutputSink& console) {
  // A link that may not be written through is not read either: its number
  // would set every wait of the run. A FIFO or a device in its place must not
  // stall the start.
  std::string refusal;
  std::FILE* file = outputLinkPermitted(path, refusal) ? openRegularStream(path, console) : nullptr;
  if (file == nullptr) return Stored::kMissing;
  int32_t value = 0;
  bool haveNumber = readLoopCount(file, value);
  std::fclose(file);
  if (!haveNumber) return Stored::kNotANumber;
  // 0 or negative cannot time anything: measure afresh as if it were missing.
  if (value <= 0) return Stored::kUnusable;
  setLoopsPerMicrosecond(value > kMaxLoopsPerMicrosecond ? kMaxLoopsPerMicrosecond : value);
  return Stored::kLoaded;
}

}  // namespace

CalibrationPlaces calibrationPlaces(const std::string& programName) {
  CalibrationPlaces places;
  places.cacheFolder = userFolder(UserFolder::kCache, programName);
  return places;
}

int32_t loopsFromMicrosecondsPerIteration(double microsecondsPerIteration) {
  if (!(microsecondsPerIteration > 0.0)) return kMaxLoopsPerMicrosecond;
  double loops = std::trunc(1.0 / microsecondsPerIteration);
  if (loops < 1.0) return 1;
  if (loops > kMaxLoopsPerMicrosecond) return kMaxLoopsPerMicrosecond;
  return static_cast<int32_t>(loops);
}

double measureLoopTime() {
  // A run on which the processor clock did not move says nothing; run longer
  // until it does rather than divide by zero.
  int64_t iterations = kIterationsPerRun;
  for (;;) {
    std::clock_t start = std::clock();
    for (int64_t done = 0; done < iterations; done += kIterationsPerRun) {
      busyCountdown(kIterationsPerRun);
    }
    std::clock_t end = std::clock();
    double seconds = static_cast<double>(end - start) / CLOCKS_PER_SEC;
    if (seconds > 0.0) {
      double microsecondsPerIteration = seconds / static_cast<double>(iterations) * 1000000.0;
      setLoopsPerMicrosecond(loopsFromMicrosecondsPerIteration(microsecondsPerIteration));
      return microsecondsPerIteration;
    }
    iterations *= 2;
  }
}

void calibrateDelay(OutputSink& console, const std::string& path) {
  CalibrationPlaces places;
  places.local = path;
  calibrateDelay(console, places);
}

void calibrateDelay(OutputSink& console, const CalibrationPlaces& places) {
  Stored local = loadLoopCount(places.local, console);
  if (local == Stored::kLoaded) return;
  if (local == Stored::kNotANumber) return;  // the built-in value stays, file untouched
  // A gcal.txt of the folder's own is kept up to date where it is; otherwise
  // the measurement serves every folder from the user's cache.
  std::string path = places.local;
  if (local == Stored::kMissing && !places.cacheFolder.empty()) {
    path = places.cacheFolder + "/gcal.txt";
    if (loadLoopCount(path, console) == Stored::kLoaded) return;
  }
  console.print("\nCalibrating delay ");
  float runs[kRuns];
  float total = 0.0f;
  for (int i = 0; i < kRuns; ++i) {
    runs[i] = static_cast<float>(measureLoopTime());
    total += runs[i];
    console.print(".");
    console.flush();
  }
  setLoopsPerMicrosecond(loopsFromMicrosecondsPerIteration(static_cast<double>(total / kRuns)));
  console.print("\n");
  // A FIFO or device in its place was reported and is left alone: writing
  // to it could block for ever or pour the count into a device.
  struct stat existing;
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return;
  // Written whole or not at all: an empty gcal.txt left by a full disk would
  // hold no number, and every later start would keep the built-in count
  // instead of measuring.
  const std::string count = std::to_string(loopsPerMicrosecond());
  if (path != places.local) makeUserFolder(places.cacheFolder);
  OutputFile out;
  if (!out.open(path) || !out.write(count.data(), count.size()) || !out.commit()) {
    console.print("Can't write gcal.txt\n");
    console.print("   %s: %s\n", path.c_str(), out.error().c_str());
  }
}
