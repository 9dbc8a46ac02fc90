// brevanto-run --copies NAME --remote and --fetch against an rclone remote of type local (a
// folder): the copies a target holds, also those another host's task put there, and a copy
// downloaded with each file checked; a changed object fails the fetch naming it and leaves
// no file.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/Sha256.h"
#include "tasks/CopyManifest.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/engines/RcloneTaskFolder.h"
#include "tests/support/FolderStore.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::RunBrevanto;

class BrevantoRunRemoteTest : public testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v rclone >/dev/null") != 0) GTEST_SKIP() << "rclone is needed";
    CTaskItem local;
    local.TaskKey = "k2";
    local.TaskName = "Local";
    local.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    test::WriteRcloneFolder(m_dir,
                            {test::RcloneBackupTask("k1", "Nightly", m_remote.path()), local});
  }

  // A copy as a run uploads it: its files, then its manifest.
  void PutCopy(const std::string& copy, const std::string& task, const std::string& started,
               const std::string& hostname,
               const std::vector<std::pair<std::string, std::string>>& files) {
    CopyManifest manifest;
    manifest.TaskName = task;
    manifest.Started = started;
    manifest.Server.Hostname = hostname;
    manifest.Server.Port = 3306;
    for (const auto& [name, bytes] : files) {
      ASSERT_TRUE(m_store.PutBytes(copy + "/" + name, bytes).ok());
      manifest.Files.push_back({copy + "/" + name, bytes.size(), Sha256Hex(bytes), {}});
    }
    ASSERT_TRUE(m_store.PutBytes(copy + ".manifest.json", ManifestToJson(manifest)).ok());
  }

  test::RunResult Run(const std::string& arguments) const {
    return RunBrevanto("--folder '" + m_dir.path() + "' " + arguments, test::Launcher(m_dir));
  }

  test::TempDir m_dir;
  test::TempDir m_remote;
  test::TempDir m_fetched;
  test::FolderStore m_store{m_remote.path()};
};

TEST_F(BrevantoRunRemoteTest, TheTargetsCopiesAreListedWithThoseOfAnotherHost) {
  PutCopy("2026-12-07_03-00", "Nightly", "2026-12-07T03:00:00Z", "db1",
          {{"shop.sql", "INSERT 1;\n"}});
  PutCopy("2026-12-07_04-00", "Nightly on db2", "2026-12-07T04:00:00Z", "db2",
          {{"shop.sql", std::string(3000, 'x')}});
  PutCopy("2026-12-08_03-00", "Nightly", "2026-12-08T03:00:00Z", "db1",
          {{"a.sql", "INSERT 1;\n"}, {"b.sql", "INSERT 2;\n"}});
  ASSERT_TRUE(m_store.Delete("2026-12-08_03-00/b.sql").ok());

  test::RunResult result = Run("--copies Nightly --remote");
  EXPECT_EQ(result.status, 1) << result.output;  // one copy is not whole
  EXPECT_EQ(
      result.output,
      "COPY                    STARTED (UTC)        SERVER                FILES       SIZE  STATE\n"
      "2026-12-07_03-00        2026-12-07 03:00:00  db1:3306                  1       10 B  "
      "complete\n"
      "2026-12-07_04-00        2026-12-07 04:00:00  db2:3306                  1       2 KB  "
      "complete\n"
      "    made by the task \"Nightly on db2\"\n"
      "2026-12-08_03-00        2026-12-08 03:00:00  db1:3306                  2       10 B  "
      "missing: 2026-12-08_03-00/b.sql\n");

  result = Run("--copies Nightly --remote --json");
  EXPECT_EQ(result.status, 1) << result.output;
  const nlohmann::json document = nlohmann::json::parse(result.output);
  EXPECT_EQ(document["task"], "Nightly");
  EXPECT_EQ(document["ok"], false);
  ASSERT_EQ(document["copies"].size(), 3u);
  EXPECT_EQ(document["copies"][1]["name"], "2026-12-07_04-00");
  EXPECT_EQ(document["copies"][1]["task"], "Nightly on db2");
  EXPECT_EQ(document["copies"][1]["server"]["hostname"], "db2");
  EXPECT_EQ(document["copies"][1]["complete"], true);
  EXPECT_EQ(document["copies"][2]["problem"], "missing: 2026-12-08_03-00/b.sql");

  ASSERT_TRUE(m_store.Delete("2026-12-08_03-00.manifest.json").ok());
  result = Run("--copies Nightly --remote");
  EXPECT_EQ(result.status, 0) << result.output;  // without its manifest it is not there yet

  result = Run("--copies Local --remote");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.output, "brevanto-run: \"Local\" has no off-site target\n");
}

