// The command words: their order, and which row a token reaches in each program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/command_table.h"
#include "frontend/profile.h"

namespace {

std::string wordFor(const Profile& profile, const std::string& token) {
  const CommandRow* row = findCommand(profile, token);
  return row == nullptr ? "(none)" : row->word;
}

std::string argumentFor(const Profile& profile, const std::string& token) {
  const CommandRow* row = findCommand(profile, token);
  if (row == nullptr) return "(none)";
  return token.size() > row->comparedLength ? token.substr(row->comparedLength) : "";
}

TEST(CommandTable, RowsAreTestedInTheDocumentedOrder) {
  const std::vector<std::string> expected = {
      "dff", "df",  "de",  "ld", "uf", "ue",  "lf",  "mf",  "sf",  "ce", "gl", "pl",
      "gf1", "gf2", "gf3", "gf", "a",  "pfa", "pf1", "pf2", "pf3", "gc", "i",  "s",
      "v",   "nv",  "t2",  "t4", "t",  "m",   "q",   "h",   "e",   "p"};
  const CommandTable& table = commandTable();
  ASSERT_EQ(table.count, expected.size());
  for (size_t i = 0; i < table.count; ++i) {
    EXPECT_EQ(table.rows[i].word, expected[i]) << "row " << i + 1;
    size_t length = std::string(table.rows[i].word).size();
    // Only "t" and the pause reach past their word, so that they match whole tokens.
    size_t compared = (expected[i] == "t" || expected[i] == "p") ? 2 : length;
    EXPECT_EQ(table.rows[i].comparedLength, compared) << expected[i];
  }
}

TEST(CommandTable, LetterCaseIsIgnoredAndFileNamesKeepTheirs) {
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    for (const char* token : {"dfProg.HEX", "DFProg.HEX", "DfProg.HEX", "dFProg.HEX"}) {
      EXPECT_EQ(wordFor(*profile, token), "df") << token;
      EXPECT_EQ(argumentFor(*profile, token), "Prog.HEX") << token;
    }
    EXPECT_EQ(wordFor(*profile, "GF1"), "gf1");
    EXPECT_EQ(wordFor(*profile, "PFA62,D9,FF"), "pfa");
  }
}

TEST(CommandTable, FastDownloadTakesFileNamesBeginningWithFOnlyInTarnwick) {
  EXPECT_EQ(wordFor(tarnwickProfile(), "dffirmware.hex"), "dff");
  EXPECT_EQ(argumentFor(tarnwickProfile(), "dffirmware.hex"), "irmware.hex");
  EXPECT_EQ(wordFor(tarnwickProfile(), "dFFirmware.hex"), "dff");
  EXPECT_EQ(wordFor(pelloryProfile(), "dffirmware.hex"), "df");
  EXPECT_EQ(argumentFor(pelloryProfile(), "dffirmware.hex"), "firmware.hex");
}

TEST(CommandTable, RowsOfOneProgramAreSkippedInTheOther) {
  EXPECT_EQ(wordFor(pelloryProfile(), "ce"), "ce");
  EXPECT_EQ(wordFor(tarnwickProfile(), "ce"), "(none)");
  EXPECT_EQ(wordFor(tarnwickProfile(), "t"), "t");
  EXPECT_EQ(wordFor(tarnwickProfile(), "T"), "t");
  EXPECT_EQ(wordFor(pelloryProfile(), "t"), "(none)");
}

TEST(CommandTable, LongerWordsWinOverTheirPrefixes) {
  const Profile& profile = tarnwickProfile();
  EXPECT_EQ(wordFor(profile, "gf4"), "gf");  // no fourth fuse: the summary
  EXPECT_EQ(wordFor(profile, "gf3"), "gf3");
  EXPECT_EQ(wordFor(profile, "gf"), "gf");
  EXPECT_EQ(wordFor(profile, "t2x"), "t2");
  EXPECT_EQ(wordFor(profile, "t4"), "t4");
  EXPECT_EQ(wordFor(profile, "sf1ff"), "sf");
  EXPECT_EQ(argumentFor(profile, "sf1ff"), "1ff");
  EXPECT_EQ(wordFor(profile, "sx"), "s");
  EXPECT_EQ(wordFor(profile, "nv"), "nv");
  EXPECT_EQ(argumentFor(profile, "pf1e2"), "e2");
  EXPECT_EQ(argumentFor(profile, "pfa62,d9,ff"), "62,d9,ff");
}

TEST(CommandTable, TokensThatReachNoRow) {
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    for (const char* token : {"pf4", "pf", "tx", "f", "fscript", "x", "", "cCOM1", "b9600", "px",
                              "n", "d", "u", "l", "g"}) {
      EXPECT_EQ(wordFor(*profile, token), "(none)") << token;
    }
  }
}

TEST(CommandTable, SingleLetterCommandsActOnTheFirstLetterAlone) {
  const Profile& profile = pelloryProfile();
  EXPECT_EQ(wordFor(profile, "auto"), "a");
  EXPECT_EQ(wordFor(profile, "exit"), "e");
  EXPECT_EQ(wordFor(profile, "Eeprom"), "e");
  EXPECT_EQ(wordFor(profile, "info"), "i");
  EXPECT_EQ(wordFor(profile, "stats"), "s");
  EXPECT_EQ(wordFor(profile, "verify"), "v");
  EXPECT_EQ(wordFor(profile, "more"), "m");
  EXPECT_EQ(wordFor(profile, "quiet"), "q");
  EXPECT_EQ(wordFor(profile, "help"), "h");
  EXPECT_EQ(wordFor(profile, "p"), "p");
  EXPECT_EQ(wordFor(profile, "P"), "p");
}

TEST(CommandTable, ReidentifyPointsFollowWhatEachCommandNeedsFirst) {
  auto pointOf = [](const char* token) {
    return findCommand(tarnwickProfile(), token)->reidentify;
  };
  // The name is stored (and the flag set) before the target is touched.
  EXPECT_EQ(pointOf("dffile"), Reidentify::kAfterName);
  EXPECT_EQ(pointOf("uffile"), Reidentify::kAfterName);
  // Fuse values are checked before the target is touched; the triple after.
  EXPECT_EQ(pointOf("pf1e2"), Reidentify::kAfterParse);
  EXPECT_EQ(pointOf("pfa1,2,3"), Reidentify::kBeforeParse);
  EXPECT_EQ(pointOf("pl"), Reidentify::kFirst);
  // Commands that only touch settings or files leave the target alone.
  for (const char* token : {"ldfile", "lffile", "mffile", "sfff", "v", "nv", "t2", "t4", "t", "m",
                            "q", "h", "e", "p"}) {
    EXPECT_EQ(pointOf(token), Reidentify::kNo) << token;
  }
}

}  // namespace
