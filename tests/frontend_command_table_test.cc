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
      "dff", "df", "de",  "dc",  "ld",  "uf", "ue", "uc",  "lf",  "mf",  "sf",  "ce",
      "gl",  "pl", "gf1", "gf2", "gf3", "gf", "a",  "pfa", "pf1", "pf2", "pf3", "gc",
      "i",   "s",  "v",   "nv",  "t2",  "t4", "t",  "m",   "q",   "h",   "e",   "p",
      "vf",  "ve"};
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
  EXPECT_EQ(wordFor(tarnwickProfile(), "ce"), "ce");
  EXPECT_EQ(wordFor(tarnwickProfile(), "t"), "t");
  EXPECT_EQ(wordFor(tarnwickProfile(), "T"), "t");
  EXPECT_EQ(wordFor(pelloryProfile(), "t"), "(none)");
}

TEST(CommandTable, LongerWordsWinOverTheirPrefixes) {
  const Profile& profile = tarnwickProfile();
  EXPECT_EQ(wordFor(profile, "gf3"), "gf3");
  EXPECT_EQ(wordFor(profile, "gf"), "gf");
  EXPECT_EQ(wordFor(profile, "t4"), "t4");
  EXPECT_EQ(wordFor(profile, "sf1ff"), "sf");
  EXPECT_EQ(argumentFor(profile, "sf1ff"), "1ff");
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

// A command without an argument runs only on its whole word, in any letter
// case: a word that merely starts like it ("apply", "erase") must not write
// the default fuses or end the run.
TEST(CommandTable, CommandsWithoutAnArgumentTakeOnlyTheirWholeWord) {
  for (const Profile* profile : {&tarnwickProfile(), &pelloryProfile()}) {
    for (const char* word : {"a", "A", "e", "E", "i", "s", "v", "m", "q", "h", "p", "P", "gl", "GF",
                             "gf2", "gc", "nv", "t2", "T4"}) {
      EXPECT_NE(wordFor(*profile, word), "(none)") << word;
    }
    for (const char* token :
         {"apply", "all", "auto", "erase", "exit", "Eeprom", "info", "stats", "sx", "more", "quiet",
          "help", "gf4", "gll", "t2x", "nvx", "gcal", "ix"}) {
      EXPECT_EQ(wordFor(*profile, token), "(none)") << token;
    }
  }
  EXPECT_EQ(wordFor(pelloryProfile(), "cex"), "(none)");
  // "verify" once reached nothing; the verify-only words, the last rows, now
  // take it as a file name, a comparison that writes nothing.
  EXPECT_EQ(argumentFor(tarnwickProfile(), "verify"), "rify");
  EXPECT_EQ(wordFor(tarnwickProfile(), "tx"), "(none)");
}

TEST(CommandTable, CommandsWithAnArgumentKeepTheirPrefixRule) {
  const Profile& profile = tarnwickProfile();
  EXPECT_EQ(wordFor(profile, "please"), "pl");
  EXPECT_EQ(argumentFor(profile, "please"), "ease");
  EXPECT_EQ(wordFor(profile, "dfirmware.hex"), "df");
  EXPECT_EQ(wordFor(profile, "SFFF"), "sf");
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
