#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
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
// the file does not start (after blanks) with one. `whole` tells whether
// nothing but blanks follows it: only such a file is a count the program may
// measure over.
bool readLoopCount(std::FILE* file, int32_t& value, bool& whole) {
  long number = 0;
  whole = false;
  if (std::fscanf(file, "%ld", &number) != 1) return false;
  if (number > INT32_MAX) number = INT32_MAX;
  if (number < INT32_MIN) number = INT32_MIN;
  value = static_cast<int32_t>(number);
  // A few blanks and a line end are all a count has after it.
  for (int looked = 0; looked < 64; ++looked) {
    const int c = std::fgetc(file);
    if (c == EOF) {
      whole = true;
      break;
    }
    if (!std::isspace(c)) break;
  }
  return true;
}

// kLeftAlone: a symbolic link in gcal.txt's place that gave no usable count;
// it has been named, and is neither measured over nor written through.
enum class Stored { kMissing, kNotACount, kUnusable, kLoaded, kLeftAlone };

bool isSymbolicLink(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Reads the loop count kept at `path` into the delay.
Stored loadLoopCount(const std::string& path, OutputSink& console) {
  // A link that may not be written through is not read either: its number
  // would set every wait of the run. A FIFO or a device in its place must not
  // stall the start.
  const bool link = isSymbolicLink(path);
  std::string refusal;
  std::FILE* file = nullptr;
  if (!link) {
    file = openRegularStream(path, console);
  } else if (outputLinkPermitted(path, refusal)) {
    const int fd = openRegularFile(path, refusal);
    file = fd >= 0 ? ::fdopen(fd, "r") : nullptr;
    if (file == nullptr && fd >= 0) ::close(fd);
  }
  int32_t value = 0;
  bool haveNumber = false, whole = false;
  if (file != nullptr) {
    haveNumber = readLoopCount(file, value, whole);
    std::fclose(file);
  }
  // 0 or negative cannot time anything: measure afresh as if it were missing.
  if (haveNumber && value > 0) {
    setLoopsPerMicrosecond(value > kMaxLoopsPerMicrosecond ? kMaxLoopsPerMicrosecond : value);
    return Stored::kLoaded;
  }
  if (link) {
    console.print("%s is a symbolic link - left alone\n", path.c_str());
    return Stored::kLeftAlone;
  }
  if (file == nullptr) return Stored::kMissing;
  return haveNumber && whole ? Stored::kUnusable : Stored::kNotACount;
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
  if (local == Stored::kNotACount) {
    // Perhaps not ours at all ("0 important ledger"): the built-in value
    // stays and the file is untouched.
    console.print("%s holds no count - left alone\n", places.local.c_str());
    return;
  }
  // A gcal.txt of the folder's own is kept up to date where it is; otherwise
  // the measurement serves every folder from the user's cache.
  std::string path = places.local;
  if ((local == Stored::kMissing || local == Stored::kLeftAlone) && !places.cacheFolder.empty()) {
    path = places.cacheFolder + "/gcal.txt";
    // The cache folder is the program's own: a file there without a count is
    // measured over.
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
  // A link, FIFO or device in its place was named and is left alone: a link
  // would have the count written into a file that is not the program's, a
  // FIFO could block for ever.
  struct stat existing;
  if (::lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return;
  // Written whole or not at all: an empty gcal.txt left by a full disk would
  // hold no number, and every later start would keep the built-in count
  // instead of measuring.
  const std::string count = std::to_string(loopsPerMicrosecond());
  if (path != places.local) makeUserFolder(places.cacheFolder);
  OutputFile out;
  if (!out.openOwn(path) || !out.write(count.data(), count.size()) || !out.commit()) {
    console.print("Can't write gcal.txt\n");
    console.print("   %s: %s\n", path.c_str(), out.error().c_str());
  }
}
