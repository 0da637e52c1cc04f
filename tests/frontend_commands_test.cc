// Commands run one at a time against a scripted target, through the real engine:
// what each prints, what reaches the target, and which settings change.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/command_interpreter.h"
#include "frontend/fuse_arguments.h"
#include "frontend/help_text.h"
#include "frontend/profile.h"
#include "image/hex_reader.h"
#include "run/console.h"
#include "tests/support/engine_harness.h"
#include "tests/support/hex_text.h"
#include "tests/support/shared_folder.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kAtmega168Row = 2;

// A session between commands: the target identified once and running again.
class CommandTest : public ::testing::Test {
 protected:
  explicit CommandTest(const Profile& profile = tarnwickProfile()) : harness(profile) {
    dir.enter();
    harness.identifyAs(kAtmega168Row);
    session().target.targetReleased = true;
  }

  Session& session() { return harness.session; }
  ScriptedLink& link() { return harness.link; }
  std::string output() const { return harness.console.output(); }

  std::string run(const std::string& token) {
    harness.console.clearOutput();
    link().clearEvents();
    EXPECT_EQ(executeCommand(session(), token), CommandOutcome::kContinue) << token;
    return output();
  }

  // Writes a HEX file and makes the target read back what it holds.
  void hexFileOnTarget(const std::string& name, const std::vector<uint8_t>& data) {
    writeFile(dir.file(name), intelHexText(data));
    link().flash = data;
  }

  size_t flashReads() { return link().instructionsWith(0x20).size(); }

  std::vector<uint8_t> imageFromFile(const std::string& name, size_t length) {
    std::ifstream in(dir.file(name));
    ImageBuffer image;
    loadHexRecords(in, image, 0xFF);
    return std::vector<uint8_t>(image.begin(), image.begin() + static_cast<long>(length));
  }

  TempDir dir;
  EngineHarness harness;
};

class PelloryCommandTest : public CommandTest {
 protected:
  PelloryCommandTest() : CommandTest(pelloryProfile()) {}
};

// --- Settings -------------------------------------------------------------

TEST_F(CommandTest, FillCharacterTakesAHexByteOrStaysAsItWas) {
  EXPECT_EQ(run("sf1ff"), "Fill char=ff\n");
  EXPECT_EQ(session().settings.fillChar, 0xFF);
  EXPECT_EQ(run("sf0x3c"), "Fill char=3c\n");
  EXPECT_EQ(run("sfzz"), "Fill char=3c\n");
  EXPECT_EQ(session().settings.fillChar, 0x3C);
  EXPECT_EQ(link().events().size(), 0u);
  EXPECT_FALSE(session().commandFailed);
}

TEST_F(CommandTest, SettingCommandsPrintNothingAndLeaveTheTargetAlone) {
  EXPECT_EQ(run("nv") + run("t2") + run("q") + run("tx"), "");
  EXPECT_EQ(session().settings.verifyMode, 'n');
  EXPECT_EQ(session().settings.hexRecordType, 2);
  EXPECT_EQ(session().settings.outputMode, 'q');
  EXPECT_EQ(run("V") + run("t4") + run("M"), "");
  EXPECT_EQ(session().settings.verifyMode, 'v');
  EXPECT_EQ(session().settings.hexRecordType, 4);
  EXPECT_EQ(session().settings.outputMode, 'v');
  EXPECT_EQ(run("mfBad.txt"), "Mismatch filename=Bad.txt\n");
  EXPECT_EQ(session().settings.mismatchFileName, "Bad.txt");
  EXPECT_EQ(link().events().size(), 0u);
}

TEST_F(CommandTest, HelpPrintsTheProgramsHelpText) {
  ScriptedConsole expected;
  printHelp(tarnwickProfile(), expected);
  EXPECT_EQ(run("h"), expected.output());
  EXPECT_EQ(run("H"), expected.output());
  EXPECT_EQ(run("Help"), "");  // not the whole word
}

