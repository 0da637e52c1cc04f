#pragma once
// A fresh temporary directory that a test works in; removed with everything in
// it when the test ends, and the previous working directory restored.

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Makes the directory the current one until the TempDir goes away.
  void enter();

 private:
  std::string path_;
  std::string previous_;
};

// Whole-file helpers for tests.
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
