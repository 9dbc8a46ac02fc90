// brevanto-run end to end: list, run a backup task twice with retention, refuse a folder
// the windowed program holds, and report failures in the exit status.

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "core/Options.h"
#include "logs/TaskLog.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/TaskFile.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

class BrevantoRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BrevantoRunPath())) {
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

  const test::RunResult list = test::RunBrevanto(Folder() + " --list");
  EXPECT_EQ(0, list.status);
  EXPECT_EQ(
      "Nightly\tBackup to files\tManual\tnext run: never\tlast run: never\n"
      "Broken\tBackup to files\tManual\tnext run: never\tlast run: never\n"
      "Other\tBackup to files\tTime interval\tnext run: never\tlast run: never\n",
      list.output);

  const test::RunResult first = test::RunBrevanto(Folder() + " --task Nightly");
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
  const test::RunResult second = test::RunBrevanto(Folder() + " --task Nightly");
  EXPECT_EQ(0, second.status) << second.output;
  EXPECT_NE(std::string::npos, second.output.find("Delete the expiration backup copies"));
  // Only this run's entries, each once, though the log holds the first run's too.
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(1u, count(second.output, "  Running...\n")) << second.output;
  EXPECT_EQ(1u, count(second.output, "  Finished\n")) << second.output;
  tasks = ReadTasks();
  ASSERT_EQ(1u, tasks[0].BackupHistory.size());
  EXPECT_FALSE(std::filesystem::exists(firstFile));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(firstFile).parent_path()));

  const test::RunResult failed = test::RunBrevanto(Folder() + " --task Broken");
  EXPECT_EQ(1, failed.status);
  EXPECT_NE(std::string::npos,
            failed.output.find("Error    Failed to connect to the MySQL server!  Error NO. 1045"))
      << failed.output;
}

TEST_F(BrevantoRunTest, AnOldTaskFileRunsAsBeforeWhateverItsOptionsFileHolds) {
  test::RunClient(test::ServerA(), "CREATE TRIGGER `" + m_db + "`.tr BEFORE INSERT ON `" + m_db +
                                       "`.t FOR EACH ROW SET NEW.a = NEW.a;");
  ASSERT_TRUE(WriteTaskFile(m_dir.path() + "tasks_se.tsk", {BackupTask("Old")}));
  for (const char* options : {"", "{ damaged", R"({"Format": 1, "Tasks": []})"}) {
    SCOPED_TRACE(options);
    std::filesystem::remove(m_dir.path() + "tasks_se.json.damaged");
    if (*options != '\0') {
      std::ofstream(m_dir.path() + "tasks_se.json", std::ios::binary | std::ios::trunc) << options;
    }
    const test::RunResult ran = test::RunBrevanto(Folder() + " --task Old");
    ASSERT_EQ(0, ran.status) << ran.output;
    // The task's old behaviour: a plain file with tables only.
    const std::vector<CTaskItem> tasks = ReadTasks();
    ASSERT_EQ(1u, tasks.size());
    const std::string dump = tasks[0].BackupHistory.back().CopyFiles.at(0);
    EXPECT_TRUE(dump.ends_with(".sql")) << dump;
    const std::string text = test::ReadWholeFile(dump);
    EXPECT_NE(std::string::npos, text.find("INSERT INTO")) << text;
    EXPECT_EQ(std::string::npos, text.find("TRIGGER")) << text;
    EXPECT_FALSE(FindAdvancedOptions(tasks[0]).has_value());
    // What the user had is set aside, never overwritten unseen.
    if (*options != '\0') {
      EXPECT_EQ(options, test::ReadWholeFile(m_dir.path() + "tasks_se.json.damaged"));
    }
    sleep(1);  // a new DATE_TIME folder for the next copy
  }
}

TEST_F(BrevantoRunTest, ALogCutByTheSizeLimitStillCountsTheRunsErrors) {
  CSystemOptions options;
  options.LimitLogSize = 1;
  options.MaxLogSizeKB = 2;
  ASSERT_TRUE(SaveOptions(m_dir.path(), options));
  {
    // Six old entries pass 2 KB, so the run starts a new log, and its first six entries
    // (the Error among them) are written before brevanto-run looks again.
    CTaskLog log(m_dir.path() + "Logs/", SystemClock());
    for (int i = 0; i < 6; ++i)
      ASSERT_TRUE(log.AppendEntry("Cut.log", 0, "old " + std::to_string(i)));
  }
  CTaskItem task = BackupTask("Cut");
  task.BackupSettings.AutoDeleteMode = 0;
  task.BackupDatabases.insert(task.BackupDatabases.begin(),
                              DatabaseItem{1, m_db + "_gone", {{1, 1, m_db + "_gone", "t"}}});
  ASSERT_TRUE(WriteTaskFile(m_dir.path() + "tasks_se.tsk", {task}));

  const test::RunResult run = test::RunBrevanto(Folder() + " --task Cut");
  EXPECT_EQ(1, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("General  Running...\n")) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("Error    Failed to use database " + m_db + "_gone"))
      << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("old ")) << run.output;
}

