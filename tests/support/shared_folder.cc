#include "tests/support/shared_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

bool runningAsRoot() {
  return ::geteuid() == 0;
}

bool makeStickyFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), 01777) == 0;
}

bool plantLink(const std::string& linkPath, const std::string& target, uid_t owner) {
  return ::symlink(target.c_str(), linkPath.c_str()) == 0 &&
         ::lchown(linkPath.c_str(), owner, owner) == 0;
}

SmallTmpfs::SmallTmpfs(const std::string& path) : path_(path) {
  ::mkdir(path.c_str(), 0755);
  mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=16k") == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  ::rmdir(path_.c_str());
}

void SmallTmpfs::fill() {
  int fd = ::open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  char block[512];
  std::memset(block, 'x', sizeof block);
  while (::write(fd, block, sizeof block) > 0) {
  }
  while (::write(fd, block, 1) > 0) {
  }
  ::close(fd);
}

std::string SmallTmpfs::otherNames() const {
  std::string names;
  if (DIR* folder = ::opendir(path_.c_str())) {
    while (dirent* entry = ::readdir(folder)) {
      std::string name = entry->d_name;
      if (name != "." && name != ".." && name != "filler") names += name + " ";
    }
    ::closedir(folder);
  }
  return names;
}
