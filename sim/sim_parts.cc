// The simulator's parts, from each part's datasheet: "Signature Bytes", "Page
// Size", the fuse tables with their factory defaults, and the "Minimum Wait Delay
// Before Writing the Next Flash or EEPROM Location" table of the serial
// programming chapter (t_WD_ERASE, t_WD_FLASH, t_WD_EEPROM, t_WD_FUSE).
//
// The calibration byte is trimmed per chip at the factory; the values here are
// typical readings, different per part so a test can tell them apart.
//
// Every other part comes from the generated table (catalogue/avr_libc_parts.h),
// with avr-libc's default fuses as the factory's and its family's waits
// (familyWaits), and from a parts.txt.

#include "sim/sim_parts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "catalogue/avr_libc_parts.h"
#include "catalogue/fuse_bits.h"
#include "catalogue/parts_file.h"
#include "run/regular_file.h"
#include "sim/datasheet_parts.h"

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
    // 8-byte EEPROM pages: 8272E-AVR-04/2013, 27.5 "Page Size", the EEPROM
    // table beside Table 27-7.
    {"ATmega1284P", {0x1E, 0x97, 0x05}, 131072, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0xA4, WAITS_9_45_90_45,
     2, 0x08, false, 0, false, true, 8},
    {"ATmega2560",  {0x1E, 0x98, 0x01}, 262144, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x90, WAITS_9_45_90_45},
    {"ATmega2561",  {0x1E, 0x98, 0x02}, 262144, 128, 4096,  true, true, 0x62, 0x99, 0xFF, 0x91, WAITS_9_45_90_45},
    {"AT90USB162",  {0x1E, 0x94, 0x82},  16384,  64,  512,  true, true, 0x5E, 0xD9, 0xF4, 0x6C, WAITS_9_45_90_45},
    {"ATmega328P",  {0x1E, 0x95, 0x0F},  32768,  64, 1024,  true, true, 0x62, 0xD9, 0xFF, 0x9E, WAITS_9_45_36_45},
};
// clang-format on

#undef WAITS_9_45_90_45
#undef WAITS_9_45_36_45

// The generated parts and those of a parts.txt, made once and kept for the
// run (SimPart holds plain pointers to them).
struct ExtraParts {
  std::deque<SimPart> generated;
  std::deque<SimPart> user;
  std::deque<std::string> userNames;
  bool generatedMade = false;
};

ExtraParts& extraParts() {
  static ExtraParts parts;
  return parts;
}

