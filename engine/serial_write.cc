#include "engine/serial_write.h"

#include <cstdio>

#include "catalogue/part_record.h"
#include "engine/isp_instructions.h"
#include "engine/isp_link.h"
#include "run/session.h"

namespace {

std::string hexAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", address);
  return text;
}

bool checkRange(uint32_t address, size_t count, int32_t size, const char* memory,
                std::string& reason) {
  if (size > 0 && address + count <= static_cast<uint32_t>(size)) return true;
  reason = "The serial number at " + hexAddress(address) + " does not fit the " + memory + " of " +
           std::to_string(size) + " bytes";
  return false;
}

}  // namespace

bool writeEepromBytes(Session& session, uint32_t address, const std::vector<uint8_t>& bytes,
                      std::string& reason) {
  const PartRecord* part = session.currentPart();
  if (part == nullptr) {
    reason = "Target processor not recognized";
    return false;
  }
  if (!checkRange(address, bytes.size(), part->eepromBytes, "EEPROM", reason)) return false;
  IspLink& link = *session.link;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint16_t at = static_cast<uint16_t>(address + i);
    ispWriteEepromByte(link, at, bytes[i]);
    if (link.waitReady() < 0) {
      reason = "Timeout writing the serial number to EEPROM " + hexAddress(at);
      return false;
    }
  }
  std::vector<uint8_t> back(bytes.size());
  ispReadEepromBytes(link, static_cast<uint16_t>(address), back.size(), back.data());
  if (back != bytes) {
    reason = "The serial number read back from EEPROM " + hexAddress(address) + " differs";
    return false;
  }
  return true;
}

bool writeFlashBytes(Session& session, uint32_t address, const std::vector<uint8_t>& bytes,
                     std::string& reason) {
  const PartRecord* part = session.currentPart();
  if (part == nullptr) {
    reason = "Target processor not recognized";
    return false;
  }
  if (!checkRange(address, bytes.size(), part->flashBytes, "flash", reason)) return false;
  const uint32_t pageBytes = 2 * static_cast<uint32_t>(part->flashPageWords);
  if (address / pageBytes != (address + bytes.size() - 1) / pageBytes) {
    reason = "The serial number at " + hexAddress(address) + " crosses a flash page";
    return false;
  }
  IspLink& link = *session.link;
  const uint32_t pageStart = address / pageBytes * pageBytes;
  const uint32_t firstWord = pageStart / 2;
  // Parts of 128 KB and less have no extended address to select.
  if (part->flashBytes > 0x20000)
    ispLoadExtendedAddress(link, static_cast<uint8_t>(firstWord >> 16));
  std::vector<uint8_t> page(pageBytes);
  ispReadFlashBytes(link, pageStart, page.size(), page.data());
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t& cell = page[address - pageStart + i];
    // Flash bits only go from 1 to 0 without an erase.
    if (cell != 0xFF) {
      reason = "The flash at " + hexAddress(address) + " is not erased for the serial number";
      return false;
    }
    cell = bytes[i];
  }
  for (uint32_t w = 0; w < pageBytes / 2; ++w) {
    ispLoadPageLowByte(link, static_cast<uint8_t>(w), page[2 * w]);
    ispLoadPageHighByte(link, static_cast<uint8_t>(w), page[2 * w + 1]);
  }
  ispWritePage(link, static_cast<uint16_t>(firstWord));
  if (link.waitReady() < 0) {
    reason = "Timeout writing the serial number to flash " + hexAddress(address);
    return false;
  }
  std::vector<uint8_t> back(bytes.size());
  ispReadFlashBytes(link, address, back.size(), back.data());
  if (back != bytes) {
    reason = "The serial number read back from flash " + hexAddress(address) + " differs";
    return false;
  }
  return true;
}
