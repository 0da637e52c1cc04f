// EEPROM downloads onto the simulated chip: Load/Write EEPROM Memory Page on
// a part with EEPROM pages, byte writes on a part without, and a page holding
// a changed byte written whole, the bytes the file leaves taken as they were.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/part_record.h"
#include "engine/memory_transfer.h"
#include "engine/target_flows.h"
#include "frontend/profile.h"
#include "run/session.h"
#include "sim/avr_target.h"
#include "sim/sim_parts.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/no_poll_parts.h"
#include "tests/support/target_link.h"
#include "tests/support/temp_dir.h"

namespace {

// A link onto the chip that keeps every instruction it carried.
class RecordingLink : public TargetLink {
 public:
  using TargetLink::TargetLink;
  void sendInstruction(const IspInstruction& instruction) override {
    sent.push_back(instruction);
    TargetLink::sendInstruction(instruction);
  }
  std::vector<IspInstruction> with(uint8_t opcode) const {
    std::vector<IspInstruction> found;
    for (const IspInstruction& i : sent) {
      if (i.bytes[0] == opcode) found.push_back(i);
    }
    return found;
  }
  std::vector<IspInstruction> sent;
};

class EepromPages : public ::testing::Test {
 protected:
  // The chip `name` as `facts` describe it (its own when nullptr), identified
  // by tarnwick's table with the programs' view of the same facts.
  void plugIn(const char* name, const DatasheetPart* facts = nullptr) {
    const SimPart& part = *findSimPart(name);
    target_ = std::make_unique<AvrTarget>(part, clock_, TargetFaults{},
                                          facts ? facts : datasheetFactsFor(part));
    link_ = std::make_unique<RecordingLink>(*target_, clock_);
    session_.link = link_.get();
    identifyTarget(session_);
    ASSERT_NE(session_.currentPart(), nullptr);
    if (facts != nullptr) {
      PartRecord& row = session_.catalogue.rows[static_cast<size_t>(session_.target.processorIndex)];
      row.hasPollReady = facts->hasPollReady;
      row.eepromPageBytes = facts->eepromPageBytes;
    }
    link_->sent.clear();
  }
  bool download(const std::vector<uint8_t>& bytes) {
    writeFile("eeprom.hex", intelHexText(bytes));
    session_.settings.downloadFileName = "eeprom.hex";
    return downloadEeprom(session_);
  }

  EepromPages() { dir_.enter(); }

  TempDir dir_;
  SimClock clock_{0.001};
  ScriptedConsole console_;
  Session session_{tarnwickProfile(), console_};
  std::unique_ptr<AvrTarget> target_;
  std::unique_ptr<RecordingLink> link_;
};

TEST_F(EepromPages, PagesAreLoadedAndWrittenAlignedWhereThePartHasThem) {
  struct Case {
    const char* part;
    const DatasheetPart* facts;
    size_t loads, pageWrites, byteWrites;
  } cases[] = {
      {"ATmega328P", nullptr, 12, 3, 0},  // 4-byte pages: 0-3, 4-7, 8-11
      {"ATmega8", &kAtmega8Facts, 0, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.part);
    plugIn(c.part, c.facts);
    std::vector<uint8_t> data = randomBytes(10, 3);
    for (uint8_t& byte : data) byte &= 0x7F;  // no 0xFF: every byte is a change
    EXPECT_TRUE(download(data)) << console_.output();
    EXPECT_EQ(link_->with(0xC0).size(), c.byteWrites);
    const std::vector<IspInstruction> loads = link_->with(0xC1);
    const std::vector<IspInstruction> writes = link_->with(0xC2);
    ASSERT_EQ(loads.size(), c.loads);
    ASSERT_EQ(writes.size(), c.pageWrites);
    for (size_t i = 0; i < loads.size(); ++i) EXPECT_EQ(loads[i].bytes[2], i % 4);
    for (size_t p = 0; p < writes.size(); ++p) {
      EXPECT_EQ(writes[p].bytes[1] << 8 | writes[p].bytes[2], static_cast<int>(4 * p));
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), target_->eeprom().begin()));
    EXPECT_EQ(target_->stats().violations(), 0u);
  }
}

// The file ends inside the page whose one byte changes: that page alone is
// written, whole, and the bytes past the file keep their values.
TEST_F(EepromPages, OneChangedByteWritesItsPageAloneAndKeepsTheOthers) {
  plugIn("ATmega328P");
  const std::vector<uint8_t> before = randomBytes(16, 8);
  std::copy(before.begin(), before.end(), target_->eeprom().begin());
  std::vector<uint8_t> file(before.begin(), before.begin() + 10);
  file[9] = static_cast<uint8_t>(file[9] ^ 0x3C);
  // Unverified: a read-back would call the bytes past the file a mismatch.
  session_.settings.verifyMode = 'n';
  ASSERT_TRUE(download(file)) << console_.output();
  EXPECT_NE(console_.output().find("Bytes written to target 10\n"), std::string::npos);
  ASSERT_EQ(link_->with(0xC2).size(), 1u);
  EXPECT_EQ(link_->with(0xC2)[0].bytes[2], 8);
  EXPECT_EQ(link_->with(0xC1).size(), 4u);
  std::vector<uint8_t> after = before;
  after[9] = file[9];
  EXPECT_TRUE(std::equal(after.begin(), after.end(), target_->eeprom().begin()));
}

// Each page write's wait goes out behind the wire only where a read-back
// follows; without one it is read before the next page's loads.
TEST(EepromPageWaits, OverlapOnlyWhenVerifying) {
  for (char verify : {'v', 'n'}) {
    SCOPED_TRACE(verify);
    TempDir dir;
    dir.enter();
    EngineHarness h;
    h.link.splitWaits = true;
    h.identifyAs(2);  // ATmega48, 4-byte EEPROM pages
    h.session.catalogue.rows[2].eepromPageBytes = 4;
    writeFile("eeprom.hex", intelHexText(std::vector<uint8_t>(8, 0x11)));
    h.session.settings.downloadFileName = "eeprom.hex";
    h.session.settings.verifyMode = verify;
    EXPECT_EQ(downloadEeprom(h.session), verify == 'n');  // the link keeps no EEPROM
    const std::string firstWait = verify == 'v' ? "wait sent" : "wait 0";
    EXPECT_NE(h.link.transcript().find("send C2 00 00 00\n" + firstWait + "\nsend C1 00 00 11\n"),
              std::string::npos)
        << h.link.transcript();
  }
}

}  // namespace
