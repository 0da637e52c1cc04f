#pragma once
// Folders for the output-file tests that need root: a sticky world-writable
// folder like /tmp with a link planted by another user, and a tiny tmpfs that
// fills up.

#include <sys/types.h>

#include <string>

bool runningAsRoot();

// The user that plants links: nobody.
constexpr uid_t kOtherUser = 65534;

// Makes `path` a folder with mode 01777, as /tmp is.
bool makeStickyFolder(const std::string& path);

// A symbolic link at `linkPath` to `target`, owned by `owner`.
bool plantLink(const std::string& linkPath, const std::string& target, uid_t owner);

// A tmpfs of a few pages mounted at `path` (created) until destroyed.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& path);
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  // Writes a filler file until the file system has no room left.
  void fill();
  // Names in the folder other than the filler.
  std::string otherNames() const;

 private:
  std::string path_;
  bool mounted_ = false;
};
