// EEPROM downloads onto the simulated chip: page loads and writes where the
// part has EEPROM pages, byte writes where not, a changed byte's page written
// alone and whole, and waits overlapped only when a read-back follows.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "frontend/profile.h"
#include "sim/avr_target.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/target_link.h"
#include "tests/support/temp_dir.h"

namespace {

// Keeps every instruction it carries to the chip.
class RecordingLink : public TargetLink {
 public:
  using TargetLink::TargetLink;
  void sendInstruction(const IspInstruction& instruction) override {
    sent.push_back(instruction);
    TargetLink::sendInstruction(instruction);
  }
  std::vector<IspInstruction> with(uint8_t opcode) const {
    std::vector<IspInstruction> found;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(found),
                 [&](const IspInstruction& i) { return i.bytes[0] == opcode; });
    return found;
  }
  std::vector<IspInstruction> sent;
};

class EepromPages : public ::testing::Test {
 protected:
  EepromPages() {
    dir_.enter();
    session_.link = &link_;
    identifyTarget(session_);
  }
  bool download(const std::vector<uint8_t>& bytes, int32_t pageBytes) {
    session_.catalogue.rows[static_cast<size_t>(session_.target.processorIndex)].eepromPageBytes =
        pageBytes;
    link_.sent.clear();
    writeFile("eeprom.hex", intelHexText(bytes));
    session_.settings.downloadFileName = "eeprom.hex";
    return downloadEeprom(session_);
  }

  TempDir dir_;
  SimClock clock_{0.001};
  AvrTarget target_{*findSimPart("ATmega328P"), clock_};
  RecordingLink link_{target_, clock_};
  ScriptedConsole console_;
  Session session_{tarnwickProfile(), console_};
};

TEST_F(EepromPages, PagesWhereThePartHasThemAlignedToTheirSizeElseBytes) {
  std::vector<uint8_t> data = randomBytes(10, 3);
  for (int32_t pageBytes : {4, 0}) {
    for (uint8_t& byte : data) byte = static_cast<uint8_t>((byte + 1) & 0x7F);  // all change
    ASSERT_TRUE(download(data, pageBytes)) << console_.output();
    const auto loads = link_.with(0xC1), writes = link_.with(0xC2);
    EXPECT_EQ(link_.with(0xC0).size(), pageBytes ? 0u : 10u);
    ASSERT_EQ(loads.size(), pageBytes ? 12u : 0u);  // pages 0-3, 4-7, 8-11
    ASSERT_EQ(writes.size(), pageBytes ? 3u : 0u);
    for (size_t i = 0; i < loads.size(); ++i) EXPECT_EQ(loads[i].bytes[2], i % 4);
    for (size_t p = 0; p < writes.size(); ++p) EXPECT_EQ(writes[p].bytes[2], 4 * p);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), target_.eeprom().begin()));
  }
  EXPECT_EQ(target_.stats().violations(), 0u);
}

// The file ends inside the page whose one byte changes: that page alone is
// written, and the bytes past the file keep their values. Unverified, since a
// read-back would call those bytes a mismatch.
TEST_F(EepromPages, OneChangedByteWritesItsPageAloneAndKeepsTheOthers) {
  const std::vector<uint8_t> before = randomBytes(16, 8);
  std::copy(before.begin(), before.end(), target_.eeprom().begin());
  std::vector<uint8_t> file(before.begin(), before.begin() + 10), after = before;
  after[9] = file[9] = static_cast<uint8_t>(file[9] ^ 0x3C);
  session_.settings.verifyMode = 'n';
  ASSERT_TRUE(download(file, 4)) << console_.output();
  EXPECT_NE(console_.output().find("Bytes written to target 10\n"), std::string::npos);
  ASSERT_EQ(link_.with(0xC2).size(), 1u);
  EXPECT_EQ(link_.with(0xC2)[0].bytes[2], 8);
  EXPECT_EQ(link_.with(0xC1).size(), 4u);
  EXPECT_TRUE(std::equal(after.begin(), after.end(), target_.eeprom().begin()));
}

TEST(EepromPageWaits, OverlapTheNextPageOnlyWhenVerifying) {
  for (char verify : {'v', 'n'}) {
    TempDir dir;
    dir.enter();
    EngineHarness h;
    h.link.splitWaits = true;
    h.identifyAs(2);  // ATmega48
    writeFile("eeprom.hex", intelHexText(std::vector<uint8_t>(8, 0x11)));
    h.session.settings.downloadFileName = "eeprom.hex";
    h.session.settings.verifyMode = verify;
    downloadEeprom(h.session);
    const std::string next = verify == 'v' ? "wait sent\nsend C1" : "wait 0\nsend C1";
    EXPECT_NE(h.link.transcript().find("send C2 00 00 00\n" + next), std::string::npos) << verify;
  }
}

}  // namespace
