// What decides brevanto-run's exit status: the run's own entries. A notification that
// fails afterwards is a Warning that changes nothing; a selection that holds no table is
// an Error, not a "Finished" run that did nothing.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "appcore/ApplicationCore.h"
#include "core/Clock.h"
#include "engines/MySqlConnection.h"
#include "logs/TaskLog.h"
#include "notify/TaskNotificationsSection.h"
#include "tests/engines/BrevantoRunProgram.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

class BrevantoRunOutcomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(test::BrevantoRunPath())) {
      GTEST_SKIP() << "brevanto-run is not built";
    }
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    m_db = "outcome_" + std::to_string(::getpid());
    test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS `" + m_db + "`; CREATE DATABASE `" +
                                         m_db + "`;");
  }
  void TearDown() override {
    if (m_db.empty()) return;
    test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
  }

  // Adds `task` to the folder's list with a log of its own.
  void Add(CTaskItem task, const CNotificationSettings* settings = nullptr) {
    CApplicationCore core(m_dir.path(), SystemClock());
    core.Start();
    task.LogFileName = task.TaskName + ".log";
    core.Tasks().AddTask(task);
    ASSERT_TRUE(core.SaveTasks());
    if (settings != nullptr) {
      ASSERT_TRUE(core.ApplyNotificationSettings(*settings));
    }
  }
  test::RunResult Run(const std::string& name) {
    return test::RunBrevanto("--folder " + m_dir.path() + " --run '" + name + "'");
  }
  std::vector<std::string> Entries(const std::string& name, std::uint8_t level) {
    CTaskLog log(m_dir.path() + "Logs/", SystemClock());
    std::vector<CTaskLogEntry> entries;
    log.ReadAll(name + ".log", entries);
    std::vector<std::string> texts;
    for (const CTaskLogEntry& entry : entries) {
      if (entry.level == level) texts.push_back(entry.text);
    }
    return texts;
  }

  test::TempDir m_dir;
  std::string m_db;
};

TEST_F(BrevantoRunOutcomeTest, NotificationsFailingRightAwayLeaveASuccessfulRunSuccessful) {
  CTaskItem task;
  task.TaskName = "Probe";
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
  task.SourceServer = test::AsServerInfo(test::ServerA());
  task.ScriptStatements = {"SELECT 1"};
  TaskNotifications own;
  own.EmailOnSuccess = true;
  own.WebhookOnSuccess = true;
  own.Desktop = false;
  SetTaskNotifications(task, own);
  CNotificationSettings settings;
  settings.SmtpServer = "127.0.0.1";
  settings.SmtpPort = test::ClosedPort();
  settings.Security = SmtpSecurity::None;
  settings.Defaults.EmailTo = "dba@example.org";
  settings.Defaults.WebhookUrl = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/hook";
  Add(task, &settings);

  // Refused connections fail within milliseconds: their Warnings land right after
  // "Finished", every time.
  for (int run = 1; run <= 3; ++run) {
    const test::RunResult result = Run("Probe");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Warning  Failed to call the webhook"), std::string::npos)
        << result.output;
    EXPECT_EQ(Entries("Probe", 1).size(), 2u * run);
  }
}

TEST_F(BrevantoRunOutcomeTest, ASelectionOfNoTableIsAnError) {
  CTaskItem backup;
  backup.TaskName = "Backup of nothing";
  backup.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
  backup.SourceServer = test::AsServerInfo(test::ServerA());
  backup.BackupSettings.BackupFolder = m_dir.path() + "out/";
  backup.BackupSettings.IncludeNewTables = 1;  // and there are none
  backup.BackupDatabases = {DatabaseItem{1, m_db, {}}};
  Add(backup);
  CTaskItem copy = backup;
  copy.TaskName = "Copy of nothing";
  copy.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
  copy.DestinationServer = test::AsServerInfo(test::ServerB());
  copy.BackupSettings.IncludeNewTables = 0;
  Add(copy);

  for (const char* name : {"Backup of nothing", "Copy of nothing"}) {
    const test::RunResult result = Run(name);
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_EQ(Entries(name, 2), std::vector<std::string>{kNoTableSelected}) << result.output;
  }
  // Nothing was written, nothing created at the destination.
  EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "out/") &&
               !std::filesystem::is_empty(m_dir.path() + "out/"));
  EXPECT_EQ(test::RunClient(test::ServerB(), "SHOW DATABASES LIKE '" + m_db + "'"), "");
}

}  // namespace
}  // namespace brevanto