bool sameSignature(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

const SimPart* handWrittenBySignature(const uint8_t signature[3]) {
  for (const SimPart& part : kParts) {
    if (sameSignature(part.signature, signature)) return &part;
  }
  return nullptr;
}

// A part of the generated table or a parts.txt, as the simulator models it.
SimPart modelled(const char* name, const uint8_t signature[3], int32_t flashBytes,
                 int32_t pageWords, int32_t eepromBytes, int32_t fuseCount, bool defaultsKnown,
                 const uint8_t defaults[3], uint8_t calibration) {
  SimPart part{};
  part.name = name;
  std::memcpy(part.signature, signature, 3);
  part.flashBytes = static_cast<uint32_t>(flashBytes);
  part.flashPageWords = static_cast<uint32_t>(pageWords);
  part.eepromBytes = static_cast<uint32_t>(eepromBytes);
  part.fuseCount = static_cast<uint8_t>(fuseCount);
  part.hasExtendedFuse = fuseCount >= 3;
  part.hasHighFuse = fuseCount >= 2;
  // A new chip carries its defaults; where none are known, erased fuses.
  part.factoryLow = defaultsKnown ? defaults[2] : 0xFF;
  part.factoryHigh = defaultsKnown && fuseCount >= 2 ? defaults[1] : 0xFF;
  part.factoryExtended = defaultsKnown && fuseCount >= 3 ? defaults[0] : 0xFF;
  part.calibration = calibration;
  const FamilyWaits waits = familyWaits(name);
  part.chipEraseMicros = waits.chipErase;
  part.flashPageMicros = waits.flashPage;
  part.eepromByteMicros = waits.eepromByte;
  part.fuseMicros = waits.fuse;
  part.genericClock = true;
  part.eesaveFuse = 0;
  if (const PartFuseBits* bits = findFuseBits(signature)) {
    for (size_t i = 0; i < bits->bitCount; ++i) {
      if (std::strcmp(bits->bits[i].name, "EESAVE") == 0) {
        part.eesaveFuse = bits->bits[i].fuseNumber;
        part.eesaveMask = static_cast<uint8_t>(1u << bits->bits[i].bit);
      }
    }
  }
  return part;
}

void makeGeneratedParts() {
  ExtraParts& extra = extraParts();
  if (extra.generatedMade) return;
  extra.generatedMade = true;
  const AvrLibcPart* parts = avrLibcParts();
  for (int i = 0; i < avrLibcPartCount(); ++i) {
    const AvrLibcPart& p = parts[i];
    if (handWrittenBySignature(p.signature) != nullptr) continue;
    // A typical factory reading, different per part.
    const uint8_t calibration = static_cast<uint8_t>(0x60 + i % 0x40);
    extra.generated.push_back(modelled(p.name, p.signature, p.flashBytes, p.flashPageWords,
                                       p.eepromBytes, p.fuseCount, p.defaultsKnown,
                                       p.defaultFuses, calibration));
    if (p.eepromPageBytes > 0) {
      extra.generated.back().eepromPageBytes = static_cast<uint32_t>(p.eepromPageBytes);
    }
  }
}

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
  if (name.empty()) return nullptr;
  makeGeneratedParts();
  const ExtraParts& extra = extraParts();
  for (const SimPart& part : extra.user) {
    if (partNameMatches(part.name, name)) return &part;
  }
  const SimPart* found = nullptr;
  for (const SimPart& part : kParts) {
    if (sameNameIgnoringCase(name, part.name)) found = &part;
  }
  if (found == nullptr) {
    // Any name of a generated row: the hand-written part with its signature
    // ("ATmega48A" is the ATmega48), or the part made from the row.
    if (const AvrLibcPart* row = findAvrLibcPart(name)) {
      found = handWrittenBySignature(row->signature);
      for (const SimPart& part : extra.generated) {
        if (found == nullptr && sameSignature(part.signature, row->signature)) found = &part;
      }
    }
  }
  // A parts.txt part with the same signature stands in for the built-in one.
  if (found != nullptr) {
    for (const SimPart& part : extra.user) {
      if (sameSignature(part.signature, found->signature)) return &part;
    }
  }
  return found;
}

std::vector<const SimPart*> everySimPart() {
  makeGeneratedParts();
  std::vector<const SimPart*> every;
  for (const SimPart& part : kParts) every.push_back(&part);
  for (const SimPart& part : extraParts().generated) every.push_back(&part);
  for (const SimPart& part : extraParts().user) every.push_back(&part);
  return every;
}

int loadSimPartsFile(const std::string& path, std::vector<std::string>* messages) {
  std::string text, reason;
  if (!readRegularFileText(path, kPartsFileLimit, text, reason)) {
    const std::string line = unreadableFileLine(path, reason, kPartsFileLimit);
    if (!line.empty()) messages->push_back(line);
    return -1;
  }
  makeGeneratedParts();
  ExtraParts& extra = extraParts();
  int taken = 0;
  for (const PartsFileLine& line : parsePartsText(text)) {
    const std::string where = path + " line " + std::to_string(line.lineNumber) + ": ";
    if (!line.fault.empty()) {
      messages->push_back(where + line.fault + " - line skipped");
      continue;
    }
    const PartRecord& record = line.part;
    uint8_t defaults[3] = {record.defaultFuses[kExtendedFuseByte],
                           record.defaultFuses[kHighFuseByte], record.defaultFuses[kLowFuseByte]};
    extra.userNames.push_back(record.name);
    SimPart part = modelled(extra.userNames.back().c_str(), record.signature, record.flashBytes,
                            record.flashPageWords, record.eepromBytes, record.fuseCount,
                            !record.noDefaultFuses, defaults,
                            static_cast<uint8_t>(0xB0 + extra.user.size() % 0x40));
    part.fromPartsFile = true;
    bool replaced = false;
    for (SimPart& old : extra.user) {
      if (sameSignature(old.signature, part.signature)) {
        old = part;
        replaced = true;
      }
    }
    if (!replaced) extra.user.push_back(part);
    ++taken;
  }
  return taken;
}


