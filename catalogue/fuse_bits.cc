#include "catalogue/fuse_bits.h"

#include "catalogue/avr_libc_parts.h"

// Every built-in part's bit table comes from avr-libc's headers, through the
// generated table (catalogue/avr_libc_parts.cc); a row that joins several
// parts has the first one's.

const PartFuseBits* findFuseBits(const uint8_t signature[3]) {
  const PartFuseBits* tables = avrLibcFuseBits();
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    const PartFuseBits& part = tables[i];
    if (part.signature[0] == signature[0] && part.signature[1] == signature[1] &&
        part.signature[2] == signature[2]) {
      return &part;
    }
  }
  return nullptr;
}
