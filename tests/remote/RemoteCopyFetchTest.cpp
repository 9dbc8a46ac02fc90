// Reading copies back from a store: naming a copy as listings do, and downloading one into a
// folder in its layout with each file checked as it streams, so that a changed object, a
// manifest naming a path outside the folder or a file already there leave nothing under a
// final name.

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Sha256.h"
#include "remote/RemoteCopyFetch.h"
#include "tests/support/FolderStore.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

ManifestFile Described(const std::string& name, const std::string& bytes) {
  return {name, bytes.size(), Sha256Hex(bytes), {}};
}

class RemoteCopyFetchTest : public testing::Test {
 protected:
  // A copy as a backup run uploads it: its files under its DATE_TIME folder, the manifest last.
  void PutCopy(const std::string& copy, const std::string& started,
               const std::vector<std::pair<std::string, std::string>>& files) {
    CopyManifest manifest;
    manifest.TaskName = "Nightly";
    manifest.Started = started;
    for (const auto& [name, bytes] : files) {
      ASSERT_TRUE(m_store.PutBytes(copy + "/" + name, bytes).ok());
      manifest.Files.push_back(Described(copy + "/" + name, bytes));
    }
    ASSERT_TRUE(m_store.PutBytes(copy + ".manifest.json", ManifestToJson(manifest)).ok());
  }

  std::vector<RemoteCopy> Copies() {
    std::vector<RemoteCopy> copies;
    EXPECT_TRUE(ListRemoteCopies(m_store, copies).ok());
    return copies;
  }

