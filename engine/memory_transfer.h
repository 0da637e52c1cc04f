#pragma once
// Whole memories between the target and the two images: read, program, verify.

#include <cstdint>

#include "run/memory_image.h"

struct Session;

int32_t readFlash(Session& session, int32_t n);  // returns n, or n + 1 when n is odd
void readEeprom(Session& session, int32_t n);
int32_t programFlash(Session& session, int32_t n);
int32_t programEeprom(Session& session, int32_t n);
// 1 when the first n bytes of both images are equal, else 0 (after printing the
// count, and writing the mismatch file when one was named).
int compareImages(Session& session, int32_t n);
// Length of `image` up to its last byte other than 0xFF within `size`; 0 when
// every byte is 0xFF.
int32_t usedLength(const ImageBuffer& image, int32_t size);

// The downloads of settings.downloadFileName. False when anything failed: the
// file, the part, a timeout, or a verification mismatch.
bool downloadFlash(Session& session);
bool downloadEeprom(Session& session);

// The same files compared with the target's flash or EEPROM, nothing written:
// the verification's lines and mismatch file. False when the file could not be
// used, or on any difference.
bool verifyFlashOnly(Session& session);
bool verifyEepromOnly(Session& session);
