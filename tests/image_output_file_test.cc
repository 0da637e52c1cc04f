// Output files: links planted in shared folders, what a replaced file keeps,
// and temporary files when a signal ends the process mid-write.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "image/hex_writer.h"
#include "image/output_file.h"
#include "run/console.h"
#include "tests/support/shared_folder.h"
#include "tests/support/temp_dir.h"

namespace {

std::string namesIn(const std::string& folder) {
  std::string names;
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(listing)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names += name + " ";
    }
    ::closedir(listing);
  }
  return names;
}

bool writeWhole(const std::string& path, const std::string& text) {
  OutputFile file;
  return file.open(path) && file.write(text.data(), text.size()) && file.commit();
}

class SharedFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!runningAsRoot()) GTEST_SKIP() << "links owned by another user need root";
    ASSERT_TRUE(makeStickyFolder(dir.file("tmp")));
    writeFile(dir.file("precious"), "keep me");
  }
  TempDir dir;
};

TEST_F(SharedFolder, AnUploadDoesNotFollowAnotherUsersLink) {
  ASSERT_TRUE(plantLink(dir.file("tmp/up.hex"), dir.file("precious"), kOtherUser));
  ScriptedConsole console;
  auto image = std::make_unique<ImageBuffer>();
  image->fill(0x00);
  EXPECT_EQ(writeHexFile(dir.file("tmp/up.hex"), *image, 16, 4, console), -1);
  EXPECT_EQ(readFile(dir.file("precious")), "keep me");
  const std::string name = dir.file("tmp/up.hex");
  EXPECT_EQ(console.output(), "Can't open output file " + name + "\n   " + name +
                                  ": a symbolic link in a shared sticky folder, owned by another "
                                  "user; not followed\n");
  struct stat link;
  ASSERT_EQ(::lstat(name.c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
}

TEST_F(SharedFolder, OwnLinksAndTheFolderOwnersLinksAreFollowed) {
  ASSERT_TRUE(plantLink(dir.file("tmp/mine.hex"), dir.file("precious"), ::geteuid()));
  EXPECT_TRUE(writeWhole(dir.file("tmp/mine.hex"), "replaced"));
  EXPECT_EQ(readFile(dir.file("precious")), "replaced");

  ASSERT_EQ(::chown(dir.file("tmp").c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_TRUE(plantLink(dir.file("tmp/owners.hex"), dir.file("precious"), kOtherUser));
  EXPECT_TRUE(writeWhole(dir.file("tmp/owners.hex"), "again"));
  EXPECT_EQ(readFile(dir.file("precious")), "again");
}

TEST_F(SharedFolder, AFolderThatIsNotStickyFollowsLinksAsTheKernelWould) {
  ASSERT_EQ(::chmod(dir.file("tmp").c_str(), 0777), 0);
  ASSERT_TRUE(plantLink(dir.file("tmp/up.hex"), dir.file("precious"), kOtherUser));
  EXPECT_TRUE(writeWhole(dir.file("tmp/up.hex"), "written"));
  EXPECT_EQ(readFile(dir.file("precious")), "written");
}

TEST(OutputFile, AReplacedFileKeepsItsModeAndOwner) {
  TempDir dir;
  const std::string path = dir.file("up.hex");
  writeFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const bool root = runningAsRoot();
  if (root) {
    ASSERT_EQ(::chown(path.c_str(), kOtherUser, kOtherUser), 0);
  }
  ASSERT_TRUE(writeWhole(path, "new"));
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(info.st_uid, kOtherUser);
    EXPECT_EQ(info.st_gid, kOtherUser);
  }
  EXPECT_EQ(readFile(path), "new");
}

// A change of owner clears the set-user-ID and set-group-ID bits, even one
// back to the same owner, so the owner must be given back before the mode.
// Each user can check that with a file of their own; root also with another
// user's file.
TEST(OutputFile, AReplacedFileKeepsItsSetIdBits) {
  std::vector<uid_t> owners = {::geteuid()};
  if (runningAsRoot()) owners.push_back(kOtherUser);
  for (uid_t owner : owners) {
    TempDir dir;
    const std::string path = dir.file("tool");
    writeFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), owner, ::getegid()), 0);
    ASSERT_EQ(::chmod(path.c_str(), 06750), 0);
    ASSERT_TRUE(writeWhole(path, "new"));
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 06750u) << "owner " << owner;
    EXPECT_EQ(info.st_uid, owner);
  }
}

// A child process is stopped by each signal half-way through its write; the
// temporary file must be gone, the target untouched, and the signal must still
// end the process as it would have.
TEST(OutputFile, ASignalDuringTheWriteRemovesTheTemporaryFile) {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    TempDir dir;
    writeFile(dir.file("up.hex"), "old");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      OutputFile file;
      if (!file.open(dir.file("up.hex")) || !file.write("half", 4)) ::_exit(3);
      ::raise(signalNumber);
      ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber)
        << "signal " << signalNumber << ", status " << status;
    EXPECT_EQ(namesIn(dir.path()), "up.hex ") << "signal " << signalNumber;
    EXPECT_EQ(readFile(dir.file("up.hex")), "old");
  }
}

TEST(OutputFile, TheSignalsAreGivenBackAfterTheWrite) {
  TempDir dir;
  struct sigaction before;
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
  ASSERT_TRUE(writeWhole(dir.file("up.hex"), "text"));
  struct sigaction after;
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
