// A copy's manifest: what is written reads back the same, names of every kind included,
// and a file that is not a whole manifest is refused with a message that says so.

#include "tasks/CopyManifest.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

CopyManifest Sample() {
  CopyManifest m;
  m.TaskName = "Nightly \"sales\" \\ 1";
  m.TaskKind = "BackupToFiles";
  m.Started = "2026-12-08T01:02:03Z";
  m.Ended = "2026-12-08T01:04:05Z";
  m.ProgramVersion = "1.4.0";
  m.Server = {"db1.example", 3307, "10.11.6-MariaDB-0+deb12u1", "db1", 4294967295u};
  m.SnapshotMode = "consistent";
  m.Files = {{"2026-12-08_01-02-03/shop_orders.sql.gz",
              123456789012ull,
              "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
              {"gzip"}},
             {"tab\tnew\nline \xC3\xA4\xE2\x82\xAC.sql", 0, "", {}}};
  m.Tables = {{"shop", "orders", "InnoDB", 18446744073709551615ull, "d1"},
              {"we\"ird`db", "t \xF0\x9F\x98\x80", "Aria", 0, ""}};
  m.Objects = {{"view", "shop", "v_totals", "abc"}, {"event", "shop", "nightly", "def"}};
  m.Binlog = ManifestBinlog{"mariadb-bin.000042", 1234567, "0-1-100,1-2-7"};
  return m;
}

TEST(CopyManifestTest, EveryFieldAndOddNamesSurviveTheJsonAndTheFile) {
  const CopyManifest written = Sample();
  CopyManifest read;
  ASSERT_TRUE(ManifestFromJson(ManifestToJson(written), read).ok());
  EXPECT_EQ(read, written);

  // Without a binary log there is no binlog block, and none comes back.
  CopyManifest noLog = written;
  noLog.Binlog.reset();
  const std::string json = ManifestToJson(noLog);
  EXPECT_EQ(json.find("binlog"), std::string::npos);
  ASSERT_TRUE(ManifestFromJson(json, read).ok());
  EXPECT_EQ(read, noLog);

  test::TempDir dir;
  const std::string path = dir.file("copy.sql.manifest.json");
  ASSERT_TRUE(WriteManifest(path, written).ok());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CopyManifest fromFile;
  ASSERT_TRUE(ReadManifest(path, fromFile).ok());
  EXPECT_EQ(fromFile, written);
}

// The documented example reads, and is exactly what the program writes for it: every key
// the program writes is documented, and no documented key is one it does not write.
TEST(CopyManifestTest, TheDocumentedExampleIsWhatTheProgramWrites) {
  const std::string doc =
      test::ReadWholeFile(std::string(BREVANTO_DOCS_DIR) + "/formats/manifest.md");
  const std::size_t start = doc.find("```json\n", doc.find("## Example"));
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = doc.find("```", start + 8);
  const std::string example = doc.substr(start + 8, end - start - 8);
  CopyManifest manifest;
  const Status status = ManifestFromJson(example, manifest);
  ASSERT_TRUE(status.ok()) << status.message();
  EXPECT_EQ(nlohmann::json::parse(ManifestToJson(manifest)), nlohmann::json::parse(example));
}

TEST(CopyManifestTest, ForeignAndTruncatedFilesAreRefusedWithAClearError) {
  const std::string whole = ManifestToJson(Sample());
  const struct {
    const char* name;
    std::string text;
    const char* what;
  } cases[] = {
      {"empty", "", "not a JSON object"},
      {"truncated", whole.substr(0, whole.size() / 2), "not a JSON object"},
      {"cut before the last brace", whole.substr(0, whole.rfind('}')), "not a JSON object"},
      {"an array", "[1, 2]", "not a JSON object"},
      {"a task export", R"({"name": "Nightly", "type": "Backup to files"})", "no file list"},
      {"a file without a name", R"({"files": [{"size": 1}]})", "files"},
      {"a size that is text", R"({"files": [{"name": "a.sql", "size": "12"}]})", "files"},
      {"a negative size", R"({"files": [{"name": "a.sql", "size": -1}]})", "files"},
      {"a fractional size", R"({"files": [{"name": "a.sql", "size": 1.5}]})", "files"},
      {"a port as text", R"({"server": {"port": "3306"}, "files": []})", "server"},
      {"format 0", R"({"format": 0, "files": []})", "format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CopyManifest manifest = Sample();
    const Status status = ManifestFromJson(c.text, manifest);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.message(), std::string("The manifest is not valid! - ") + c.what);
    EXPECT_EQ(manifest, Sample());  // untouched
  }

  test::TempDir dir;
  const std::string path = dir.file("x.manifest.json");
  ASSERT_TRUE(test::WriteWholeFile(path, whole.substr(0, 100)));
  CopyManifest manifest;
  Status status = ReadManifest(path, manifest);
  EXPECT_EQ(status.message(), "The manifest is not valid! - not a JSON object - " + path);
  status = ReadManifest(dir.file("none.manifest.json"), manifest);
  EXPECT_EQ(status.message(), "Failed to read the manifest! - " + dir.file("none.manifest.json"));
}

TEST(CopyManifestTest, NamesAreRelativeToTheManifestsFolder) {
  BackupCopy dated{{2026, 12, 8, 1, 2, 3},          2, 1, 0, "/b/2026-12-08_01-02-03/",
                   {"/b/2026-12-08_01-02-03/a.sql"}};
  const std::string manifest = ManifestPathOf(dated);
  EXPECT_EQ(manifest, "/b/2026-12-08_01-02-03.manifest.json");
  EXPECT_EQ(ManifestRelativeName(manifest, dated.CopyFiles[0]), "2026-12-08_01-02-03/a.sql");
  EXPECT_EQ(ManifestFilePath(manifest, "2026-12-08_01-02-03/a.sql"), dated.CopyFiles[0]);
  BackupCopy flat{{2026, 12, 8, 1, 2, 3}, 2, 1, 0, "", {"/b/n.sql.gz", "/b/m.sql.gz"}};
  EXPECT_EQ(ManifestPathOf(flat), "/b/n.sql.gz.manifest.json");
  EXPECT_EQ(ManifestRelativeName(ManifestPathOf(flat), "/elsewhere/x.sql"), "/elsewhere/x.sql");
  EXPECT_EQ(ManifestFilePath(ManifestPathOf(flat), "/elsewhere/x.sql"), "/elsewhere/x.sql");
  EXPECT_EQ(ManifestPathOf(BackupCopy{}), "");
}

}  // namespace
}  // namespace brevanto
