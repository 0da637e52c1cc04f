#pragma once
// What to tell a user whose serial port would not open: the device, the
// system's reason and what to do about it, and the serial devices that are
// there to pick from instead.

#include <string>
#include <vector>

// Where the listing and the search for a port's holder look; tests point
// them at folders of their own.
struct DeviceFolders {
  std::string dev = "/dev";
  std::string proc = "/proc";
};

// /dev and /proc, with TARNWICK_DEV_ROOT replacing /dev.
DeviceFolders deviceFoldersFromEnvironment();

// The serial devices present as paths: every /dev/serial/by-id entry, then
// every /dev/ttyUSB* and /dev/ttyACM*, each group sorted.
std::vector<std::string> serialDevicePaths(const DeviceFolders& folders);

// The USB serial devices present, each once: the by-id links when there are
// any (each stands for a ttyUSB or ttyACM device), else ttyUSB* and ttyACM*.
std::vector<std::string> usbSerialDevices(const DeviceFolders& folders);

// The one USB serial device present, when there is exactly one: counted among
// the by-id links when there are any (each stands for a ttyUSB or ttyACM
// device, which would otherwise be counted twice), else among ttyUSB* and
// ttyACM*. Empty when there is none or more than one.
std::string onlySerialDevice(const DeviceFolders& folders);

// The serial devices present, one a line: each /dev/serial/by-id entry with
// the device it points to ("/dev/serial/by-id/NAME -> /dev/ttyUSB0"), then every
// /dev/ttyUSB* and /dev/ttyACM*, each group sorted.
std::vector<std::string> serialDevicesPresent(const DeviceFolders& folders);

// The processes that hold `device` open, as "PID (NAME)"; only those whose
// file descriptors we may look at.
std::vector<std::string> portHolders(const std::string& device, const DeviceFolders& folders);

// The lines printed after the port error, each ending in a newline:
// "DEVICE: REASON", advice for EACCES, ENOENT and EBUSY, and the devices
// present.
std::string explainPortError(const std::string& device, int error, const DeviceFolders& folders);
