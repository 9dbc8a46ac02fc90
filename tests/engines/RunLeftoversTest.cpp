// What a successful backup run takes for the leftovers of its task's earlier runs: only
// names its own format gives for its own selection, from runs before it, that no copy
// records; never another task's files.

#include "engines/RunLeftovers.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::MakeTime;

class RunLeftoversTest : public ::testing::Test {
 protected:
  RunLeftoversTest() {
    m_task.TaskName = "Nightly";
    m_task.SourceServer.Host = "db1";
    m_task.BackupSettings.BackupFolder = m_dir.file("b/");
    m_task.BackupSettings.FileType = 1;
    m_task.BackupSettings.FileNameFormat = "%TASKNAME%_%DATABASE%_%TABLE%_%DATE%_%TIME%";
    ::mkdir(m_dir.file("b").c_str(), 0700);
  }

  std::string Make(const std::string& name) {
    const std::string path = m_dir.file("b/" + name);
    EXPECT_TRUE(test::WriteWholeFile(path, "-- dump"));
    return path;
  }

  std::vector<std::string> Found(std::vector<std::string> current = {}) {
    RunLeftoverSearch search;
    search.Task = &m_task;
    search.Databases = {{1, "shop", {{1, 1, "shop", "orders"}, {1, 1, "shop", "items"}}}};
    search.RunStart = MakeTime(2024, 3, 3, 10, 0, 0);
    search.CurrentFiles = std::move(current);
    std::vector<std::string> found = FindRunLeftovers(search);
    std::sort(found.begin(), found.end());
    return found;
  }

  test::TempDir m_dir;
  CTaskItem m_task;
};

TEST_F(RunLeftoversTest, TakesUnrecordedAndIncompleteFilesOfEarlierRunsOnly) {
  const std::string interrupted = Make("Nightly_shop_orders_2024-03-01_10-00-00.sql");
  const std::string numbered = Make("Nightly_shop_orders_2024-03-01_10-00-00_2.sql");
  const std::string incomplete = Make("Nightly_shop_items_2024-03-01_10-00-00.sql.incomplete");
  const std::string recorded = Make("Nightly_shop_orders_2024-03-02_10-00-00.sql");
  m_task.BackupHistory.push_back({{2024, 3, 2, 10, 0, 0}, 2, 1, 0, "", {recorded}});
  const std::string current = Make("Nightly_shop_orders_2024-03-03_10-00-00.sql");
  Make("Nightly 2_shop_orders_2024-03-01_10-00-00.sql");           // another task
  Make("Nightly_other_t_2024-03-01_10-00-00.sql");                 // not in the selection
  Make("Nightly_shop_orders_2024-03-04_10-00-00.sql.incomplete");  // not before this run
  Make("Nightly_shop_orders_2024-03-01_10-00-00.php");             // not this task's file type
  Make("notes.txt");
  EXPECT_EQ(Found({current}), (std::vector<std::string>{incomplete, interrupted, numbered}));
}

// A manifest is never a leftover of its own: it goes with the leftover it describes, after it.
TEST_F(RunLeftoversTest, NeverTakesAManifestOfItsOwn) {
  const std::string leftover = Make("Nightly_shop_orders_2024-03-01_10-00-00.sql");
  const std::string manifest = Make("Nightly_shop_orders_2024-03-01_10-00-00.sql.manifest.json");
  Make("Nightly_shop_items_2024-03-01_10-00-00.sql.incomplete.manifest.json");
  EXPECT_EQ(Found(), (std::vector<std::string>{leftover, manifest}));
}

TEST_F(RunLeftoversTest, WithoutTheTaskNameInTheFormatOnlyIncompleteFilesAreTaken) {
  // Another task backing up the same host to the same folder makes the same names.
  m_task.BackupSettings.FileNameFormat = "%HOST%_%DATABASE%_%DATE%_%TIME%";
  m_task.BackupSettings.FileGrouping = 2;
  Make("db1_shop_2024-03-01_10-00-00.sql");
  const std::string incomplete = Make("db1_shop_2024-03-01_10-00-00.sql.incomplete");
  EXPECT_EQ(Found(), std::vector<std::string>{incomplete});
}

TEST_F(RunLeftoversTest, ARunsDateTimeFolderDatesTheFilesInIt) {
  m_task.BackupSettings.FileNameFormat = "%TASKNAME%_%DATABASE%";
  m_task.BackupSettings.CreateDateTimeSubfolder = 1;
  ::mkdir(m_dir.file("b/2024-03-01_10-00-00").c_str(), 0700);
  ::mkdir(m_dir.file("b/2024-03-05_10-00-00").c_str(), 0700);
  const std::string earlier = Make("2024-03-01_10-00-00/Nightly_shop.sql");
  Make("2024-03-05_10-00-00/Nightly_shop.sql");  // after this run
  Make("Nightly_shop.sql");                      // no date to tell its run by
  EXPECT_EQ(Found(), std::vector<std::string>{earlier});

  m_task.BackupSettings.FileMode = 1;  // same-file mode replaces its one file
  EXPECT_TRUE(Found().empty());
}

// A run that wrote its manifest but could not record its copy: the manifest goes with the
// files it describes; a recorded copy's manifest, or its temporary name, is never a leftover.
TEST_F(RunLeftoversTest, AnUnrecordedRunsManifestGoesWithItsFilesOnly) {
  const std::string unrecorded = Make("Nightly_shop_orders_2024-03-01_10-00-00.sql");
  const std::string itsManifest = Make("Nightly_shop_orders_2024-03-01_10-00-00.sql.manifest.json");
  Make("Nightly_shop_items_2024-03-01_10-00-00.sql.manifest.json.tmp.Ab12Cd");
  const std::string recorded = Make("Nightly_shop_orders_2024-03-02_10-00-00.sql");
  Make("Nightly_shop_orders_2024-03-02_10-00-00.sql.manifest.json");
  m_task.BackupHistory.push_back({{2024, 3, 2, 10, 0, 0}, 2, 1, 0, "", {recorded}});
  EXPECT_EQ(Found(), (std::vector<std::string>{unrecorded, itsManifest}));

  m_task.BackupSettings.FileNameFormat = "%TASKNAME%_%DATABASE%";
  m_task.BackupSettings.CreateDateTimeSubfolder = 1;
  ::mkdir(m_dir.file("b/2024-03-01_09-00-00").c_str(), 0700);
  ::mkdir(m_dir.file("b/2024-03-02_09-00-00").c_str(), 0700);
  const std::string inFolder = Make("2024-03-01_09-00-00/Nightly_shop.sql");
  const std::string folderManifest = Make("2024-03-01_09-00-00.manifest.json");
  const std::string kept = Make("2024-03-02_09-00-00/Nightly_shop.sql");
  Make("2024-03-02_09-00-00.manifest.json");
  m_task.BackupHistory = {
      {{2024, 3, 2, 9, 0, 0}, 2, 1, 0, m_dir.file("b/2024-03-02_09-00-00"), {kept}}};
  EXPECT_EQ(Found(), (std::vector<std::string>{folderManifest, inFolder}));
}

}  // namespace
}  // namespace brevanto
