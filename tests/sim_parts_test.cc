// The simulator's part table against avr-libc's device headers, which come from
// the same datasheets by another hand.

#include "sim/sim_parts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

namespace {

// The -mmcu name of a part: its name in lower case.
std::string mcuName(const char* name) {
  std::string mcu = name;
  for (char& c : mcu) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return mcu;
}

// The numeric macros avr/io.h defines for one -mmcu, or empty when avr-gcc
// cannot be run.
std::map<std::string, long> deviceMacros(const std::string& mcu) {
  std::map<std::string, long> macros;
  const std::string command =
      "avr-gcc -mmcu=" + mcu + " -E -dM -include avr/io.h -x c /dev/null 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return macros;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char name[128], value[128];
    if (std::sscanf(line, "#define %127s %127s", name, value) == 2) {
      char* end = nullptr;
      long number = std::strtol(value, &end, 0);
      if (end != value && (*end == '\0' || *end == 'L' || *end == 'U')) macros[name] = number;
    }
  }
  pclose(pipe);
  return macros;
}

bool avrGccPresent() {
  return std::system("avr-gcc --version >/dev/null 2>&1") == 0;
}

TEST(SimPartsTest, EveryPartMatchesTheDeviceHeaders) {
  if (!avrGccPresent()) GTEST_SKIP() << "needs avr-gcc and its headers: install gcc-avr avr-libc";
  for (int i = 0; i < simPartCount(); ++i) {
    const SimPart& part = simParts()[i];
    SCOPED_TRACE(part.name);
    std::map<std::string, long> macros = deviceMacros(mcuName(part.name));
    ASSERT_TRUE(macros.count("SIGNATURE_0")) << "avr-libc does not know " << part.name;
    EXPECT_EQ(macros["SIGNATURE_0"], part.signature[0]);
    EXPECT_EQ(macros["SIGNATURE_1"], part.signature[1]);
    EXPECT_EQ(macros["SIGNATURE_2"], part.signature[2]);
    EXPECT_EQ(macros["SPM_PAGESIZE"], static_cast<long>(part.flashPageWords * 2));
    EXPECT_EQ(macros["FLASHEND"], static_cast<long>(part.flashBytes - 1));
    EXPECT_EQ(macros["E2END"], static_cast<long>(part.eepromBytes - 1));
    if (macros.count("FUSE_MEMORY_SIZE")) {
      EXPECT_EQ(macros["FUSE_MEMORY_SIZE"], part.hasExtendedFuse ? 3 : 2);
    }
  }
}

TEST(SimPartsTest, TableHoldsEveryCataloguedPartPlusTheAtmega328p) {
  const char* expected[] = {"ATmega16",    "ATmega32",   "ATmega48",   "ATmega88",   "ATmega168",
                            "ATmega644",   "ATmega644P", "ATmega128",  "ATmega1280", "ATmega1281",
                            "ATmega1284P", "ATmega2560", "ATmega2561", "AT90USB162", "ATmega328P"};
  EXPECT_EQ(simPartCount(), 15);
  for (const char* name : expected) EXPECT_NE(findSimPart(name), nullptr) << name;
  const SimPart* p328 = findSimPart("atmega328p");
  ASSERT_NE(p328, nullptr);
  EXPECT_EQ(p328->signature[2], 0x0F);
  EXPECT_EQ(findSimPart("ATMEGA2560"), findSimPart("ATmega2560"));
  EXPECT_EQ(findSimPart("ATmega25"), nullptr);
  EXPECT_EQ(findSimPart(""), nullptr);
}

TEST(SimPartsTest, SignaturesAreUniqueAndGeometryIsConsistent) {
  std::set<long> signatures;
  for (int i = 0; i < simPartCount(); ++i) {
    const SimPart& part = simParts()[i];
    SCOPED_TRACE(part.name);
    EXPECT_TRUE(
        signatures.insert(part.signature[0] << 16 | part.signature[1] << 8 | part.signature[2])
            .second);
    EXPECT_EQ(part.flashBytes % (part.flashPageWords * 2), 0u);
    // The model masks addresses, which needs power-of-two sizes.
    EXPECT_EQ(part.flashBytes & (part.flashBytes - 1), 0u);
    EXPECT_EQ(part.eepromBytes & (part.eepromBytes - 1), 0u);
    EXPECT_GT(part.chipEraseMicros, 0u);
    EXPECT_GT(part.flashPageMicros, 0u);
    EXPECT_GT(part.eepromByteMicros, 0u);
    EXPECT_GT(part.fuseMicros, 0u);
  }
  EXPECT_FALSE(findSimPart("ATmega16")->hasExtendedFuse);
  EXPECT_FALSE(findSimPart("ATmega32")->hasExtendedFuse);
}

}  // namespace
