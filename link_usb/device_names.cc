#include "link_usb/device_names.h"

#include <cstdlib>

#include "run/run_settings.h"

std::string programmerDevicePath(const RunSettings& settings, const char* prefix) {
  if (!settings.comDevicePath.empty()) {
    return settings.comDevicePath;
  }
  std::string name = prefix != nullptr && prefix[0] != '\0' ? prefix : kDefaultTtyPrefix;
  return name + std::to_string(settings.comChannel);
}

std::string programmerDevicePath(const RunSettings& settings) {
  return programmerDevicePath(settings, std::getenv("TARNWICK_TTY_PREFIX"));
}
