// The fuse flows on the rows past 12: parts with three, two and one fuse
// bytes, and parts whose default fuses are not known.

#include <gtest/gtest.h>

#include "catalogue/part_record.h"
#include "engine/target_flows.h"
#include "tests/support/engine_harness.h"

namespace {

int rowOf(EngineHarness& h, const char* name) {
  int row = findPartByName(h.session.catalogue, name);
  EXPECT_GE(row, kCatalogueRows) << name;
  return row;
}

int rowWithoutDefaults(EngineHarness& h) {
  for (int i = kCatalogueRows; i < h.session.catalogue.partCount; ++i) {
    if (!partHasDefaultFuses(h.session.catalogue.rows[static_cast<size_t>(i)])) return i;
  }
  ADD_FAILURE() << "no row without defaults";
  return 0;
}

TEST(EveryPartFuses, ThreeFusePartIsCheckedAndWrittenAsRowsZeroToTwelve) {
  EngineHarness h;
  h.identifyAs(rowOf(h, "ATmega328P"));
  h.link.fuseLow = 0x62;
  h.link.fuseHigh = 0xD9;
  h.link.fuseExtended = 0xFF;
  EXPECT_EQ(checkDefaultFuses(h.session), 'd');
  h.link.fuseExtended = 0xFD;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');
  h.link.clearEvents();
  EXPECT_TRUE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.link.transcript(),
            "delay 10000\nsend AC A0 00 62\ndelay 10000\nsend AC A8 00 D9\n"
            "delay 10000\nsend AC A4 00 FF\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\nquery 50 08 00 00\n");
  showFuses(h.session);
  EXPECT_NE(h.console.output().find("Write fuse bytes: ff d9 62\nFuse bytes: ff d9 62\n"),
            std::string::npos)
      << h.console.output();
}

TEST(EveryPartFuses, TwoFusePartComparesAndWritesLowAndHighOnly) {
  EngineHarness h;
  const int row = rowOf(h, "ATtiny13A");
  h.identifyAs(row);
  h.link.fuseLow = 0x6A;
  h.link.fuseHigh = 0xFF;
  h.link.fuseExtended = 0x00;  // no such fuse: whatever it reads is ignored
  EXPECT_EQ(checkDefaultFuses(h.session), 'd');
  h.link.fuseHigh = 0xFB;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');
  h.link.fuseHigh = 0xFF;
  h.link.fuseLow = 0x7A;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');

  h.link.clearEvents();
  EXPECT_TRUE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.link.transcript(),
            "delay 10000\nsend AC A0 00 6A\ndelay 10000\nsend AC A8 00 FF\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\n");
  h.link.clearEvents();
  writeAllFuses(h.session, 0x7A, 0xFB, 0xFF);
  EXPECT_EQ(h.link.transcript(),
            "send AC A0 00 7A\ndelay 10000\nsend AC A8 00 FB\ndelay 10000\ndelay 10000\n"
            "query 50 00 00 00\nquery 58 08 00 00\n");
  showFuses(h.session);
  EXPECT_EQ(h.console.output(), "processorid = " + std::to_string(row) +
                                    "\nWrite fuse bytes: ff 6a\nWrite fuse bytes: 7a fb\n"
                                    "Fuse bytes: fb 7a\n");
}

TEST(EveryPartFuses, OneFusePartHasOnlyItsLowFuse) {
  EngineHarness h;
  const int row = rowOf(h, "ATmega16HVA");
  ASSERT_EQ(h.session.catalogue.rows[static_cast<size_t>(row)].fuseCount, 1);
  h.identifyAs(row);
  h.link.fuseLow = 0xDF;
  h.link.fuseHigh = 0x00;
  h.link.fuseExtended = 0x00;
  EXPECT_EQ(checkDefaultFuses(h.session), 'd');
  h.link.clearEvents();
  EXPECT_TRUE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.link.transcript(), "delay 10000\nsend AC A0 00 DF\ndelay 10000\nquery 50 00 00 00\n");
  h.link.clearEvents();
  writeAllFuses(h.session, 0xDE, 0x11, 0x22);
  EXPECT_EQ(h.link.transcript(),
            "send AC A0 00 DE\ndelay 10000\ndelay 10000\ndelay 10000\nquery 50 00 00 00\n");
  showFuses(h.session);
  EXPECT_EQ(h.console.output(), "processorid = " + std::to_string(row) +
                                    "\nWrite fuse bytes: df\nWrite fuse bytes: de\n"
                                    "Fuse bytes: de\n");
}

TEST(EveryPartFuses, UnknownDefaultsAreNeverMetAndNeverWritten) {
  EngineHarness h;
  const int row = rowWithoutDefaults(h);
  h.identifyAs(row);
  h.link.fuseLow = 0xFF;
  h.link.fuseHigh = 0xFF;
  h.link.fuseExtended = 0xFF;
  EXPECT_EQ(checkDefaultFuses(h.session), 'n');
  h.link.clearEvents();
  EXPECT_FALSE(writeDefaultFuses(h.session));
  EXPECT_EQ(h.link.transcript(), "");
  EXPECT_EQ(h.console.output(),
            std::string("No default fuses are known for ") +
                h.session.catalogue.rows[static_cast<size_t>(row)].name +
                " - fuses not written\n");
}

}  // namespace
