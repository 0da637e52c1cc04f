#pragma once
// A few bytes written into a programmed chip and read back: a board's serial
// number after its firmware, without touching the bytes around it.

#include <cstdint>
#include <string>
#include <vector>

struct Session;

// Writes `bytes` at `address` of the EEPROM, byte by byte, or into the flash
// page that holds them (the page's other bytes as the chip has them), then
// reads them back. The target must be in programming mode. False, with the
// reason, on a failed wait, on flash bytes that are not erased there, or on a
// read-back that differs.
bool writeEepromBytes(Session& session, uint32_t address, const std::vector<uint8_t>& bytes,
                      std::string& reason);
bool writeFlashBytes(Session& session, uint32_t address, const std::vector<uint8_t>& bytes,
                     std::string& reason);
