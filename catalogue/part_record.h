#pragma once
// One supported AVR part and the table the programs identify targets against.
//
// The table has three parts, in this order: rows 0 to 12, each program's own
// (catalogue/part_tables.cc, fixed in value and position, since flows test
// rows by index); then the rows generated from avr-libc
// (catalogue/avr_libc_parts.cc), in one
// order for both programs, leaving out the signatures rows 0 to 12 already
// hold; then the parts of the user's parts.txt (catalogue/parts_file.h), which
// are appended, or written over the row whose signature they share.

#include <array>
#include <cstdint>

enum class PartOrigin : uint8_t {
  kBuiltIn,    // rows 0 to 12 and the generated rows
  kPartsFile,  // a line of the user's parts.txt
};

struct PartRecord {
  // Room for a joined name: parts that share a signature share a row, named
  // by all of them joined with '/' ("ATmega8/ATmega8A").
  char name[64];
  int32_t signatureLength;
  uint8_t signature[3];
  // How many fuse bytes the part has: 3 (low, high, extended), 2 (low, high)
  // or 1 (low alone). For every row but row 1, defaultFuses holds byte 0
  // extended, byte 1 high, byte 2 low, whatever the count: a byte the part
  // lacks is 0xFF there and is neither compared nor written. Byte 3 is never
  // read. The two-fuse ATmega32 row (row 1, built in) keeps its original
  // layout: high in byte 0 and low in byte 1.
  int32_t fuseCount;
  uint8_t defaultFuses[4];
  int32_t flashPageWords;
  int32_t eepromPageBytes;
  int32_t flashBytes;
  int32_t eepromBytes;
  // Set where no default fuses are known for the part (avr-libc gives none,
  // or a parts.txt line says "-"): start-up says so instead of comparing, and
  // writing the defaults refuses. defaultFuses is then all 0xFF.
  bool noDefaultFuses = false;
  PartOrigin origin = PartOrigin::kBuiltIn;
  // From the part's datasheet (scripts/datasheet_facts.txt): whether its
  // serial programming instructions include Poll RDY/BSY, and the t_WD waits
  // a host keeps instead where they do not, in microseconds (0: not known).
  bool hasPollReady = true;
  uint32_t eraseWaitMicros = 0;
  uint32_t flashWaitMicros = 0;
  uint32_t eepromWaitMicros = 0;
  uint32_t fuseWaitMicros = 0;
};

constexpr int kCatalogueRows = 13;
// Rows that flows test for by position.
constexpr int kTwoFuseRow = 1;    // ATmega32
constexpr int kFixedWaitRow = 6;  // ATmega644P, waited for instead of polled by pellory

// Rows 0 to 12, the generated rows (about 100) and room for a parts.txt.
constexpr int kMaxCatalogueRows = 256;

struct PartCatalogue {
  std::array<PartRecord, kMaxCatalogueRows> rows{};
  int partCount = 0;
};

// The rows each deliverable carries (they differ in rows 5, 6 and 10 to 12).
using PartRows = std::array<PartRecord, kCatalogueRows>;
const PartRows& korvoPartRows();
const PartRows& marlowPartRows();

// Writes rows 0 to 12 from the given table; returns the row count, 13.
int fillPartCatalogue(PartCatalogue& catalogue, const PartRows& rows);

// Appends the rows generated from avr-libc whose signature no row holds yet;
// returns the new row count.
int addGeneratedParts(PartCatalogue& catalogue);

// Rows 0 to 12 and then the generated rows: the table a program starts with.
int fillFullCatalogue(PartCatalogue& catalogue, const PartRows& rows);

// Index of the first row whose three signature bytes equal `signature`, or -1.
int findPartBySignature(const PartCatalogue& catalogue, const uint8_t signature[3]);

// Index of the row one of whose '/'-joined names (or the whole joined name)
// is `name`, without regard to case, or else the row with the signature of
// the generated part of that name (rows 0 to 12 stand in for theirs: the
// ATmega16A is the ATmega16); -1 when there is none.
int findPartByName(const PartCatalogue& catalogue, const char* name);

// Positions in defaultFuses and in the target's fuse readings (both ordered
// extended, high, low) of every row except the ATmega32's (see above).
constexpr int kExtendedFuseByte = 0;
constexpr int kHighFuseByte = 1;
constexpr int kLowFuseByte = 2;

// Fuse bytes the part has: 1 to 3.
int partFuseCount(const PartRecord& part);
// Whether the part has fuse byte `fuseNumber` (1 low, 2 high, 3 extended).
bool partHasFuse(const PartRecord& part, int fuseNumber);
// Whether the row at `index` is the built-in ATmega32 row, whose defaults
// keep high in byte 0 and low in byte 1.
bool isHighLowDefaultsRow(const PartCatalogue& catalogue, int index);
// The part's default for fuse byte `fuseNumber` (1 low, 2 high, 3 extended),
// for any row including the ATmega32's; 0xFF for a byte it lacks.
uint8_t partDefaultFuse(const PartCatalogue& catalogue, int index, int fuseNumber);
// Whether default fuses are known for the part.
bool partHasDefaultFuses(const PartRecord& part);
