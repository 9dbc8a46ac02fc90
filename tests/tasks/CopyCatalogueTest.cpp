// The catalogue's judgement of copies whose manifest is not simply theirs: same-file mode
// sharing one file and one manifest, and a manifest describing other files.

#include "tasks/CopyCatalogue.h"

#include <gtest/gtest.h>

#include "core/AtomicFile.h"
#include "core/Sha256.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

CopyManifest Describing(const std::string& manifestPath, const std::vector<std::string>& files) {
  CopyManifest manifest;
  for (const std::string& file : files) {
    ManifestFile described;
    described.Name = ManifestRelativeName(manifestPath, file);
    EXPECT_TRUE(Sha256OfFile(file, described.Sha256, &described.Size).ok());
    manifest.Files.push_back(described);
  }
  return manifest;
}

TEST(CopyCatalogueTest, SameFileCopiesAreJudgedOnlyByTheNewest) {
  test::TempDir dir;
  const std::string same = dir.file("all.sql");
  ASSERT_TRUE(test::WriteWholeFile(same, "-- run 3\n"));
  CTaskItem task;
  for (int day = 1; day <= 3; ++day) {
    task.BackupHistory.push_back({{2026, 3, day, 2, 0, 0}, 1, 1, 0, "", {same}});
  }
  ASSERT_TRUE(
      WriteManifest(same + ".manifest.json", Describing(same + ".manifest.json", {same})).ok());
  std::vector<CatalogueCopy> copies = ListCopies(task, CatalogueCheck{true});
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_TRUE(copies[0].Replaced);
  EXPECT_TRUE(copies[1].Replaced);
  EXPECT_FALSE(copies[2].Replaced);
  for (const CatalogueCopy& copy : copies) EXPECT_TRUE(CopyProblems(copy, true).empty());

  // The file gone: one problem, of the copy it belongs to.
  ASSERT_TRUE(RemoveFileIfExists(same));
  copies = ListCopies(task, CatalogueCheck{true});
  EXPECT_TRUE(CopyProblems(copies[0], true).empty());
  EXPECT_EQ(CopyProblems(copies[2], true), std::vector<std::string>{"missing: " + same});
}

TEST(CopyCatalogueTest, AManifestOfOtherFilesIsAProblemButAnotherSpellingIsNot) {
  test::TempDir dir;
  const std::string a = dir.file("a.sql");
  const std::string b = dir.file("b.sql");
  ASSERT_TRUE(test::WriteWholeFile(a, "a"));
  ASSERT_TRUE(test::WriteWholeFile(b, "b"));
  CTaskItem task;
  task.BackupHistory.push_back({{2026, 3, 1, 2, 0, 0}, 2, 1, 0, "", {a}});
  const std::string manifest = a + ".manifest.json";
  ASSERT_TRUE(WriteManifest(manifest, Describing(manifest, {b})).ok());
  std::vector<CatalogueCopy> copies = ListCopies(task, CatalogueCheck{});
  EXPECT_EQ(copies[0].Manifest, ManifestState::OtherFiles);
  EXPECT_EQ(CopyProblems(copies[0], false),
            std::vector<std::string>{"The manifest names other files than the copy records! - " +
                                     manifest});

  task.BackupHistory[0].CopyFiles = {dir.path() + "./a.sql"};
  CopyManifest own = Describing(manifest, {a});
  ASSERT_TRUE(WriteManifest(dir.path() + "./a.sql.manifest.json", own).ok());
  copies = ListCopies(task, CatalogueCheck{true});
  EXPECT_EQ(copies[0].Manifest, ManifestState::Present);
  EXPECT_TRUE(CopyProblems(copies[0], true).empty());

  // A copy of no files has no manifest to miss.
  task.BackupHistory[0].CopyFiles.clear();
  copies = ListCopies(task, CatalogueCheck{true});
  EXPECT_EQ(copies[0].ManifestPath, "");
  EXPECT_TRUE(CopyProblems(copies[0], true).empty());
}

}  // namespace
}  // namespace brevanto
