#include "catalogue/fuse_meaning.h"

#include <cstring>

namespace {

constexpr const char* kSpienLost =
    "would be unprogrammed: serial programming stops working; only a high-voltage "
    "programmer can undo this";
constexpr const char* kResetDisabled =
    "would be programmed: the RESET pin becomes an I/O pin and serial programming stops "
    "working; only a high-voltage programmer can undo this";
constexpr const char* kDebugWireOn =
    "would be programmed: debugWIRE takes over the RESET pin and serial programming "
    "stops working; only a debugWIRE debugger or a high-voltage programmer can undo this";

constexpr const char* kReservedClock =
    "would select a clock code the datasheet calls reserved: the chip may never start "
    "its clock, and serial programming needs it; only a high-voltage programmer can undo "
    "this";

bool programmed(uint8_t value, const FuseBit& bit) {
  return (value & (1u << bit.bit)) == 0;
}

bool isIn(const FuseBit* bit, int fuseNumber) {
  return bit != nullptr && bit->fuseNumber == fuseNumber;
}

// Families by their clock bits: the ATtiny13's two CKSEL bits; the older
// megaAVR with CKOPT; the newer megaAVR with four CKSEL bits and a boot
// section; and, for any other four-bit part, only the codes they all share.
ClockSelection twoBitClock(unsigned code) {
  static const char* const kMeanings[] = {
      "external clock", "calibrated internal RC oscillator, 4.8 MHz",
      "calibrated internal RC oscillator, 9.6 MHz", "internal 128 kHz oscillator"};
  ClockSelection selection;
  selection.source = code == 0 ? ClockSource::kExternal : ClockSource::kInternal;
  selection.meaning = kMeanings[code & 3];
  return selection;
}

ClockSelection classicClock(unsigned code) {
  ClockSelection selection;
  selection.source = ClockSource::kExternal;
  if (code == 0) {
    selection.meaning = "external clock";
  } else if (code <= 4) {
    selection.source = ClockSource::kInternal;
    selection.meaning = "calibrated internal RC oscillator";
  } else if (code <= 8) {
    selection.meaning = "external RC oscillator";
  } else if (code == 9) {
    selection.meaning = "low-frequency crystal oscillator";
  } else {
    selection.meaning = "crystal or ceramic resonator";
  }
  return selection;
}

ClockSelection fourBitClock(unsigned code, bool megaWithBootSection) {
  ClockSelection selection;
  if (code == 0) {
    selection.source = ClockSource::kExternal;
    selection.meaning = "external clock";
  } else if (code == 2) {
    selection.source = ClockSource::kInternal;
    selection.meaning = "calibrated internal RC oscillator";
  } else if (code >= 8) {
    selection.source = ClockSource::kExternal;
    selection.meaning = "low-power crystal oscillator";
  } else if (megaWithBootSection && code == 3) {
    selection.source = ClockSource::kInternal;
    selection.meaning = "internal 128 kHz oscillator";
  } else if (megaWithBootSection && (code == 4 || code == 5)) {
    selection.source = ClockSource::kExternal;
    selection.meaning = "low-frequency crystal oscillator";
  } else if (megaWithBootSection && (code == 6 || code == 7)) {
    selection.source = ClockSource::kExternal;
    selection.meaning = "full-swing crystal oscillator";
  } else {
    selection.meaning = "reserved or particular to this part: see its datasheet";
  }
  return selection;
}

ClockSelection datasheetClock(const ClockTable& table, uint8_t low) {
  const int width = table.highBit - table.field.bit + 1;
  const unsigned code = (low >> table.field.bit) & ((1u << width) - 1);
  ClockSelection selection;
  for (int i = width - 1; i >= 0; --i) selection.code.push_back((code >> i) & 1u ? '1' : '0');
  selection.reserved = true;
  selection.meaning = "reserved";
  for (size_t i = 0; i < table.codeCount; ++i) {
    const ClockCode& entry = table.codes[i];
    if (code < entry.from || code > entry.to) continue;
    selection.reserved = entry.kind == 'r';
    selection.meaning = entry.meaning;
    if (entry.kind == 'i') selection.source = ClockSource::kInternal;
    if (entry.kind == 'e') selection.source = ClockSource::kExternal;
  }
  return selection;
}

}  // namespace

uint8_t implementedFuseBits(const PartFuseBits* bits, int fuseNumber) {
  if (bits == nullptr) return 0xFF;
  uint8_t mask = 0;
  for (size_t i = 0; i < bits->bitCount; ++i) {
    if (bits->bits[i].fuseNumber == fuseNumber)
      mask |= static_cast<uint8_t>(1u << bits->bits[i].bit);
  }
  return mask;
}