TEST_F(CommandTest, UnknownTokensDoNothingAtAll) {
  for (const char* token : {"pf4", "pf", "xyz", "ffile", "tx"}) {
    EXPECT_EQ(run(token), "") << token;
    EXPECT_EQ(link().events().size(), 0u) << token;
  }
  EXPECT_FALSE(session().commandFailed);
}

TEST_F(CommandTest, OverlongTokenIsRefusedWhole) {
  std::string token = "sf" + std::string(198, '1');  // 200 characters
  EXPECT_EQ(run(token), "Command too long\n");
  EXPECT_EQ(session().settings.fillChar, 0xFF);
  EXPECT_TRUE(session().commandFailed);
  std::string longest = "mf" + std::string(197, 'x');  // 199 characters still run
  EXPECT_EQ(run(longest), "Mismatch filename=" + std::string(197, 'x') + "\n");
}

// --- The programming-mode bracket -------------------------------------------

TEST_F(CommandTest, TargetCommandIdentifiesTheRunningTargetFirstAndReleasesItAfter) {
  run("gc");
  const std::vector<LinkEvent>& events = link().events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front().kind, LinkEvent::kEnter);
  EXPECT_EQ(events[1].kind, LinkEvent::kEnable);
  EXPECT_EQ(events.back().kind, LinkEvent::kLeave);
  EXPECT_EQ(link().instructionsWith(0x30).size(), 3u);  // the signature, read again
  EXPECT_EQ(link().instructionsWith(0x38).size(), 1u);
  EXPECT_TRUE(session().target.targetReleased);
  EXPECT_EQ(output(), "Calibration byte: a5\n");
}

TEST_F(CommandTest, HeldTargetIsNotIdentifiedAgain) {
  session().target.targetReleased = false;
  run("gl");
  EXPECT_EQ(link().count(LinkEvent::kEnter), 0);
  EXPECT_EQ(link().count(LinkEvent::kLeave), 1);
}

TEST_F(PelloryCommandTest, FirstCommandReleasesTheTargetHeldSinceStartUp) {
  session().target.targetReleased = false;
  run("h");
  EXPECT_EQ(link().transcript(), "leave\n");
  EXPECT_TRUE(session().target.targetReleased);
  run("h");
  EXPECT_EQ(link().transcript(), "");
}

TEST_F(PelloryCommandTest, ChipEraseIsPelloryOnly) {
  EXPECT_EQ(run("ce"), "Erase chip\n");
  ASSERT_EQ(link().instructionsWith(0xAC).size(), 1u);
  EXPECT_EQ(link().instructionsWith(0xAC)[0].bytes[1], 0x80);
}

// --- Fuses and the lock byte -------------------------------------------------

TEST_F(CommandTest, LockByteIsWrittenOnTheSecondEntryOnly) {
  EXPECT_EQ(run("pl12"), "");
  EXPECT_EQ(link().count(LinkEvent::kEnter), 1);  // every entry re-identifies
  EXPECT_EQ(run("sfff"), "Fill char=ff\n");
  restoreDefaultSettings(session());  // the count outlives resets
  EXPECT_EQ(run("pl34"), "Write lock byte 34\n");
  std::vector<IspInstruction> writes;
  for (const IspInstruction& i : link().instructionsWith(0xAC)) {
    if (i.bytes[1] == 0xE0) writes.push_back(i);
  }
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes[3], 0x34);
  EXPECT_EQ(run("pl56"), "");
  EXPECT_EQ(session().settings.lockArmCount, 1);
}

TEST_F(CommandTest, SecondLockEntryWithoutANumberWritesNothing) {
  run("pl");
  EXPECT_EQ(run("plzz"), "Lock byte value must be a hexadecimal byte, as in pl3c\n");
  EXPECT_EQ(link().instructionsWith(0xAC).size(), 0u);
  EXPECT_EQ(session().settings.lockArmCount, 0);
  EXPECT_TRUE(session().commandFailed);
}

