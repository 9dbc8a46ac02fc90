// brevanto-run with a task of every copy, export, script and restore kind, through the
// real runner and task file; and a stop mid-copy answered by exactly one "User canceled!".

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tasks/TaskFile.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(part); pos != std::string::npos;
       pos = text.find(part, pos + 1)) {
    ++count;
  }
  return count;
}

class RunEveryKindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BrevantoRunPath())) GTEST_SKIP() << "brevanto-run is not built";
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    ASSERT_TRUE(test::EnsureSourceDatabases());
  }

  CTaskItem Task(const std::string& name, TaskType type) const {
    CTaskItem task;
    task.TaskName = name;
    task.TaskType = static_cast<std::uint8_t>(type);
    task.LogFileName = name + ".log";
    task.SourceServer = test::AsServerInfo(test::ServerA());
    task.DestinationServer = test::AsServerInfo(test::ServerB());
    return task;
  }

  // Runs one task; its exit status and everything it printed.
  test::RunResult Run(const std::string& name) const {
    return test::RunBrevanto("--folder " + m_dir.path() + " --task '" + name + "'");
  }

  test::TempDir m_dir;
};

TEST_F(RunEveryKindTest, RunsEachKindToFinished) {
  std::vector<CTaskItem> tasks;
  const std::vector<DatabaseItem> selection = {{1, test::kSourceDatabase, test::SourceTables()}};
  for (TaskType type : {TaskType::BackupToServer, TaskType::RestoreFromServer,
                        TaskType::BackupToDatabase, TaskType::RestoreFromDatabase}) {
    CTaskItem task = Task("Copy " + std::to_string(static_cast<int>(type)), type);
    task.BackupDatabases = selection;
    task.BackupSettings.DestinationDatabase = "e2_run_" + std::to_string(static_cast<int>(type));
    tasks.push_back(task);
  }
  CTaskItem exportTask = Task("Export", TaskType::ExportToFiles);
  exportTask.ExportTables = test::SourceTables();
  exportTask.ExportSettings.Format = 2;
  exportTask.ExportSettings.Folder = m_dir.file("export/");
  tasks.push_back(exportTask);
  CTaskItem script = Task("Script", TaskType::ExecuteScript);
  script.SourceServer = test::AsServerInfo(test::ServerB());
  script.ScriptStatements = {"DROP DATABASE IF EXISTS e2_run_script;",
                             "CREATE DATABASE e2_run_script;", "SELECT 1;",
                             "CREATE TABLE e2_run_script.t (a INT);"};
  tasks.push_back(script);
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("restore.sql"),
                                   "CREATE TABLE IF NOT EXISTS e2_run_script.r (a INT);\r\n"
                                   "SHOW TABLES FROM e2_run_script;\r\n"
                                   "INSERT INTO e2_run_script.r VALUES (7);\r\n"));
  CTaskItem restore = Task("Restore", TaskType::RestoreFromFiles);
  restore.RestoreFiles = {{0, "restore.sql", m_dir.file("restore.sql"), 0, {}}};
  tasks.push_back(restore);
  ASSERT_TRUE(WriteTaskFile(m_dir.file("tasks_se.tsk"), tasks));

  for (const CTaskItem& task : tasks) {
    SCOPED_TRACE(task.TaskName);
    const test::RunResult run = Run(task.TaskName);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("General  Finished\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Error"), std::string::npos) << run.output;
  }
  test::ExpectSameSourceTables(test::kSourceDatabase);
  test::ExpectSameSourceTables("e2_run_3");
  test::ExpectSameSourceTables("e2_run_8");
  EXPECT_TRUE(std::filesystem::exists(m_dir.file("export/e2_src_v_items.xml")));
  EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT a FROM e2_run_script.r;"), "7\n");
}

TEST_F(RunEveryKindTest, AnInterruptMidCopyIsAnsweredOnce) {
  test::RunClient(
      test::ServerA(),
      "CREATE DATABASE IF NOT EXISTS e2_run_big; USE e2_run_big;"
      "CREATE TABLE IF NOT EXISTS big (id INT PRIMARY KEY, t VARCHAR(40)) ENGINE=InnoDB;"
      "INSERT IGNORE INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_300000;");
  CTaskItem task = Task("Big copy", TaskType::BackupToServer);
  task.BackupDatabases = {{1, "e2_run_big", {{1, 1, "e2_run_big", "big"}}}};
  ASSERT_TRUE(WriteTaskFile(m_dir.file("tasks_se.tsk"), {task}));

  const test::RunResult run =
      test::RunBrevantoInterrupted(m_dir.path(), "Big copy", "Backing up the table e2_run_big.big...",
                                   [] { usleep(300000); });  // some rows on their way
  const std::string& output = run.output;
  ASSERT_TRUE(run.interrupted) << output;
  EXPECT_EQ(1, run.status) << output;
  EXPECT_EQ(Occurrences(output, "User canceled!"), 1u) << output;
  EXPECT_EQ(output.find("Finished"), std::string::npos) << output;
  EXPECT_EQ(output.find("OK - "), std::string::npos) << output;
}

}  // namespace
}  // namespace brevanto
