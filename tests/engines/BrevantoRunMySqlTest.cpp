// brevanto-run end to end: list, run a backup task twice with retention, refuse a folder
// the windowed program holds, and report failures in the exit status.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/InstanceLock.h"
#include "tasks/TaskFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

struct Result {
  int status = -1;
  std::string output;
};

Result RunProgram(const std::string& arguments) {
  const std::string program = std::string(BREVANTO_BINARY_DIR) + "/app/brevanto-run";
  Result result;
  FILE* pipe = ::popen((program + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.output.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class BrevantoRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::string(BREVANTO_BINARY_DIR) + "/app/brevanto-run")) {
      GTEST_SKIP() << "brevanto-run is not built";
    }
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    m_db = "e1_run_" + std::to_string(getpid());
    test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS `" + m_db + "`; CREATE DATABASE `" +
                                         m_db + "`; CREATE TABLE `" + m_db +
                                         "`.t (a INT); INSERT INTO `" + m_db + "`.t VALUES (1);");
  }
  void TearDown() override {
    if (!m_db.empty()) test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
  }

  CTaskItem BackupTask(const std::string& name) {
    CTaskItem task;
    task.TaskName = name;
    task.TaskType = 1;
    task.LogFileName = name + ".log";
    task.SourceServer = test::AsServerInfo(test::ServerA());
    task.BackupSettings.BackupFolder = m_dir.path() + "out/";
    task.BackupSettings.CreateDateTimeSubfolder = 1;
    task.BackupSettings.AutoDeleteMode = 2;  // keep one copy
    task.BackupSettings.AutoDeleteValue = 1;
    DatabaseItem db{1, m_db, {{1, 1, m_db, "t"}}};
    task.BackupDatabases = {db};
    return task;
  }

  std::string Folder() const { return "--folder " + m_dir.path(); }
  std::vector<CTaskItem> ReadTasks() const {
    std::vector<CTaskItem> tasks;
    ReadTaskFile(m_dir.path() + "tasks_se.tsk", tasks);
    return tasks;
  }

  test::TempDir m_dir;
  std::string m_db;
};

TEST_F(BrevantoRunTest, RunsATaskAndKeepsItsHistoryBetweenRuns) {
  CTaskItem broken = BackupTask("Broken");
  broken.SourceServer.Password = "wrong";
  CTaskItem scheduled = BackupTask("Other");
  scheduled.Schedule.Kind = 5;  // every 30 minutes: must not run along
  ASSERT_TRUE(
      WriteTaskFile(m_dir.path() + "tasks_se.tsk", {BackupTask("Nightly"), broken, scheduled}));

  const Result list = RunProgram(Folder() + " --list");
  EXPECT_EQ(0, list.status);
  EXPECT_EQ(
      "Nightly\tBackup to files\tManual\tlast run: never\n"
      "Broken\tBackup to files\tManual\tlast run: never\n"
      "Other\tBackup to files\tTime interval\tlast run: never\n",
      list.output);

  const Result first = RunProgram(Folder() + " --task Nightly");
  EXPECT_EQ(0, first.status) << first.output;
  EXPECT_NE(std::string::npos, first.output.find("General  Running...\n")) << first.output;
  EXPECT_NE(std::string::npos, first.output.find("General  Finished\n")) << first.output;
  std::vector<CTaskItem> tasks = ReadTasks();
  ASSERT_EQ(3u, tasks.size());
  ASSERT_EQ(1u, tasks[0].BackupHistory.size()) << first.output;
  EXPECT_FALSE(tasks[0].LastRunTime.IsNever());
  EXPECT_TRUE(tasks[2].LastRunTime.IsNever());
  EXPECT_TRUE(tasks[2].BackupHistory.empty());
  const std::string firstFile = tasks[0].BackupHistory[0].CopyFiles.at(0);
  EXPECT_TRUE(std::filesystem::exists(firstFile));

  sleep(1);  // a new DATE_TIME folder for the second copy
  const Result second = RunProgram(Folder() + " --task Nightly");
  EXPECT_EQ(0, second.status) << second.output;
  EXPECT_NE(std::string::npos, second.output.find("Delete the expiration backup copies"));
  tasks = ReadTasks();
  ASSERT_EQ(1u, tasks[0].BackupHistory.size());
  EXPECT_FALSE(std::filesystem::exists(firstFile));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(firstFile).parent_path()));

  const Result failed = RunProgram(Folder() + " --task Broken");
  EXPECT_EQ(1, failed.status);
  EXPECT_NE(std::string::npos,
            failed.output.find("Error    Failed to connect to the MySQL server!  Error NO. 1045"))
      << failed.output;
}

TEST_F(BrevantoRunTest, RefusesBadArgumentsUnknownTasksAndAFolderInUse) {
  ASSERT_TRUE(WriteTaskFile(m_dir.path() + "tasks_se.tsk", {BackupTask("Nightly")}));
  EXPECT_EQ(2, RunProgram(Folder()).status);
  EXPECT_EQ(2, RunProgram(Folder() + " --list --task Nightly").status);
  EXPECT_EQ(2, RunProgram(Folder() + " --bogus").status);
  EXPECT_EQ(2, RunProgram(Folder() + " --task Nobody").status);
  {
    const auto held = InstanceLock::TryAcquire(m_dir.path());
    ASSERT_TRUE(held);
    EXPECT_FALSE(InstanceLock::TryAcquire(m_dir.path()));
    const Result refused = RunProgram(Folder() + " --task Nightly");
    EXPECT_EQ(2, refused.status);
    EXPECT_NE(std::string::npos, refused.output.find("in use by a running Brevanto"));
    // Listing only reads, so it works beside the windowed program.
    EXPECT_EQ(0, RunProgram(Folder() + " --list").status);
  }
  EXPECT_TRUE(InstanceLock::TryAcquire(m_dir.path()));
  EXPECT_TRUE(ReadTasks().at(0).BackupHistory.empty());
}

}  // namespace
}  // namespace brevanto