TEST_F(CommandTest, FuseWritesTakeTheirValuesFromTheToken) {
  EXPECT_EQ(run("pf1e2"), "Write fuse byte 1: e2\n");
  EXPECT_EQ(run("pfa62,d9,ff"), "Write fuse bytes: 62 d9 ff\n");
  EXPECT_FALSE(session().commandFailed);
}

TEST_F(CommandTest, FuseWritesWithoutUsableValuesAreRefusedBeforeTheTargetIsTouched) {
  EXPECT_EQ(run("pf1"), "Fuse value must be a hexadecimal byte, as in pf1e2\n");
  EXPECT_EQ(link().events().size(), 0u);
  EXPECT_EQ(run("pf3xyz"), "Fuse value must be a hexadecimal byte, as in pf1e2\n");
  for (const char* token :
       {"pfa62,d9", "pfa62,d9,ff,00", "pfa6200,d9,ff", "pfa,d9,ff", "pfa62,zz,ff", "pfa"}) {
    EXPECT_EQ(run(token), "Fuse values must be three hexadecimal bytes, as in pfa62,d9,ff\n")
        << token;
    EXPECT_EQ(link().count(LinkEvent::kSend), 0) << token;
  }
  EXPECT_TRUE(session().commandFailed);
}

TEST(FuseArguments, TriplesSplitAtTwoCommasIntoShortHexFields) {
  uint8_t values[3] = {1, 2, 3};
  EXPECT_TRUE(parseFuseTriple("62,d9,ff", values));
  EXPECT_EQ(values[0], 0x62);
  EXPECT_EQ(values[1], 0xD9);
  EXPECT_EQ(values[2], 0xFF);
  EXPECT_TRUE(parseFuseTriple("1,E,fF", values));  // one or two digits, any case
  EXPECT_EQ(values[0], 0x01);
  EXPECT_EQ(values[1], 0x0E);
  EXPECT_EQ(values[2], 0xFF);
  for (const char* bad :
       {"", ",,", "1,2", "1,2,3,", "1,2,3,4", "1234,2,3", "1,2,", "g,2,3", "0x1,E,1f", "620,d9,ff",
        "62,d9,1ff", "62, d9,ff", "62,d9,ff ", "62,-1,ff"}) {
    EXPECT_FALSE(parseFuseTriple(bad, values)) << bad;
  }
  EXPECT_EQ(values[0], 0x01);  // untouched by the refusals
}

// --- Files -----------------------------------------------------------------

TEST_F(CommandTest, FlashDownloadProgramsAndVerifies) {
  hexFileOnTarget("prog.hex", randomBytes(300, 1));
  std::string text = run("dfprog.hex");
  EXPECT_NE(text.find("\nTarget matches prog.hex\n"), std::string::npos) << text;
  EXPECT_FALSE(session().commandFailed);
  EXPECT_TRUE(session().target.targetReleased);
}

TEST_F(CommandTest, NoVerifyHoldsForTheNextDownloadOnly) {
  hexFileOnTarget("prog.hex", randomBytes(64, 2));
  run("nv");
  run("dfprog.hex");
  EXPECT_EQ(flashReads(), 0u);
  run("dfprog.hex");
  EXPECT_GT(flashReads(), 0u);
  EXPECT_NE(output().find("Target matches prog.hex"), std::string::npos);
}

TEST_F(CommandTest, FastDownloadSkipsBusyWaitsOnlyWhileItRuns) {
  std::vector<uint8_t> data = randomBytes(40, 3);
  hexFileOnTarget("irmware.hex", data);
  bool flagSeenDuringDownload = false;
  link().onQuery = [&](const IspInstruction& i) -> uint8_t {
    flagSeenDuringDownload |= session().settings.noBusyWait;
    uint32_t word = (static_cast<uint32_t>(i.bytes[1]) << 8) | i.bytes[2];
    if (i.bytes[0] == 0x30) return link().signature[i.bytes[2] % 3];
    if (i.bytes[0] == 0x20) return word * 2 < data.size() ? data[word * 2] : 0xFF;
    if (i.bytes[0] == 0x28) return word * 2 + 1 < data.size() ? data[word * 2 + 1] : 0xFF;
    return 0xFF;
  };
  std::string text = run("dffirmware.hex");
  EXPECT_NE(text.find("Target matches irmware.hex"), std::string::npos) << text;
  EXPECT_TRUE(flagSeenDuringDownload);
  EXPECT_FALSE(session().settings.noBusyWait);
}

