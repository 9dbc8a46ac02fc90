// brevanto-run --copies without a server: a backup task's copies with their manifests, and
// the faults a restore would otherwise meet first (a changed byte, a missing file, a copy
// that cannot prove its content) reported with exit code 1.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "core/ApplicationFolder.h"
#include "core/Sha256.h"
#include "tasks/CopyManifest.h"
#include "tasks/TaskFile.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/LegacyTaskFile.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::RunBrevanto;

// A manifest for `copy` describing its files as they are now.
void Describe(const BackupCopy& copy) {
  CopyManifest manifest;
  manifest.TaskName = "Nightly";
  manifest.TaskKind = "BackupToFiles";
  const std::string path = ManifestPathOf(copy);
  for (const std::string& file : copy.CopyFiles) {
    ManifestFile described;
    described.Name = ManifestRelativeName(path, file);
    ASSERT_TRUE(Sha256OfFile(file, described.Sha256, &described.Size).ok());
    manifest.Files.push_back(described);
  }
  ASSERT_TRUE(WriteManifest(path, manifest).ok());
}

// The task "Nightly" with two intact copies, each described by its manifest: one in its run's
// DATE_TIME folder (two files), one a single file.
class BrevantoRunCopiesTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string dated = m_dir.file("2026-03-05_10-00-00");
    ::mkdir(dated.c_str(), 0700);  // made again for each case
    m_orders = dated + "/shop_orders.sql";
    m_items = dated + "/shop items \"x\".sql";
    m_single = m_dir.file("Nightly_2026-03-06_10-00-00.sql");
    ASSERT_TRUE(test::WriteWholeFile(m_orders, "INSERT INTO orders VALUES (1),(2);\n"));
    ASSERT_TRUE(test::WriteWholeFile(m_items, "INSERT INTO items VALUES ('a');\n"));
    ASSERT_TRUE(test::WriteWholeFile(m_single, std::string(3000, 'x')));
    CTaskItem task;
    task.TaskName = "Nightly";
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    task.BackupHistory = {{{2026, 3, 5, 10, 0, 0}, 2, 1, 0, dated, {m_orders, m_items}},
                          {{2026, 3, 6, 10, 0, 0}, 2, 1, 0, "", {m_single}}};
    for (const BackupCopy& copy : task.BackupHistory) Describe(copy);
    ASSERT_TRUE(WriteTaskFile(m_dir.file(kTaskFileName), {task}));
  }

  test::RunResult Copies(const std::string& options = "") const {
    return RunBrevanto("--folder '" + m_dir.path() + "' --copies Nightly " + options);
  }

  test::TempDir m_dir;
  std::string m_orders, m_items, m_single;
};

TEST_F(BrevantoRunCopiesTest, IntactCopiesAreATableAndADocumentAndPassTheCheck) {
  test::RunResult result = Copies();
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.output,
            "TIME                 FILES       SIZE  MANIFEST     STATE\n"
            "2026-03-05 10:00:00      2       67 B  present      ok\n"
            "2026-03-06 10:00:00      1       2 KB  present      ok\n");

  result = Copies("--check --json");
  ASSERT_EQ(result.status, 0) << result.output;
  const nlohmann::json document = nlohmann::json::parse(result.output);
  EXPECT_EQ(document["task"], "Nightly");
  EXPECT_EQ(document["checked"], true);
  EXPECT_EQ(document["ok"], true);
  ASSERT_EQ(document["copies"].size(), 2u);
  const nlohmann::json& first = document["copies"][0];
  EXPECT_EQ(first["time"], "2026-03-05 10:00:00");
  EXPECT_EQ(first["manifest"]["path"], m_dir.file("2026-03-05_10-00-00.manifest.json"));
  EXPECT_EQ(first["manifest"]["state"], "present");
  EXPECT_EQ(first["state"], "ok");
  EXPECT_EQ(first["size"], 35 + 32);
  ASSERT_EQ(first["files"].size(), 2u);
  EXPECT_EQ(first["files"][1]["path"], m_items);
  EXPECT_EQ(first["files"][1]["sha256"], first["files"][1]["expectedSha256"]);
  EXPECT_EQ(document["copies"][1]["files"][0]["size"], 3000);
}

TEST_F(BrevantoRunCopiesTest, EachFaultIsReportedAndExitsOne) {
  const std::string manifest = m_single + ".manifest.json";
  const struct {
    const char* name;
    std::function<void()> fault;
    int plainStatus;  // of --copies; --copies --check always exits 1
    std::string report;
  } cases[] = {
      {"one byte changed",
       [&] { test::WriteWholeFile(m_orders, "INSERT INTO orders VALUES (1),(3);\n"); }, 0,
       "content changed: " + m_orders + " (SHA-256 "},
      {"a byte appended",
       [&] { test::WriteWholeFile(m_items, "INSERT INTO items VALUES ('a');\n\n"); }, 1,
       "size changed: " + m_items + " (33 bytes, the manifest says 32)"},
      {"a file missing", [&] { ::unlink(m_single.c_str()); }, 1, "missing: " + m_single},
      {"the manifest damaged", [&] { test::WriteWholeFile(manifest, "{\"files\": [{\"na"); }, 1,
       "The manifest is not valid! - not a JSON object - " + manifest},
      {"the manifest missing", [&] { ::unlink(manifest.c_str()); }, 0,
       "manifest missing: " + manifest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();  // intact again
    c.fault();
    const test::RunResult plain = Copies();
    EXPECT_EQ(plain.status, c.plainStatus) << plain.output;
    const test::RunResult checked = Copies("--check");
    EXPECT_EQ(checked.status, 1) << checked.output;
    EXPECT_NE(checked.output.find("1 problem\n    " + c.report), std::string::npos)
        << checked.output;
    const test::RunResult json = Copies("--check --json");
    EXPECT_EQ(json.status, 1) << json.output;
    EXPECT_EQ(nlohmann::json::parse(json.output)["ok"], false);
  }
  // The last case: without a manifest a copy is listed as it always was, fine unless checked.
  const test::RunResult plain = Copies();
  EXPECT_NE(plain.output.find("no manifest  ok"), std::string::npos) << plain.output;
}

TEST_F(BrevantoRunCopiesTest, AnOldTaskFileLoadsAndItsCopiesAreListed) {
  const std::string old = m_dir.file("old.sql");
  ASSERT_TRUE(test::WriteWholeFile(old, "-- an old dump\n"));
  ASSERT_TRUE(
      test::WriteWholeFile(m_dir.file(kTaskFileName), test::LegacyFile(test::kVersion2, 1, old)));
  test::RunResult result = RunBrevanto("--folder '" + m_dir.path() + "' --copies 'Old task'");
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("2005-06-07 08:09:10      1       15 B  no manifest  ok"),
            std::string::npos)
      << result.output;
  // Such a copy cannot prove its content.
  result = RunBrevanto("--folder '" + m_dir.path() + "' --copies 'Old task' --check");
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find("manifest missing: " + old + ".manifest.json"), std::string::npos)
      << result.output;
}

TEST_F(BrevantoRunCopiesTest, UnknownTasksAndMisplacedOptionsAreUsageErrors) {
  EXPECT_EQ(RunBrevanto("--folder '" + m_dir.path() + "' --copies Nobody").status, 2);
  const test::RunResult check = RunBrevanto("--folder '" + m_dir.path() + "' --list --check");
  EXPECT_EQ(check.status, 2);
  EXPECT_EQ(check.output.rfind("brevanto-run: --check goes with --copies\n", 0), 0u)
      << check.output;
}

}  // namespace
}  // namespace brevanto
