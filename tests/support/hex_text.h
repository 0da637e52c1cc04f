#pragma once
// Intel HEX text for test images, written independently of the programs' own
// writer so that a fault there cannot hide one in the reader or the engine.

#include <cstdint>
#include <string>
#include <vector>

// 16-byte data records for `data` placed at `start`, with an extended linear
// address record (type 04) before each 64 KiB block, and the end record.
std::string intelHexText(const std::vector<uint8_t>& data, uint32_t start = 0);

// `size` bytes from a fixed seed, so a failure can be reproduced.
std::vector<uint8_t> randomBytes(size_t size, uint32_t seed);