// "-dffirmware.hex" is dff of irmware.hex; with only firmware.hex there, the
// message says so, with the '-' the command line gives commands.
TEST_F(CommandTest, FastDownloadOfAMissingNameSaysWhatTheFWasTakenFor) {
  hexFileOnTarget("firmware.hex", randomBytes(40, 4));
  session().commandOrigin = CommandOrigin::kCommandLine;
  EXPECT_EQ(run("dffirmware.hex"),
            "Can't open download file irmware.hex (-dffirmware.hex is the fast download dff of "
            "irmware.hex; for firmware.hex write -df./firmware.hex)\n");
  EXPECT_TRUE(link().events().empty());
  session().commandOrigin = CommandOrigin::kPrompt;
  EXPECT_NE(run("dffirmware.hex").find("(dffirmware.hex is"), std::string::npos);
  EXPECT_NE(run("df./firmware.hex").find("Target matches ./firmware.hex"), std::string::npos);
}

TEST_F(PelloryCommandTest, DownloadOfANameBeginningWithFIsAPlainDownload) {
  hexFileOnTarget("firmware.hex", randomBytes(40, 4));
  EXPECT_NE(run("dffirmware.hex").find("Target matches firmware.hex"), std::string::npos);
}

TEST_F(CommandTest, FailedDownloadsMarkTheRunFailed) {
  EXPECT_EQ(run("dfmissing.hex"),
            "Can't open download file\n   missing.hex: No such file or directory\n");
  EXPECT_TRUE(session().commandFailed);
  session().commandFailed = false;
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(32, 5)));  // target stays blank
  EXPECT_NE(run("dfprog.hex").find("ERROR - Target does not match prog.hex"), std::string::npos);
  EXPECT_TRUE(session().commandFailed);
}

TEST_F(CommandTest, LoadFillsTheLoadImageWithoutTouchingTheTarget) {
  std::vector<uint8_t> data = randomBytes(20, 6);
  writeFile(dir.file("image.hex"), intelHexText(data));
  run("sf00");
  EXPECT_EQ(run("ldimage.hex"), "");
  EXPECT_EQ(link().events().size(), 0u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), session().images.load->begin()));
  EXPECT_EQ((*session().images.load)[20], 0x00);  // cleared with the fill character
  EXPECT_EQ(session().settings.fillChar, 0xFF);   // and the settings reset after
  EXPECT_EQ(run("ldnothing.hex"),
            "Can't open download file\n   nothing.hex: No such file or directory\n");
  EXPECT_TRUE(session().commandFailed);
}

TEST_F(CommandTest, FlashUploadWritesWhatTheTargetHolds) {
  std::vector<uint8_t> data = randomBytes(20, 7);
  link().flash = data;
  run("t2");
  std::string text = run("ufsaved.hex");
  EXPECT_NE(text.find("Last data value in buffer = 14 20\n"), std::string::npos) << text;
  EXPECT_EQ(imageFromFile("saved.hex", data.size()), data);
  EXPECT_EQ(session().settings.hexRecordType, 2);  // outside the reset
  EXPECT_FALSE(session().commandFailed);
}

TEST_F(CommandTest, EepromUploadWritesWhatTheTargetHolds) {
  std::vector<uint8_t> data = randomBytes(10, 8);
  link().eeprom = data;
  std::string text = run("uesaved.hex");
  EXPECT_EQ(text.find("Last data value"), std::string::npos);
  EXPECT_EQ(imageFromFile("saved.hex", data.size()), data);
}

