#include "link_lpt/parport_map.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

std::string rootFrom(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

bool isParportName(const char* name) {
  const char* prefix = "parport";
  size_t length = std::strlen(prefix);
  if (std::strncmp(name, prefix, length) != 0 || name[length] == '\0') return false;
  for (const char* p = name + length; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

std::vector<std::string> parportNames(const std::string& procRoot) {
  std::vector<std::string> names;
  DIR* dir = opendir((procRoot + "/sys/dev/parport").c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    if (isParportName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// base-addr reads "888\t1912": the base, then the ECP registers' base.
bool readBaseAddress(const std::string& path, long& base) {
  std::ifstream file(path);
  return static_cast<bool>(file >> base) && base >= 0 && base <= 0xFFFF;
}

std::string hexAddress(uint16_t address) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%x", address);
  return text;
}

}  // namespace

std::string parportProcRoot() {
  return rootFrom("LIBIO_PROC_ROOT", "/proc");
}
std::string parportDevRoot() {
  return rootFrom("LIBIO_DEV_ROOT", "/dev");
}

bool findParportDevice(const std::string& procRoot, const std::string& devRoot, uint16_t address,
                       ParportMatch& match) {
  bool found = false;
  for (const std::string& name : parportNames(procRoot)) {
    long base = 0;
    if (!readBaseAddress(procRoot + "/sys/dev/parport/" + name + "/base-addr", base)) continue;
    long offset = static_cast<long>(address) - base;
    if (offset < 0 || offset > 2) continue;
    // An address that is the data register of one port and the status register
    // of another belongs to the first.
    if (found && offset >= match.registerOffset) continue;
    match.device = devRoot + "/" + name;
    match.base = static_cast<uint16_t>(base);
    match.registerOffset = static_cast<int>(offset);
    found = true;
  }
  return found;
}

std::string noParportMessage(const std::string& devRoot, uint16_t address) {
  return "libio: no parallel port at " + hexAddress(address) + " (no " + devRoot +
         "/parport* with that base address; is the ppdev module loaded?)";
}

std::string parportFailureMessage(const char* action, const std::string& device, uint16_t address,
                                  int error) {
  std::string line = std::string("libio: can't ") + action + " " + device + " for port " +
                     hexAddress(address) + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM) line += " (the user must be in the 'lp' group)";
  return line;
}
