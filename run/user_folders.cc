#include "run/user_folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

std::string userFolder(UserFolder kind, const std::string& programName) {
  const char* variable = kind == UserFolder::kCache ? "XDG_CACHE_HOME" : "XDG_STATE_HOME";
  const char* underHome = kind == UserFolder::kCache ? "/.cache/" : "/.local/state/";
  const char* xdg = std::getenv(variable);
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/" + programName;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + underHome + programName;
  return std::string();
}

bool makeUserFolder(const std::string& path) {
  if (path.empty()) return false;
  // Each folder from the top down; the ones that exist are left as they are.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> configurationFilePlaces(const std::string& programName,
                                                 const std::string& fileName) {
  std::vector<std::string> places = {"./" + fileName};
  // XDG's base-directory rules ignore a relative XDG_CONFIG_HOME.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    places.push_back(std::string(xdg) + "/" + programName + "/" + fileName);
  } else if (home != nullptr && home[0] != '\0') {
    places.push_back(std::string(home) + "/.config/" + programName + "/" + fileName);
  }
  const char* etc = std::getenv("AVRISP_ETC_ROOT");
  places.push_back(std::string(etc != nullptr && etc[0] != '\0' ? etc : "/etc") + "/" +
                   programName + "/" + fileName);
  return places;
}
