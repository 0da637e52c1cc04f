#include "link_usb/port_diagnosis.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

bool startsWith(const std::string& text, const char* start) {
  return text.compare(0, std::strlen(start), start) == 0;
}

std::string resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string firstLineOf(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return "";
  char buffer[64] = {};
  std::string line = std::fgets(buffer, sizeof buffer, file) ? buffer : "";
  std::fclose(file);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::vector<std::string> byIdLinks(const DeviceFolders& folders) {
  std::vector<std::string> paths;
  std::string byId = folders.dev + "/serial/by-id";
  for (const std::string& name : entriesOf(byId)) paths.push_back(byId + "/" + name);
  return paths;
}

std::vector<std::string> usbTtys(const DeviceFolders& folders) {
  std::vector<std::string> paths;
  for (const char* stem : {"ttyUSB", "ttyACM"}) {
    for (const std::string& name : entriesOf(folders.dev)) {
      if (startsWith(name, stem)) paths.push_back(folders.dev + "/" + name);
    }
  }
  return paths;
}

std::string advice(const std::string& device, int error, const DeviceFolders& folders) {
  switch (error) {
    case EACCES:
      return "  Serial devices belong to the dialout group: add yourself with\n"
             "  'sudo usermod -aG dialout $USER', then log in again.\n";
    case ENOENT:
      return "  Is the Korvo plugged in? Its device appears when it is.\n";
    case EBUSY: {
      std::vector<std::string> holders = portHolders(device, folders);
      if (holders.empty()) return "  Another program holds it; close that program first.\n";
      std::string text = "  It is held by";
      for (size_t i = 0; i < holders.size(); ++i) text += (i ? ", " : " ") + holders[i];
      return text + "; close that program first.\n";
    }
    default:
      return "";
  }
}

}  // namespace

DeviceFolders deviceFoldersFromEnvironment() {
  DeviceFolders folders;
  const char* dev = std::getenv("TARNWICK_DEV_ROOT");
  if (dev != nullptr && dev[0] != '\0') folders.dev = dev;
  return folders;
}

std::vector<std::string> serialDevicePaths(const DeviceFolders& folders) {
  std::vector<std::string> paths = byIdLinks(folders);
  std::vector<std::string> ttys = usbTtys(folders);
  paths.insert(paths.end(), ttys.begin(), ttys.end());
  return paths;
}

std::vector<std::string> usbSerialDevices(const DeviceFolders& folders) {
  std::vector<std::string> found = byIdLinks(folders);
  if (found.empty()) found = usbTtys(folders);
  return found;
}

std::string onlySerialDevice(const DeviceFolders& folders) {
  std::vector<std::string> found = usbSerialDevices(folders);
  return found.size() == 1 ? found.front() : std::string();
}

std::vector<std::string> serialDevicesPresent(const DeviceFolders& folders) {
  std::vector<std::string> lines;
  for (const std::string& path : serialDevicePaths(folders)) {
    std::string target = path.compare(0, folders.dev.size() + 8, folders.dev + "/serial/") == 0
                             ? resolved(path)
                             : std::string();
    lines.push_back(target.empty() ? path : path + " -> " + target);
  }
  return lines;
}

std::vector<std::string> portHolders(const std::string& device, const DeviceFolders& folders) {
  std::vector<std::string> holders;
  std::string target = resolved(device);
  if (target.empty()) return holders;
  for (const std::string& pid : entriesOf(folders.proc)) {
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string fdFolder = folders.proc + "/" + pid + "/fd";
    for (const std::string& fd : entriesOf(fdFolder)) {
      char link[PATH_MAX];
      ssize_t length = readlink((fdFolder + "/" + fd).c_str(), link, sizeof link - 1);
      if (length <= 0 || std::string(link, static_cast<size_t>(length)) != target) continue;
      holders.push_back(pid + " (" + firstLineOf(folders.proc + "/" + pid + "/comm") + ")");
      break;
    }
  }
  return holders;
}

std::string explainPortError(const std::string& device, int error, const DeviceFolders& folders) {
  std::string text = device + ": " + std::strerror(error) + "\n" + advice(device, error, folders);
  std::vector<std::string> present = serialDevicesPresent(folders);
  if (present.empty()) {
    text += "No serial devices found (looked for " + folders.dev + "/serial/by-id/*, " +
            folders.dev + "/ttyUSB*, " + folders.dev + "/ttyACM*).\n";
  } else {
    text += "Serial devices present (choose one with --port DEVICE):\n";
    for (const std::string& line : present) text += "  " + line + "\n";
  }
  return text;
}
