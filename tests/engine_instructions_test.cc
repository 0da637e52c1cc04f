// The instruction bytes the target sees for each operation, and the two
// composite reads.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/isp_instructions.h"
#include "tests/support/engine_harness.h"

namespace {

struct Case {
  const char* name;
  std::function<void(IspLink&)> run;
  const char* expected;
};

TEST(IspInstructions, EachOperationSendsItsFourBytes) {
  const std::vector<Case> cases = {
      {"chip erase", [](IspLink& l) { ispChipErase(l); }, "send AC 80 00 00"},
      {"signature 2", [](IspLink& l) { ispReadSignatureByte(l, 2); }, "query 30 00 02 00"},
      {"calibration", [](IspLink& l) { ispReadCalibrationByte(l); }, "query 38 00 00 00"},
      {"lock read", [](IspLink& l) { ispReadLockBits(l); }, "query 58 00 00 00"},
      {"fuse low", [](IspLink& l) { ispReadFuseLow(l); }, "query 50 00 00 00"},
      {"fuse high", [](IspLink& l) { ispReadFuseHigh(l); }, "query 58 08 00 00"},
      {"fuse extended", [](IspLink& l) { ispReadFuseExtended(l); }, "query 50 08 00 00"},
      {"write low", [](IspLink& l) { ispWriteFuseLow(l, 0x62); }, "send AC A0 00 62"},
      {"write high", [](IspLink& l) { ispWriteFuseHigh(l, 0xD9); }, "send AC A8 00 D9"},
      {"write extended", [](IspLink& l) { ispWriteFuseExtended(l, 0xFD); }, "send AC A4 00 FD"},
      {"write lock", [](IspLink& l) { ispWriteLockBits(l, 0x3C); }, "send AC E0 00 3C"},
      {"flash low", [](IspLink& l) { ispReadFlashLowByte(l, 0x1234); }, "query 20 12 34 00"},
      {"flash high", [](IspLink& l) { ispReadFlashHighByte(l, 0x1234); }, "query 28 12 34 00"},
      {"page low", [](IspLink& l) { ispLoadPageLowByte(l, 0x3F, 0xAA); }, "send 40 00 3F AA"},
      {"page high", [](IspLink& l) { ispLoadPageHighByte(l, 0x05, 0x55); }, "send 48 00 05 55"},
      {"write page", [](IspLink& l) { ispWritePage(l, 0x0040); }, "send 4C 00 40 00"},
      {"extended", [](IspLink& l) { ispLoadExtendedAddress(l, 0x03); }, "send 4D 00 03 00"},
      {"eeprom read", [](IspLink& l) { ispReadEepromByte(l, 0x0ABC); }, "query A0 0A BC 00"},
      {"eeprom write", [](IspLink& l) { ispWriteEepromByte(l, 0x0102, 0x7E); }, "send C0 01 02 7E"},
      {"poll", [](IspLink& l) { ispPollReady(l); }, "query F0 00 00 00"},
      {"enable", [](IspLink& l) { ispProgrammingEnable(l); }, "enable"},
  };
  for (const Case& c : cases) {
    ScriptedLink link;
    c.run(link);
    EXPECT_EQ(link.transcript(), std::string(c.expected) + "\n") << c.name;
  }
}

TEST(IspInstructions, CompositeReadsKeepSignatureInOrderAndFusesExtendedHighLow) {
  EngineHarness h;
  h.link.signature[0] = 0x1E;
  h.link.signature[1] = 0x98;
  h.link.signature[2] = 0x01;
  h.link.fuseLow = 0x62;
  h.link.fuseHigh = 0xD9;
  h.link.fuseExtended = 0xFD;
  readSignature(h.session);
  readFuses(h.session);
  EXPECT_EQ(h.link.transcript(),
            "query 30 00 00 00\nquery 30 00 01 00\nquery 30 00 02 00\n"
            "query 50 00 00 00\nquery 58 08 00 00\nquery 50 08 00 00\n");
  const uint8_t* s = h.session.target.signature;
  EXPECT_EQ((std::vector<int>{s[0], s[1], s[2]}), (std::vector<int>{0x1E, 0x98, 0x01}));
  const uint8_t* f = h.session.target.fuseBytes;
  EXPECT_EQ((std::vector<int>{f[0], f[1], f[2]}), (std::vector<int>{0xFD, 0xD9, 0x62}));
}

}  // namespace
