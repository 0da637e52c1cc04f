#pragma once
// Little-endian ELF32 fields read byte by byte, so that neither the host's
// byte order nor the file's alignment matters, and the bounds check every
// reader of a header or a segment makes first.

#include <cstddef>
#include <cstdint>

inline uint32_t elfField(const char* at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = bytes; i > 0; --i) value = value << 8 | static_cast<uint8_t>(at[i - 1]);
  return value;
}

#define ELF_FIELD(base, type, member) \
  elfField((base) + offsetof(type, member), sizeof(static_cast<type*>(nullptr)->member))

// Whether `length` bytes from `offset` lie within a file of `size` bytes.
inline bool elfInside(uint64_t offset, uint64_t length, size_t size) {
  return offset <= size && length <= size - offset;
}
