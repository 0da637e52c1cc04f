// EEPROM downloads: page loads and writes where the part has EEPROM pages,
// byte writes where not, a changed byte's page written alone and whole, and
// waits overlapped only when a read-back follows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega48Row = 2;

class EepromPages : public ::testing::Test {
 protected:
  EepromPages() {
    dir.enter();
    h.identifyAs(kAtmega48Row);
  }
  void download(const std::vector<uint8_t>& bytes, int32_t pageBytes, char verify = 'n') {
    h.session.catalogue.rows[kAtmega48Row].eepromPageBytes = pageBytes;
    h.link.clearEvents();
    writeFile("eeprom.hex", intelHexText(bytes));
    h.session.settings.downloadFileName = "eeprom.hex";
    h.session.settings.verifyMode = verify;
    downloadEeprom(h.session);
  }
  TempDir dir;
  EngineHarness h;
};

TEST_F(EepromPages, PagesWhereThePartHasThemAlignedToTheirSizeElseBytes) {
  for (int32_t pageBytes : {4, 0}) {
    download(std::vector<uint8_t>(10, 0x5A), pageBytes);
    const auto loads = h.link.instructionsWith(0xC1), writes = h.link.instructionsWith(0xC2);
    EXPECT_EQ(h.link.instructionsWith(0xC0).size(), pageBytes ? 0u : 10u);
    ASSERT_EQ(loads.size(), pageBytes ? 12u : 0u);  // pages 0-3, 4-7, 8-11
    ASSERT_EQ(writes.size(), pageBytes ? 3u : 0u);
    for (size_t i = 0; i < loads.size(); ++i) EXPECT_EQ(loads[i].bytes[2], i);
    for (size_t p = 0; p < writes.size(); ++p) EXPECT_EQ(writes[p].bytes[2], 4 * p);
  }
}

// The file ends inside the page whose one byte changes: that page alone is
// written, whole, the bytes past the file as the target holds them.
TEST_F(EepromPages, OneChangedByteWritesItsPageAloneAndKeepsTheOthers) {
  h.link.eeprom = randomBytes(16, 8);
  std::vector<uint8_t> file(h.link.eeprom.begin(), h.link.eeprom.begin() + 10);
  file[9] = static_cast<uint8_t>(file[9] ^ 0x3C);
  download(file, 4);
  const auto writes = h.link.instructionsWith(0xC2), loads = h.link.instructionsWith(0xC1);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes[2], 8);
  ASSERT_EQ(loads.size(), 4u);
  const uint8_t page[4] = {h.link.eeprom[8], file[9], h.link.eeprom[10], h.link.eeprom[11]};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(loads[i].bytes[3], page[i]);
  EXPECT_NE(h.console.output().find("Bytes written to target 10\n"), std::string::npos);
}

TEST_F(EepromPages, WaitsOverlapTheNextPageOnlyWhenVerifying) {
  h.link.splitWaits = true;
  for (char verify : {'v', 'n'}) {
    download(std::vector<uint8_t>(8, 0x11), 4, verify);
    const std::string next = verify == 'v' ? "wait sent\nsend C1" : "wait 0\nsend C1";
    EXPECT_NE(h.link.transcript().find("send C2 00 00 00\n" + next), std::string::npos) << verify;
  }
}

}  // namespace