TEST_F(BrevantoRunTest, AnInterruptMidTableLeavesWholeStatementsAndSaysSo) {
  test::RunClient(test::ServerA(),
                  "CREATE TABLE big (id INT PRIMARY KEY, t VARCHAR(40)) ENGINE=InnoDB;"
                  "INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_2000000;",
                  m_db);
  CTaskItem task = BackupTask("Big");
  task.BackupSettings.CreateDateTimeSubfolder = 0;
  task.BackupSettings.FileMode = 1;
  task.BackupSettings.SameFilePath = m_dir.path() + "big.sql";
  task.BackupDatabases = {DatabaseItem{1, m_db, {{1, 1, m_db, "big"}}}};
  ASSERT_TRUE(WriteTaskFile(m_dir.path() + "tasks_se.tsk", {task}));

  const test::RunResult run = test::RunBrevantoInterrupted(
      m_dir.path(), "Big", "Backing up the table " + m_db + ".big...", [&] {
        // Let some rows reach the file (still under its temporary name) first.
        auto written = [&] {
          std::uintmax_t size = 0;
          for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
            if (entry.path().filename().string().rfind(".big.sql.", 0) == 0) {
              size = std::max(size, entry.file_size());
            }
          }
          return size;
        };
        while (written() < 1000000) usleep(10000);
      });
  const std::string& output = run.output;
  ASSERT_TRUE(run.interrupted) << output;
  EXPECT_EQ(1, run.status) << output;
  EXPECT_NE(std::string::npos, output.find("Warning  User canceled!\n")) << output;
  EXPECT_EQ(std::string::npos, output.find("Finished")) << output;
  // Kept, but never under the backup's own name.
  EXPECT_FALSE(std::filesystem::exists(task.BackupSettings.SameFilePath));
  const std::string dump = test::ReadWholeFile(task.BackupSettings.SameFilePath + ".incomplete");
  const std::size_t lastLine = dump.rfind("\r\n", dump.size() - 3);
  ASSERT_NE(std::string::npos, lastLine);
  EXPECT_EQ(0u, dump.compare(lastLine + 2, 26, "INSERT INTO `big` VALUES ("));
  EXPECT_EQ(");\r\n", dump.substr(dump.size() - 4));
  EXPECT_FALSE(ReadTasks().at(0).LastRunTime.IsNever());
  // The interrupted session is gone from the server at once: it holds no lock on the
  // table (a lingering one would keep this DROP waiting for a minute and fail it).
  test::RunClient(test::ServerA(), "SET SESSION lock_wait_timeout=20; DROP TABLE big;", m_db);
  EXPECT_EQ("", test::RunClient(test::ServerA(), "SHOW TABLES LIKE 'big';", m_db));
}

TEST_F(BrevantoRunTest, RefusesBadArgumentsUnknownTasksAndAFolderInUse) {
  ASSERT_TRUE(WriteTaskFile(m_dir.path() + "tasks_se.tsk", {BackupTask("Nightly")}));
  EXPECT_EQ(2, test::RunBrevanto(Folder()).status);
  EXPECT_EQ(2, test::RunBrevanto(Folder() + " --list --task Nightly").status);
  EXPECT_EQ(2, test::RunBrevanto(Folder() + " --bogus").status);
  EXPECT_EQ(2, test::RunBrevanto(Folder() + " --task Nobody").status);
  EXPECT_EQ(2, test::RunBrevanto(Folder() + " --export Nobody").status);
  EXPECT_EQ(2, test::RunBrevanto(Folder() + " --wait=soon --list").status);
  EXPECT_EQ(0, test::RunBrevanto("--help").status);
  EXPECT_EQ(0, test::RunBrevanto("--version").status);
  {
    const auto held = InstanceLock::TryAcquire(m_dir.path(), kHolderWindow);
    ASSERT_TRUE(held);
    EXPECT_FALSE(InstanceLock::TryAcquire(m_dir.path()));
    const test::RunResult refused = test::RunBrevanto(Folder() + " --task Nightly");
    EXPECT_EQ(3, refused.status);
    EXPECT_NE(std::string::npos, refused.output.find("in use by the Brevanto window (process " +
                                                     std::to_string(getpid()) + ")"))
        << refused.output;
    // Changing the list waits for the window too; reading does not.
    EXPECT_EQ(3, test::RunBrevanto(Folder() + " --delete Nightly").status);
    EXPECT_EQ(0, test::RunBrevanto(Folder() + " --export").status);
    // Listing only reads, so it works beside the windowed program.
    EXPECT_EQ(0, test::RunBrevanto(Folder() + " --list").status);
  }
  EXPECT_TRUE(InstanceLock::TryAcquire(m_dir.path()));
  EXPECT_TRUE(ReadTasks().at(0).BackupHistory.empty());

  // A damaged task list is moved aside as the windowed program does it, and said so.
  {
    std::ofstream damaged(m_dir.path() + "tasks_se.tsk", std::ios::binary | std::ios::trunc);
    damaged << "not a task list";
  }
  // Reading commands say so instead of showing an empty list.
  for (const char* command : {" --list", " --export"}) {
    const test::RunResult listed = test::RunBrevanto(Folder() + command);
    EXPECT_EQ(1, listed.status) << command;
    EXPECT_NE(std::string::npos, listed.output.find("cannot be read")) << listed.output;
  }
  const test::RunResult unreadable = test::RunBrevanto(Folder() + " --task Nightly");
  EXPECT_EQ(1, unreadable.status);
  EXPECT_NE(std::string::npos,
            unreadable.output.find("kept as " + m_dir.path() + "tasks_se.tsk.damaged\n"))
      << unreadable.output;
  EXPECT_TRUE(std::filesystem::exists(m_dir.path() + "tasks_se.tsk.damaged"));
}

}  // namespace
}  // namespace brevanto
