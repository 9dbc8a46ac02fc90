// Every task type reports its progress: planned once, never going back, and the planned
// items add up to exactly 100 % when the run has done them all.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/Routines.h"
#include "schedule/ProgressTracker.h"
#include "tasks/TaskKinds.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

// Feeds the routine's progress calls to a tracker and keeps every percentage it showed.
class ProgressRecordingContext : public test::FakeRunContext {
 public:
  using FakeRunContext::FakeRunContext;

  void ProgressPlan(std::int64_t totalUnits) override {
    ++plans;
    tracker.Plan(totalUnits);
    Note();
  }
  void ProgressItem(const std::string& name, std::int64_t estimatedUnits) override {
    items.push_back(name);
    tracker.StartItem(name, estimatedUnits);
    Note();
  }
  void ProgressAdvance(std::int64_t units, std::int64_t bytesWritten) override {
    tracker.Advance(units, bytesWritten);
    Note();
  }

  void Note() { shown.push_back(tracker.Snapshot().Permille); }

  CProgressTracker tracker;
  int plans = 0;
  std::vector<std::string> items;
  std::vector<int> shown;
};

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    ASSERT_TRUE(test::EnsureSourceDatabases());
  }

  CTaskItem Task(TaskType type) const {
    CTaskItem task;
    task.TaskName = "progress";
    task.TaskType = static_cast<std::uint8_t>(type);
    task.SourceServer = test::AsServerInfo(test::ServerA());
    task.DestinationServer = test::AsServerInfo(test::ServerB());
    task.BackupDatabases = {{1, test::kSourceDatabase, test::SourceTables()}};
    task.BackupSettings.BackupFolder = m_dir.file("backup/");
    task.BackupSettings.DestinationDatabase = "e2_progress_" + std::to_string(task.TaskType);
    task.ExportTables = test::SourceTables();
    task.ExportSettings.Folder = m_dir.file("export/");
    task.ScriptStatements = {"CREATE DATABASE IF NOT EXISTS e2_progress_script;", "SELECT 1;",
                             "DROP DATABASE e2_progress_script;"};
    return task;
  }

  test::TempDir m_dir;
};

TEST_F(ProgressTest, EveryTaskTypeGoesForwardToTheEnd) {
  // A restore file with a few statements, for the restore-by-files type.
  std::string sql = "CREATE DATABASE IF NOT EXISTS e2_progress_files;\n"
                    "CREATE TABLE IF NOT EXISTS e2_progress_files.t (a INT);\n";
  for (int i = 0; i < 50; ++i) sql += "INSERT INTO e2_progress_files.t VALUES (" + std::to_string(i) + ");\n";
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("restore.sql"), sql));

  for (const TaskKind& kind : TaskKinds()) {
    const int type = static_cast<int>(kind.Type);
    SCOPED_TRACE("task type " + std::to_string(type));
    CTaskItem task = Task(static_cast<TaskType>(type));
    if (type == static_cast<int>(TaskType::RestoreFromFiles)) {
      task.RestoreFiles = {{0, "restore.sql", m_dir.file("restore.sql"), 0, {}}};
    }
    ProgressRecordingContext context(task);
    const TaskRoutine routine = RoutineFor(static_cast<TaskType>(type), m_dir.path());
    ASSERT_TRUE(routine);
    ASSERT_EQ(routine(context), RunOutcome::Finished) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();

    EXPECT_EQ(context.plans, 1);
    ASSERT_FALSE(context.items.empty());
    for (std::size_t i = 1; i < context.shown.size(); ++i) {
      ASSERT_GE(context.shown[i], context.shown[i - 1]) << "call " << i;
    }
    EXPECT_LT(context.shown.back(), 1000) << "100 % before the last item was done";
    context.tracker.FinishItem();
    EXPECT_EQ(context.tracker.Snapshot().Permille, 1000);
    EXPECT_GT(context.tracker.Snapshot().RowsDone, 0);
  }
}

}  // namespace
}  // namespace brevanto
