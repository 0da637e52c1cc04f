// Output files written by whole runs of both programs: an upload into a shared
// sticky folder where another user planted a link, and a mismatch file that
// cannot be created. Each fails its command (status 2) and the run goes on.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/hex_text.h"
#include "tests/support/run_process.h"
#include "tests/support/shared_folder.h"
#include "tests/support/simulators.h"
#include "tests/support/temp_dir.h"

namespace {

bool isSymbolicLink(const std::string& path) {
  struct stat link;
  return ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
}

class OutputFileRun : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override { writeCalibrationFor(GetParam(), dir.path()); }

  bool tarnwick() const { return GetParam() == Program::kTarnwick; }

  ProcessResult run(const std::vector<std::string>& arguments) {
    return runOnSimulatedPart(GetParam(), "ATmega168", dir.path(), arguments);
  }

  TempDir dir;
};

TEST_P(OutputFileRun, AnUploadDoesNotFollowALinkPlantedInASharedFolder) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root: a link owned by another user";
  ASSERT_TRUE(makeStickyFolder(dir.file("shared")));
  writeFile(dir.file("precious"), "keep me");
  ASSERT_TRUE(plantLink(dir.file("shared/up.hex"), dir.file("precious"), kOtherUser));
  ProcessResult result = run({"-ufshared/up.hex", "-ufown.hex"});
  EXPECT_EQ(result.exitStatus, 2) << result.output;
  EXPECT_NE(result.output.find("Can't open output file shared/up.hex\n   shared/up.hex: a "
                               "symbolic link"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(readFile(dir.file("precious")), "keep me");
  EXPECT_TRUE(fileExists(dir.file("own.hex")));  // the run went on
}

// The same folder as any user sees it: their own link there is followed, and
// the file it points to is replaced as the upload.
TEST_P(OutputFileRun, AnUploadFollowsTheUsersOwnLinkInASharedFolder) {
  ASSERT_TRUE(makeStickyFolder(dir.file("shared")));
  writeFile(dir.file("mine.hex"), "old");
  ASSERT_TRUE(plantLink(dir.file("shared/up.hex"), dir.file("mine.hex"), ::geteuid()));
  ProcessResult result = run({"-ufshared/up.hex"});
  EXPECT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_EQ(readFile(dir.file("mine.hex")).rfind(":", 0), 0u);
  EXPECT_TRUE(isSymbolicLink(dir.file("shared/up.hex")));
}

TEST_P(OutputFileRun, AMismatchFileThatCannotBeCreatedFailsTheRun) {
  writeFile(dir.file("prog.hex"), intelHexText(randomBytes(64, 3)));
  ProcessResult result = run({"-mfno-dir/list.txt", "-dfprog.hex"});
  EXPECT_EQ(result.exitStatus, 2) << result.output;
  EXPECT_NE(result.output.find("Can't open mismatch file no-dir/list.txt\n"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("Target matches prog.hex"), std::string::npos) << result.output;
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, OutputFileRun,
                         ::testing::Values(Program::kTarnwick, Program::kPellory),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.param == Program::kTarnwick ? "tarnwick" : "pellory";
                         });

}  // namespace