TEST_F(CommandTest, UploadIsRefusedForAnUnrecognisedPartOrAnUnwritableFile) {
  link().flash = randomBytes(20, 9);
  EXPECT_NE(run("ufno-dir/saved.hex").find("no-dir/saved.hex"), std::string::npos);
  EXPECT_TRUE(session().commandFailed);
  session().commandFailed = false;
  link().signature[0] = 0x00;
  EXPECT_EQ(run("ufsaved.hex"), "Target processor not recognized - command not run\n");
  EXPECT_FALSE(fileExists(dir.file("saved.hex")));
  EXPECT_TRUE(session().commandFailed);
}

TEST_F(CommandTest, LogFileOpensOrStaysOff) {
  EXPECT_EQ(run("lfno-dir/run.log"),
            "Can't open log file no-dir/run.log\n   no-dir/run.log: No such file or directory\n");
  EXPECT_FALSE(session().settings.logEnabled);
  EXPECT_EQ(session().logStream, nullptr);
  EXPECT_TRUE(session().commandFailed);
  writeFile(dir.file("run.log"), "old contents");
  EXPECT_EQ(run("lfrun.log"), "");
  EXPECT_TRUE(session().settings.logEnabled);
  ASSERT_NE(session().logStream, nullptr);
  std::fputs("mark", session().logStream);
  EXPECT_EQ(executeCommand(session(), "e"), CommandOutcome::kExit);
  EXPECT_EQ(session().logStream, nullptr);
  EXPECT_FALSE(session().settings.logEnabled);
  EXPECT_EQ(readFile(dir.file("run.log")), "mark");
}

TEST_F(CommandTest, LogAndMismatchFilesDoNotFollowAnotherUsersLinkInASharedFolder) {
  if (!runningAsRoot()) GTEST_SKIP() << "a link owned by another user needs root";
  ASSERT_TRUE(makeStickyFolder(dir.file("tmp")));
  writeFile(dir.file("precious"), "keep me");
  ASSERT_TRUE(plantLink(dir.file("tmp/run.log"), dir.file("precious"), kOtherUser));
  ASSERT_TRUE(plantLink(dir.file("tmp/list.txt"), dir.file("precious"), kOtherUser));

  EXPECT_NE(run("lftmp/run.log").find("tmp/run.log: a symbolic link"), std::string::npos);
  EXPECT_TRUE(session().commandFailed);
  session().commandFailed = false;

  hexFileOnTarget("prog.hex", randomBytes(40, 4));
  run("mftmp/list.txt");
  std::string text = run("dfprog.hex");
  EXPECT_NE(text.find("Target matches prog.hex"), std::string::npos) << text;
  EXPECT_NE(text.find("Can't open mismatch file tmp/list.txt\n"), std::string::npos) << text;
  EXPECT_TRUE(session().commandFailed);
  EXPECT_EQ(readFile(dir.file("precious")), "keep me");
}

// --- Steering the run ------------------------------------------------------

TEST_F(CommandTest, ExitLeavesProgrammingModeWhateverTheStateSays) {
  link().clearEvents();
  EXPECT_EQ(executeCommand(session(), "E"), CommandOutcome::kExit);
  EXPECT_EQ(link().transcript(), "leave\n");
  EXPECT_EQ(output(), "");
}

TEST_F(CommandTest, PauseWaitsForOneKey) {
  harness.console.addInput("xy");
  EXPECT_EQ(run("p"), "Paused - hit any key to continue\n");
  std::string rest;
  ASSERT_TRUE(harness.console.readToken(rest));
  EXPECT_EQ(rest, "y");                                       // exactly one key was taken
  EXPECT_EQ(run("P"), "Paused - hit any key to continue\n");  // input over: no wait
  EXPECT_EQ(link().events().size(), 0u);
}

}  // namespace