  // Every file under `folder`, relative to it.
  static std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) names.push_back(entry.path().string().substr(folder.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir m_remote;
  test::TempDir m_local;
  test::FolderStore m_store{m_remote.path()};
};

TEST_F(RemoteCopyFetchTest, CopiesAreNamedByNameManifestOrTimeAndTheNewestCompleteIsTheDefault) {
  PutCopy("2026-12-06_03-00", "2026-12-06T03:00:00Z", {{"db/t.sql", "one"}});
  PutCopy("2026-12-07_03-00", "2026-12-07T03:00:00Z", {{"db/t.sql", "two"}});
  PutCopy("2026-12-08_03-00", "2026-12-08T03:00:00Z", {{"db/t.sql", "three"}});
  ASSERT_TRUE(m_store.Delete("2026-12-08_03-00/db/t.sql").ok());  // not complete
  const std::vector<RemoteCopy> copies = Copies();
  ASSERT_EQ(copies.size(), 3u);
  std::string problem;
  const RemoteCopy* newest = ChooseRemoteCopy(copies, "", problem);
  ASSERT_NE(newest, nullptr) << problem;
  EXPECT_EQ(RemoteCopyName(*newest), "2026-12-07_03-00");
  for (const char* name :
       {"2026-12-06_03-00", "2026-12-06_03-00.manifest.json", "2026-12-06 03:00:00"}) {
    const RemoteCopy* named = ChooseRemoteCopy(copies, name, problem);
    ASSERT_NE(named, nullptr) << name << ": " << problem;
    EXPECT_EQ(named->ManifestName, "2026-12-06_03-00.manifest.json");
  }
  EXPECT_EQ(ChooseRemoteCopy(copies, "2026-12-08_03-00", problem), nullptr);
  EXPECT_EQ(problem,
            "the copy 2026-12-08_03-00 is not complete: missing: 2026-12-08_03-00/db/t.sql");
  EXPECT_EQ(ChooseRemoteCopy(copies, "2026-12-09_03-00", problem), nullptr);
  EXPECT_EQ(problem, "the target holds no copy named 2026-12-09_03-00");
  EXPECT_EQ(ChooseRemoteCopy({}, "", problem), nullptr);
  EXPECT_EQ(problem, "the target holds no copies");
}

TEST_F(RemoteCopyFetchTest, ACopyLandsInItsLayoutOwnerOnlyWithTheManifestLast) {
  const std::string big(300000, 'x');  // many pieces of the store's reads
  PutCopy("2026-12-08_03-00", "2026-12-08T03:00:00Z",
          {{"db/t.sql.zst", big}, {"db/u v.sql", "INSERT 1;\n"}});
  std::vector<std::string> order;
  const RemoteCopy copy = Copies().front();
  ASSERT_TRUE(FetchRemoteCopy(m_store, copy, m_local.path(), [&](const std::string& path) {
                order.push_back(path.substr(m_local.path().size()));
              }).ok());
  const std::vector<std::string> expected{"2026-12-08_03-00.manifest.json",
                                          "2026-12-08_03-00/db/t.sql.zst",
                                          "2026-12-08_03-00/db/u v.sql"};
  EXPECT_EQ(FilesIn(m_local.path()), expected);
  EXPECT_EQ(order.back(), "2026-12-08_03-00.manifest.json");
  EXPECT_EQ(test::ReadWholeFile(m_local.file("2026-12-08_03-00/db/t.sql.zst")), big);
  for (const std::string& name : expected) {
    struct stat info {};
    ASSERT_EQ(::stat(m_local.file(name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
  }
  // A second fetch never writes over what is there.
  const Status again = FetchRemoteCopy(m_store, copy, m_local.path(), {});
  EXPECT_EQ(again.message(),
            "The file exists already! - " + m_local.file("2026-12-08_03-00.manifest.json"));
}

TEST_F(RemoteCopyFetchTest, AChangedOrLongerObjectFailsNamingItAndLeavesNoFile) {
  const struct {
    const char* name;
    std::string stored;  // what the store holds instead of "INSERT 2;\n"
    std::string message;
  } cases[] = {
      {"a byte changed", "INSERT 3;\n",
       "The file's SHA-256 does not match its manifest! 2026-12-08_03-00/db/b.sql: " +
           Sha256Hex("INSERT 3;\n") + ", the manifest says " + Sha256Hex("INSERT 2;\n")},
      {"cut short", "INSERT 2;",
       "The file's size does not match its manifest! 2026-12-08_03-00/db/b.sql: 9 bytes, the "
       "manifest says 10"},
      {"longer", "INSERT 2;\n\n",
       "The file is larger than its manifest says! 2026-12-08_03-00/db/b.sql: more than 10 "
       "bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PutCopy(
        "2026-12-08_03-00", "2026-12-08T03:00:00Z",
        {{"db/a.sql", "INSERT 1;\n"}, {"db/b.sql", "INSERT 2;\n"}, {"db/c.sql", "INSERT 3;\n"}});
    ASSERT_TRUE(m_store.PutBytes("2026-12-08_03-00/db/b.sql", c.stored).ok());
    RemoteCopy copy = Copies().front();
    copy.Complete = true;  // as listed before the object changed
    const Status fetched = FetchRemoteCopy(m_store, copy, m_local.path(), {});
    EXPECT_EQ(fetched.message(), c.message);
    // The folders made may stay; no file, temporary or final.
    EXPECT_EQ(FilesIn(m_local.path()), std::vector<std::string>{});
  }
}

TEST_F(RemoteCopyFetchTest, AManifestNamingAPathOutsideTheFolderIsRefused) {
  PutCopy("2026-12-08_03-00", "2026-12-08T03:00:00Z", {{"db/t.sql", "one"}});
  CopyManifest manifest;
  manifest.Files.push_back(Described("../../escaped.sql", "one"));
  ASSERT_TRUE(m_store.PutBytes("2026-12-08_03-00.manifest.json", ManifestToJson(manifest)).ok());
  ASSERT_TRUE(m_store.PutBytes("escaped.sql", "one").ok());
  const Status fetched = FetchRemoteCopy(m_store, Copies().front(), m_local.path(), {});
  EXPECT_EQ(fetched.message(), "The copy names a file outside its folder! - ../../escaped.sql");
  EXPECT_EQ(FilesIn(m_local.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace brevanto
