// Output files: links planted in shared folders, what a replaced file keeps,
// and temporary files when a signal ends the process mid-write.

#include <dirent.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

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
    if (!runningAsRoot()) GTEST_SKIP() << "needs root: links owned by another user";
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

// What any user can check of the shared folder: their own link is followed.
TEST(OutputFile, OwnLinkInASharedFolderIsFollowedByAnyUser) {
  TempDir dir;
  ASSERT_TRUE(makeStickyFolder(dir.file("tmp")));
  writeFile(dir.file("precious"), "keep me");
  ASSERT_TRUE(plantLink(dir.file("tmp/mine.hex"), dir.file("precious"), ::geteuid()));
  EXPECT_TRUE(writeWhole(dir.file("tmp/mine.hex"), "replaced"));
  EXPECT_EQ(readFile(dir.file("precious")), "replaced");
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

// The mode a set-id file of `owner` has after an upload replaced it.
unsigned modeAfterReplacing(const std::string& path, uid_t owner, gid_t group) {
  writeFile(path, "old");
  if (::chown(path.c_str(), owner, group) != 0 || ::chmod(path.c_str(), 06750) != 0) return 0;
  if (!writeWhole(path, "new")) return 0;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || info.st_uid != owner) return 0;
  return info.st_mode & 07777;
}

// A change of owner clears the set-user-ID and set-group-ID bits, even one
// back to the same owner, so the owner must be given back before the mode;
// and a write by an ordinary user clears them too, so they must go back after
// the text. Root checks both, the second as another user in a child process.
TEST(OutputFile, AReplacedFileKeepsItsSetIdBits) {
  {
    TempDir dir;
    EXPECT_EQ(modeAfterReplacing(dir.file("tool"), ::geteuid(), ::getegid()), 06750u);
  }
  if (!runningAsRoot()) return;
  {
    TempDir dir;
    EXPECT_EQ(modeAfterReplacing(dir.file("tool"), kOtherUser, kOtherUser), 06750u);
  }
  TempDir dir;
  ASSERT_EQ(::chown(dir.path().c_str(), kOtherUser, kOtherUser), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) {
      ::_exit(3);
    }
    ::_exit(modeAfterReplacing(dir.file("tool"), kOtherUser, kOtherUser) == 06750u ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
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
