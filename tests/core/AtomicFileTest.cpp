#include "core/AtomicFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/ApplicationFolder.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  return names;
}

TEST(AtomicFileTest, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.file("data.bin");
  ASSERT_TRUE(WriteWholeFile(path, "old content that is longer"));
  ::chmod(path.c_str(), 0644);

  ASSERT_TRUE(WriteFileAtomically(path, std::string("new\0bytes", 9)).ok());
  EXPECT_EQ(ReadWholeFile(path), std::string("new\0bytes", 9));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"data.bin"});
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the passwords inside are the owner's only
}

TEST(AtomicFileTest, AFailedWriteNamesTheFileAndKeepsTheOldOne) {
  TempDir dir;
  Status s = WriteFileAtomically(dir.file("no/such/folder/x.bin"), "x");
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.message().find(dir.file("no/such/folder/x.bin")), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("No such file or directory"), std::string::npos) << s.message();

  // The target is a folder: the rename fails and the temporary file is removed.
  ASSERT_TRUE(MakeFolder(dir.file("taken")));
  ASSERT_TRUE(WriteWholeFile(dir.file("taken/keep"), "keep"));
  EXPECT_FALSE(WriteFileAtomically(dir.file("taken"), "x").ok());
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"taken"});
}

// Another program may replace the file between our reads and writes: the guarded
// replacement never writes over its file, and the stamp it hands back is the one of the
// file it wrote, so a replacement right after it still counts as a change.
TEST(AtomicFileTest, GuardedReplacementNeverWritesOverAnotherProgramsFile) {
  TempDir dir;
  const std::string path = dir.file("shared.bin");
  ASSERT_TRUE(WriteWholeFile(path, "first"));
  FileStamp known = StampOf(path);
  ASSERT_TRUE(known.Exists);

  // Callers keep one stamp and hand it in as both.
  ASSERT_EQ(ReplaceFileIfUnchanged(path, "ours", known, &known), ReplaceResult::Replaced);
  EXPECT_EQ(ReadWholeFile(path), "ours");
  EXPECT_EQ(known, StampOf(path));
  FileStamp written;

  ASSERT_TRUE(WriteWholeFile(dir.file("theirs"), "theirs"));
  ASSERT_EQ(::rename(dir.file("theirs").c_str(), path.c_str()), 0);
  EXPECT_EQ(ReplaceFileIfUnchanged(path, "ours again", known, &written),
            ReplaceResult::ChangedOnDisk);
  EXPECT_EQ(RemoveFileIfUnchanged(path, known), ReplaceResult::ChangedOnDisk);
  EXPECT_EQ(ReadWholeFile(path), "theirs");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"shared.bin"});

  // A file expected missing may be created; one that appeared meanwhile is left alone.
  const std::string fresh = dir.file("fresh.bin");
  EXPECT_EQ(ReplaceFileIfUnchanged(fresh, "new", FileStamp{}, &written),
            ReplaceResult::Replaced);
  EXPECT_EQ(ReplaceFileIfUnchanged(fresh, "newer", FileStamp{}, &written),
            ReplaceResult::ChangedOnDisk);
  EXPECT_EQ(ReadWholeFile(fresh), "new");
}

TEST(ApplicationFolderTest, UsesTheExecutablesFolderOnlyForAPortableCopy) {
  TempDir dir;
  ASSERT_TRUE(MakeFolder(dir.file("bin")));
  const std::string home = dir.file("home");
  ASSERT_TRUE(MakeFolder(home));
  const std::string fallback = dir.file("home/.local/share/Brevanto/");

  // A writable folder alone (a build tree) is not a portable copy: the files go under the
  // home folder, where the missing levels are created.
  EXPECT_EQ(ChooseApplicationFolder(dir.file("bin/brevanto"), home), fallback);
  struct stat st {};
  ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(ChooseApplicationFolder(dir.file("gone/brevanto"), home), fallback);

  // The marker or an existing data file makes it one.
  ASSERT_TRUE(WriteWholeFile(dir.file("bin/portable"), ""));
  EXPECT_EQ(ChooseApplicationFolder(dir.file("bin/brevanto"), home), dir.file("bin/"));
  ASSERT_EQ(::unlink(dir.file("bin/portable").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(dir.file("bin/tasks_se.tsk"), ""));
  EXPECT_EQ(ChooseApplicationFolder(dir.file("bin/brevanto"), home), dir.file("bin/"));

  // ...but only while the user may write there.
  ::chmod(dir.file("bin").c_str(), 0500);
  const bool modesApply = ::access(dir.file("bin").c_str(), W_OK) != 0;  // not as root
  const std::string chosen = ChooseApplicationFolder(dir.file("bin/brevanto"), home);
  ::chmod(dir.file("bin").c_str(), 0700);
  if (modesApply) {
    EXPECT_EQ(chosen, fallback);
  }
}

TEST(ApplicationFolderTest, FollowsAnAbsoluteXdgDataHome) {
  TempDir dir;
  const std::string home = dir.file("home");
  EXPECT_EQ(ChooseApplicationFolder(dir.file("bin/brevanto"), home, dir.file("data/a")),
            dir.file("data/a/Brevanto/"));
  EXPECT_EQ(::access(dir.file("data/a/Brevanto").c_str(), F_OK), 0);
  // A relative value is ignored, as the base directory rules say.
  EXPECT_EQ(ChooseApplicationFolder(dir.file("bin/brevanto"), home, "relative/data"),
            dir.file("home/.local/share/Brevanto/"));
}

}  // namespace
}  // namespace brevanto
