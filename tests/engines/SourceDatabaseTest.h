#pragma once
// A fixture for server-backed tests that need a database of their own: created on server
// A for each test (under a name with the process id), dropped on A and B around it, with
// a temporary folder for the files, dump tasks of its tables and restores of the files
// on B through the stock client or our own restore.

#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engines/RestoreFilesWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto::test {

class SourceDatabaseTest : public ::testing::Test {
 protected:
  // Requires both servers; creates the database `prefix` + pid on A and runs `sql` in it.
  void CreateSourceDatabase(const std::string& prefix, const std::string& sql) {
    BREVANTO_REQUIRE_SERVER(ServerA());
    BREVANTO_REQUIRE_SERVER(ServerB());
    m_db = prefix + std::to_string(getpid());
    DropDatabases();
    RunClient(ServerA(), "CREATE DATABASE `" + m_db + "`;");
    if (!sql.empty()) RunClient(ServerA(), sql, m_db);
  }

  void TearDown() override {
    if (!m_db.empty() && IsReachable(ServerA())) DropDatabases();
  }

  void DropDatabases() {
    for (const auto* server : {&ServerA(), &ServerB()}) {
      RunClient(*server, "DROP DATABASE IF EXISTS `" + m_db + "`;");
    }
  }

  // A BackupToFiles task of the database's `tables` (kind 1: table, 2: view) into the
  // temporary folder, one file (1), one per database (2) or per table (3); with the
  // advanced options when given.
  CTaskItem MakeDumpTask(const std::string& name, std::uint8_t grouping,
                         const std::vector<std::pair<std::string, std::uint8_t>>& tables,
                         const CAdvancedOptions* advanced) {
    CTaskItem task;
    task.TaskName = name;
    task.SourceServer = AsServerInfo(ServerA());
    task.BackupSettings.FileMode = 2;
    task.BackupSettings.FileGrouping = grouping;
    task.BackupSettings.BackupFolder = m_dir.path();
    task.BackupSettings.FileNameFormat = grouping == 3 ? "%DATABASE%_%TABLE%" : "%DATABASE%";
    DatabaseItem database;
    database.Selected = 1;
    database.DatabaseName = m_db;
    for (const auto& [table, kind] : tables) database.Tables.push_back({1, kind, m_db, table});
    task.BackupDatabases = {database};
    if (advanced != nullptr) SetAdvancedOptions(task, *advanced);
    return task;
  }

  // Drops the database on B and feeds the files to the stock client in order.
  void RestoreWithClient(const std::vector<std::string>& files) {
    RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    for (const std::string& file : files) ASSERT_EQ(0, RunClientFile(ServerB(), file)) << file;
  }

  // Drops the database on B and restores the files with a RestoreFromFiles run (with the
  // advanced options when given), which must end cleanly.
  void RestoreWithOurs(const std::vector<std::string>& files,
                       const CAdvancedOptions* advanced = nullptr) {
    RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    CTaskItem restore;
    restore.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
    restore.DestinationServer = AsServerInfo(ServerB());
    for (const std::string& file : files) restore.RestoreFiles.push_back({0, file, file, 0, {}});
    if (advanced != nullptr) SetAdvancedOptions(restore, *advanced);
    FakeRunContext restoring(restore);
    ASSERT_EQ(RunOutcome::Finished, RestoreFilesWorker(restoring)) << restoring.AllText();
    EXPECT_TRUE(restoring.Texts(LogLevel::Error).empty()) << restoring.AllText();
  }

  std::string m_db;
  TempDir m_dir;
};

}  // namespace brevanto::test
