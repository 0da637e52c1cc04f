// The simulator's parts, from each part's datasheet: "Signature Bytes", "Page
// Size", the fuse tables with their factory defaults, and the "Minimum Wait Delay
// Before Writing the Next Flash or EEPROM Location" table of the serial
// programming chapter (t_WD_ERASE, t_WD_FLASH, t_WD_EEPROM, t_WD_FUSE).
//
// The calibration byte is trimmed per chip at the factory; the values here are
// typical readings, different per part so a test can tell them apart.

#include "sim/sim_parts.h"

#include <cctype>

namespace {

constexpr uint32_t kMs = 1000;

// t_WD_ERASE, t_WD_FLASH, t_WD_EEPROM and t_WD_FUSE, in microseconds.
#define WAITS_9_45_90_45 9 * kMs, 4500, 9 * kMs, 4500
// The ATmega48/88/168/328P family writes an EEPROM byte in 3.6 ms.
#define WAITS_9_45_36_45 9 * kMs, 4500, 3600, 4500

// clang-format off
const SimPart kParts[] = {
    //              signature           flash  page  eeprom ext?  high? fuses: low  high ext   calibration
    {"ATmega16",    {0x1E, 0x94, 0x03},  16384,  64,  512, false, true, 0xE1, 0x99, 0xFF, 0xA7, WAITS_9_45_90_45},
    {"ATmega32",    {0x1E, 0x95, 0x02},  32768,  64, 1024, false, true, 0xE1, 0x99, 0xFF, 0xA9, WAITS_9_45_90_45},
    {"ATmega48",    {0x1E, 0x92, 0x05},   4096,  32,  256,  true, true, 0x62, 0xDF, 0xFF, 0x9B, WAITS_9_45_36_45},
    {"ATmega88",    {0x1E, 0x93, 0x0A},   8192,  32,  512,  true, true, 0x62, 0xDF, 0xF9, 0x9C, WAITS_9_45_36_45},
    {"ATmega168",   {0x1E, 0x94, 0x06},  16384,  64,  512,  true, true, 0x62, 0xDF, 0xF9, 0x9D, WAITS_9_45_36_45},
    {"ATmega644",   {0x1E, 0x96, 0x09},  65536, 128, 2048,  true, true, 0x62, 0x99, 0xFF, 0xA2, WAITS_9_45_90_45},
    {"ATmega644P",  {0x1E, 0x96, 0x0A},  65536, 128, 2048,  true, true, 0x62, 0x99, 0xFF, 0xA3, WAITS_9_45_90_45},
    {"ATmega128",   {0x1E, 0x97, 0x02}, 131072, 128, 4096,  true, true, 0xE1, 0x99, 0xFD, 0xAB, WAITS_9_45_90_45},
    {"ATmega1280",  {0x1E, 0x97, 0x03}, 131072, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x8E, WAITS_9_45_90_45},
    {"ATmega1281",  {0x1E, 0x97, 0x04}, 131072, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x8F, WAITS_9_45_90_45},
    {"ATmega1284P", {0x1E, 0x97, 0x05}, 131072, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0xA4, WAITS_9_45_90_45},
    {"ATmega2560",  {0x1E, 0x98, 0x01}, 262144, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x90, WAITS_9_45_90_45},
    {"ATmega2561",  {0x1E, 0x98, 0x02}, 262144, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x91, WAITS_9_45_90_45},
    {"AT90USB162",  {0x1E, 0x94, 0x82},  16384,  64,  512,  true, true, 0x5E, 0xD9, 0xF4, 0x6C, WAITS_9_45_90_45},
    {"ATmega328P",  {0x1E, 0x95, 0x0F},  32768,  64, 1024,  true, true, 0x62, 0xD9, 0xFF, 0x9E, WAITS_9_45_36_45},
};
// clang-format on

#undef WAITS_9_45_90_45
#undef WAITS_9_45_36_45

bool sameNameIgnoringCase(std::string_view a, const char* b) {
  std::string_view other(b);
  if (a.size() != other.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(other[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const SimPart* findSimPart(std::string_view name) {
  for (const SimPart& part : kParts) {
    if (sameNameIgnoringCase(name, part.name)) return &part;
  }
  return nullptr;
}

const SimPart* simParts() {
  return kParts;
}

int simPartCount() {
  return static_cast<int>(sizeof(kParts) / sizeof(kParts[0]));
}