// The datasheets' "Minimum Wait Delay Before Writing the Next Flash or EEPROM
// Location" tables: the ATtiny13/13A (erase 4.0 ms, EEPROM 4.0 ms); the
// ATmega48/88/168/328 family (EEPROM 3.6 ms). Other ATtiny parts take the
// family default stated here, the ATtiny2313's and ATtiny25/45/85's figures
// with the longer erase (9.0 ms erase, 4.5 ms flash, 4.0 ms EEPROM, 4.5 ms
// fuse); every other part the megaAVR default of the ATmega16/32/644 sheets
// (9.0, 4.5, 9.0, 4.5 ms).
FamilyWaits familyWaits(std::string_view name) {
  auto startsWith = [&](const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
      if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    }
    return true;
  };
  if (startsWith("attiny13")) return {4000, 4500, 4000, 4500};
  if (startsWith("attiny")) return {9 * kMs, 4500, 4000, 4500};
  for (const char* family : {"atmega48", "atmega88", "atmega168", "atmega328"}) {
    if (startsWith(family)) return {9 * kMs, 4500, 3600, 4500};
  }
  return {9 * kMs, 4500, 9 * kMs, 4500};
}

const SimPart* simParts() {
  return kParts;
}

int simPartCount() {
  return static_cast<int>(sizeof(kParts) / sizeof(kParts[0]));
}

const DatasheetPart* datasheetFactsFor(const SimPart& part) {
  const DatasheetPart* parts = datasheetParts();
  for (int i = 0; i < datasheetPartCount(); ++i) {
    if (parts[i].name != nullptr && partNameMatches(part.name, parts[i].name)) return &parts[i];
  }
  return findDatasheetPart(part.signature);
}

SimPart withDatasheetFacts(const SimPart& part, const DatasheetPart* facts) {
  SimPart chip = part;
  if (facts == nullptr) return chip;
  std::memcpy(chip.signature, facts->signature, 3);
  if (facts->fuseCount > 0) {
    chip.fuseCount = static_cast<uint8_t>(facts->fuseCount);
    chip.hasHighFuse = facts->fuseCount >= 2;
    chip.hasExtendedFuse = facts->fuseCount >= 3;
    chip.factoryExtended = facts->factoryFuses[0];
    chip.factoryHigh = facts->factoryFuses[1];
    chip.factoryLow = facts->factoryFuses[2];
  }
  chip.hasPollReady = facts->hasPollReady;
  auto known = [](uint32_t datasheet, uint32_t modelled) {
    return datasheet > 0 ? datasheet : modelled;
  };
  chip.chipEraseMicros = known(facts->eraseWaitMicros, chip.chipEraseMicros);
  chip.flashPageMicros = known(facts->flashWaitMicros, chip.flashPageMicros);
  chip.eepromByteMicros = known(facts->eepromWaitMicros, chip.eepromByteMicros);
  chip.fuseMicros = known(facts->fuseWaitMicros, chip.fuseMicros);
  chip.eepromPageBytes = static_cast<uint32_t>(std::max<int32_t>(facts->eepromPageBytes, 0));
  return chip;
}
