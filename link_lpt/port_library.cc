#include "link_lpt/port_library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

constexpr int kSlotCount = 13;
constexpr int kSetPortBitSlot = 6;
constexpr int kClrPortBitSlot = 7;
constexpr int kGetPortBitSlot = 9;
constexpr const char* kLibraryName = "libio.so";

void* libraryHandle = nullptr;
void* slots[kSlotCount] = {};
std::string lastError;
int exitRegistrations = 0;

void clearSlots() {
  for (void*& slot : slots) slot = nullptr;
}

// Functions and data pointers share one representation on every platform
// with a dynamic loader; dlsym's contract relies on it.
template <typename Fn>
Fn slotAs(int index) {
  return reinterpret_cast<Fn>(slots[index]);
}

void releaseAtExit() {
  unbindPortLibrary();
}

}  // namespace

int bindPortLibrary() {
  const char* override = std::getenv("PELLORY_PORT_LIBRARY");
  return bindPortLibraryFrom(override && *override ? override : kLibraryName);
}

int bindPortLibraryFrom(const std::string& path) {
  unbindPortLibrary();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    lastError = reason ? reason : path + ": cannot be loaded";
    return 1;
  }
  dlerror();
  for (int i = 0; i < kSlotCount; ++i) slots[i] = dlsym(handle, kPortIoNames[i]);
  for (int used : {kSetPortBitSlot, kClrPortBitSlot, kGetPortBitSlot}) {
    if (!slots[used]) {
      // Every port access goes through these three; a library without one of
      // them is as good as none.
      lastError = path + ": undefined symbol: " + kPortIoNames[used];
      clearSlots();
      dlclose(handle);
      return 1;
    }
  }
  libraryHandle = handle;
  lastError.clear();
  if (exitRegistrations == 0) {
    std::atexit(releaseAtExit);
    ++exitRegistrations;
  }
  return 0;
}

void unbindPortLibrary() {
  clearSlots();
  if (libraryHandle) dlclose(libraryHandle);
  libraryHandle = nullptr;
}

double portLibraryTimeScale() {
  if (!libraryHandle) return 1.0;
  using TimeScaleFn = double (*)();
  auto timeScale = reinterpret_cast<TimeScaleFn>(dlsym(libraryHandle, "PellorySimTimeScale"));
  return timeScale ? timeScale() : 1.0;
}

const std::string& portLibraryError() {
  return lastError;
}

PortBits boundPortBits() {
  PortBits bits;
  bits.setBit = slotAs<SetPortBitFn>(kSetPortBitSlot);
  bits.clearBit = slotAs<ClrPortBitFn>(kClrPortBitSlot);
  bits.getBit = slotAs<GetPortBitFn>(kGetPortBitSlot);
  return bits;
}

bool portLibrarySlotFilled(int index) {
  return index >= 0 && index < kSlotCount && slots[index] != nullptr;
}

int portLibraryExitRegistrations() {
  return exitRegistrations;
}