TEST_F(BrevantoRunRemoteTest, FetchDownloadsTheNewestOrANamedCopyAndRefusesAChangedOne) {
  PutCopy("2026-12-07_03-00", "Nightly", "2026-12-07T03:00:00Z", "db1", {{"db/t.sql", "old\n"}});
  PutCopy("2026-12-08_03-00", "Nightly", "2026-12-08T03:00:00Z", "db1",
          {{"db/t.sql", "new\n"}, {"db/u.sql", "more\n"}});

  test::RunResult result = Run("--fetch Nightly --to '" + m_fetched.path() + "'");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(test::ReadWholeFile(m_fetched.file("2026-12-08_03-00/db/t.sql")), "new\n");
  EXPECT_EQ(test::ReadWholeFile(m_fetched.file("2026-12-08_03-00.manifest.json")),
            test::ReadWholeFile(m_remote.file("2026-12-08_03-00.manifest.json")));
  EXPECT_NE(result.output.find("fetched: " + m_fetched.file("2026-12-08_03-00.manifest.json")),
            std::string::npos)
      << result.output;

  result = Run("--fetch Nightly '2026-12-07 03:00:00' --to '" + m_fetched.path() + "'");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(test::ReadWholeFile(m_fetched.file("2026-12-07_03-00/db/t.sql")), "old\n");

  ASSERT_TRUE(m_store.PutBytes("2026-12-08_03-00/db/u.sql", "mora\n").ok());
  const std::string other = m_fetched.file("again");
  result = Run("--fetch Nightly 2026-12-08_03-00 --to '" + other + "'");
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find("The file's SHA-256 does not match its manifest! "
                               "2026-12-08_03-00/db/u.sql: " +
                               Sha256Hex("mora\n") + ", the manifest says " + Sha256Hex("more\n")),
            std::string::npos)
      << result.output;
  EXPECT_FALSE(std::filesystem::exists(other + "/2026-12-08_03-00/db/t.sql"));
  EXPECT_FALSE(std::filesystem::exists(other + "/2026-12-08_03-00.manifest.json"));

  result = Run("--fetch Nightly 2026-12-09_03-00 --to '" + other + "'");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("the target holds no copy named 2026-12-09_03-00"),
            std::string::npos)
      << result.output;
}

TEST_F(BrevantoRunRemoteTest, MisplacedOrMissingOptionsAreUsageErrors) {
  const struct {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"--fetch Nightly", "--fetch needs --to DIR"},
      {"--fetch Nightly one two --to x", "unexpected argument: two"},
      {"--list --remote", "--remote goes with --copies"},
      {"--copies Nightly --remote --check", "--check goes with the local copies, not --remote"},
      {"--run Nightly --to x", "--to goes with --fetch"},
      {"--restore-remote Nightly --into B",
       "--restore-remote needs --into SERVER and --database DB"},
      {"--copies Nightly --database d",
       "--into, --database and --identity go with --restore-remote"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const test::RunResult result = Run(c.arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.output.rfind("brevanto-run: " + std::string(c.message) + "\n", 0), 0u)
        << result.output;
  }
}

}  // namespace
}  // namespace brevanto