const FuseBit* findFuseBit(const PartFuseBits& bits, const char* name) {
  const bool reset = std::strcmp(name, "RSTDISBL") == 0;
  const bool clock = std::strncmp(name, "CKSEL", 5) == 0 && name[5] >= '0' && name[5] <= '3' &&
                     name[6] == '\0';
  for (size_t i = 0; i < bits.bitCount; ++i) {
    const char* own = bits.bits[i].name;
    if (std::strcmp(own, name) == 0 || (reset && std::strcmp(own, "RSTDSBL") == 0)) {
      return &bits.bits[i];
    }
    if (clock && (std::strncmp(own, "SUT_CKSEL", 9) == 0 || std::strncmp(own, "CKSEL_SUT", 9) == 0) &&
        std::strcmp(own + 9, name + 5) == 0) {
      return &bits.bits[i];
    }
  }
  return nullptr;
}

namespace {

const char* consequenceOf(const char* name) {
  if (std::strstr(name, "SPIEN") != nullptr) return kSpienLost;
  if (std::strstr(name, "DWEN") != nullptr) return kDebugWireOn;
  return kResetDisabled;
}

// Parts without a table of their ISP-ending bits (none of the built-in ones)
// are judged by avr-libc's names.
int findNamedLockouts(const PartFuseBits& bits, int fuseNumber, uint8_t value,
                      Lockout found[kMostLockouts]) {
  int count = 0;
  const FuseBit* spien = findFuseBit(bits, "SPIEN");
  if (isIn(spien, fuseNumber) && !programmed(value, *spien))
    found[count++] = {spien, kSpienLost, ""};
  const FuseBit* reset = findFuseBit(bits, "RSTDISBL");
  if (isIn(reset, fuseNumber) && programmed(value, *reset))
    found[count++] = {reset, kResetDisabled, ""};
  const FuseBit* debugWire = findFuseBit(bits, "DWEN");
  if (isIn(debugWire, fuseNumber) && programmed(value, *debugWire)) {
    found[count++] = {debugWire, kDebugWireOn, ""};
  }
  return count;
}

}  // namespace

int findLockouts(const PartFuseBits& bits, int fuseNumber, uint8_t value,
                 Lockout found[kMostLockouts]) {
  int count = 0;
  if (bits.ispEnding == nullptr) {
    count = findNamedLockouts(bits, fuseNumber, value, found);
  } else {
    for (size_t i = 0; i < bits.ispEndingCount && count < kMostLockouts - 1; ++i) {
      const IspEndingBit& ending = bits.ispEnding[i];
      if (ending.bit.fuseNumber != fuseNumber) continue;
      if (programmed(value, ending.bit) == ending.endsWhenProgrammed) {
        found[count++] = {&ending.bit, consequenceOf(ending.bit.name), ending.variants};
      }
    }
  }
  if (bits.clock != nullptr && bits.clock->field.fuseNumber == fuseNumber &&
      clockSelection(bits, value).reserved) {
    found[count++] = {&bits.clock->field, kReservedClock, ""};
  }
  return count;
}

ClockSelection clockSelection(const PartFuseBits& bits, uint8_t low) {
  if (bits.clock != nullptr) return datasheetClock(*bits.clock, low);
  static const char* const kNames[] = {"CKSEL0", "CKSEL1", "CKSEL2", "CKSEL3"};
  unsigned code = 0;
  int width = 0;
  for (int i = 0; i < 4; ++i) {
    const FuseBit* bit = findFuseBit(bits, kNames[i]);
    if (!isIn(bit, 1)) break;
    if ((low >> bit->bit) & 1u) code |= 1u << i;
    width = i + 1;
  }
  ClockSelection selection;
  if (width == 2) {
    selection = twoBitClock(code);
  } else if (width == 4 && findFuseBit(bits, "CKOPT") != nullptr) {
    selection = classicClock(code);
  } else if (width == 4) {
    const bool megaWithBootSection =
        findFuseBit(bits, "BOOTSZ0") != nullptr && findFuseBit(bits, "HWBE") == nullptr;
    selection = fourBitClock(code, megaWithBootSection);
  } else {
    return selection;
  }
  for (int i = width - 1; i >= 0; --i) selection.code.push_back((code >> i) & 1u ? '1' : '0');
  return selection;
}
