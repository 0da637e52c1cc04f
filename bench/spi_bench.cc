// Time per exchanged SPI byte on the Marlow link, through the simulated cable,
// with this machine's real delay calibration. A byte is nominally 71 delay
// units (7 lead-in, 8 bits of 8); the ratio shows what the single-bit port
// calls and the countdown's calibration error add on top. The same loop on a
// port whose calls do nothing separates the two. The cable is measured again
// with a processor hog running beside it (one busy process per processor), and
// the simulated cable's count of SCK phases under 2 target clock cycles (1 MHz,
// the factory clock) is printed at the end.
//
// Usage: spi_bench [bytes]   (10000 by default)

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link_lpt/port_library.h"
#include "link_lpt/spi_bitbang.h"
#include "timing/delay.h"

namespace {

constexpr double kNominalUnitsPerByte = 71.0;

void noSet(uint16_t, uint8_t) {}
int16_t noGet(uint16_t, uint8_t) {
  return 0;
}

void calibrate() {
  double best = measureLoopTime();
  for (int i = 0; i < 4; ++i) {
    double again = measureLoopTime();
    if (again < best) best = again;
  }
  setLoopsPerMicrosecond(loopsFromMicrosecondsPerIteration(best));
}

struct ByteTime {
  double wallMicros;
  double cpuMicros;  // this process on a processor; below wall when it was preempted
};

double processCpuMicros() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

ByteTime microsecondsPerByte(const MarlowPort& port, long bytes) {
  auto start = std::chrono::steady_clock::now();
  double cpuStart = processCpuMicros();
  unsigned sink = 0;
  for (long i = 0; i < bytes; ++i) sink += spiExchangeByte(port, static_cast<uint8_t>(i));
  auto end = std::chrono::steady_clock::now();
  double cpu = processCpuMicros() - cpuStart;
  if (sink == 0xFFFFFFFFu) std::printf(" ");
  return {std::chrono::duration<double, std::micro>(end - start).count() / bytes, cpu / bytes};
}

void report(const char* label, ByteTime time) {
  std::printf("%-28s %8.2f us/byte   ratio to %.0f units: %.3f   (on a processor %.2f us, %.3f)\n",
              label, time.wallMicros, kNominalUnitsPerByte, time.wallMicros / kNominalUnitsPerByte,
              time.cpuMicros, time.cpuMicros / kNominalUnitsPerByte);
}

// One busy child per processor, until stopHogs.
std::vector<pid_t> startHogs() {
  std::vector<pid_t> hogs;
  long processors = sysconf(_SC_NPROCESSORS_ONLN);
  for (long i = 0; i < (processors > 0 ? processors : 1); ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      volatile unsigned long spin = 0;
      for (;;) spin = spin + 1;
    }
    if (pid > 0) hogs.push_back(pid);
  }
  return hogs;
}

void stopHogs(const std::vector<pid_t>& hogs) {
  for (pid_t pid : hogs) kill(pid, SIGKILL);
  for (pid_t pid : hogs) waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  long bytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  if (bytes <= 0) {
    std::fprintf(stderr, "spi_bench: the byte count must be a positive number\n");
    return 2;
  }
  setenv("PELLORY_SIM_TIME_SCALE", "1", 0);
  char statsPath[] = "/tmp/spi_bench_statsXXXXXX";
  int statsFile = mkstemp(statsPath);
  if (statsFile >= 0) close(statsFile);
  setenv("PELLORY_SIM_STATS", statsPath, 1);
  std::string library = std::string(AVRISP_BINARY_DIR) + "/sim/libio.so";
  if (bindPortLibraryFrom(library) != 0) {
    std::fprintf(stderr, "spi_bench: can't load %s: %s\n", library.c_str(),
                 portLibraryError().c_str());
    return 1;
  }
  calibrate();
  std::printf("loops per microsecond: %d, %ld bytes\n", loopsPerMicrosecond(), bytes);

  MarlowPort idle{{noSet, noSet, noGet}, 0x378, 0x379};
  report("delays only (no port)", microsecondsPerByte(idle, bytes));

  MarlowPort cable{boundPortBits(), 0x378, 0x379};
  if (!cablePresent(cable)) {
    std::fprintf(stderr, "spi_bench: the simulated cable does not answer\n");
    return 1;
  }
  prepareLines(cable);
  setDataLine(cable, kResetLine, 0);
  setDataLine(cable, kResetLeadLine, 0);
  delayUnits(30000);
  report("simulated cable", microsecondsPerByte(cable, bytes));
  std::vector<pid_t> hogs = startHogs();
  report("simulated cable, under load", microsecondsPerByte(cable, bytes));
  stopHogs(hogs);

  // The cable writes its summary when it is reset; the library stays loaded.
  if (void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    if (auto reset = reinterpret_cast<void (*)()>(dlsym(handle, "PellorySimReset"))) reset();
  }
  std::ifstream stats(statsPath);
  std::stringstream summary;
  summary << stats.rdbuf();
  std::printf("simulated cable: %s", summary.str().c_str());
  std::remove(statsPath);
  return 0;
}
