#pragma once
// SHA-256 (FIPS 180-4) of a file's bytes, for the record of what went onto a
// board. Our own: a few dozen lines against a library dependency for one hash.

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void update(const uint8_t* data, size_t length);
  // The digest as 64 lower-case hexadecimal digits; ends the hash.
  std::string hexDigest();

 private:
  void compress(const uint8_t block[64]);

  uint32_t state_[8];
  uint8_t block_[64];
  size_t used_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of the regular file at `path`; false, with the reason, when it
// cannot be read.
bool sha256OfFile(const std::string& path, std::string& digest, std::string& reason);
