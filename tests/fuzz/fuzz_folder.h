#pragma once
// A private temporary folder that a fuzz target works in: made and entered once,
// emptied after each input, removed at exit. No input can name a file outside
// it, since the targets take every '/' out of their input.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_folder {

inline std::string& path() {
  static std::string folder;
  return folder;
}

inline void empty() {
  if (DIR* listing = ::opendir(path().c_str())) {
    while (dirent* entry = ::readdir(listing)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((path() + "/" + name).c_str());
    }
    ::closedir(listing);
  }
}

inline void enter() {
  char folder[] = "/tmp/avrisp-fuzz-XXXXXX";
  if (::mkdtemp(folder) == nullptr || ::chdir(folder) != 0) {
    std::perror("fuzz folder");
    std::abort();
  }
  path() = folder;
  std::atexit([] {
    empty();
    ::rmdir(path().c_str());
  });
}

}  // namespace fuzz_folder
