#pragma once
// Which device file stands for the programmer's port on Linux.

#include <string>

struct RunSettings;

constexpr const char* kDefaultTtyPrefix = "/dev/ttyS";

// A device path (from the configuration file or --port) as it stands; otherwise
// the prefix followed by the channel index, so COM1 is /dev/ttyS0. `prefix`
// null or empty means the default prefix.
std::string programmerDevicePath(const RunSettings& settings, const char* prefix);
// The same, with the prefix taken from TARNWICK_TTY_PREFIX.
std::string programmerDevicePath(const RunSettings& settings);
