#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ScriptWorker.h"
#include "engines/StatementSplitter.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/engines/KillingRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::RecordingRunContext;

class ScriptRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override { BREVANTO_REQUIRE_SERVER(test::ServerB()); }

  static CTaskItem ScriptTask(const std::string& script) {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
    task.SourceServer = test::AsServerInfo(test::ServerB());
    task.ScriptStatements = SplitSqlStatements(script);
    return task;
  }

  CTaskItem RestoreTask(const std::vector<std::string>& files) {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
    task.DestinationServer = test::AsServerInfo(test::ServerB());
    for (const std::string& name : files) {
      task.RestoreFiles.push_back({0, name, m_dir.file(name), 0, {}});
    }
    return task;
  }

  void WriteFile(const std::string& name, const std::string& text) {
    ASSERT_TRUE(test::WriteWholeFile(m_dir.file(name), text));
  }

  static std::string OnB(const std::string& sql) { return test::RunClient(test::ServerB(), sql); }

  test::TempDir m_dir;
};

const char* const kScript =
    "-- set-up\n"
    "DROP DATABASE IF EXISTS e2_script;\n"
    "CREATE DATABASE e2_script;\n"
    "CREATE TABLE e2_script.t (\n"
    "  id INT,\n"
    "  v VARCHAR(10)\n"
    ");\n"
    "SELECT 1;\n"
    "SHOW DATABASES;\n"
    "/*!40101 SET NAMES utf8 */;\n"
    "INSERT INTO e2_script.t VALUES (1, 'a'), \r\n"
    "(2, 'b');\r\n"
    "INSERT INTO e2_script.nowhere VALUES (1);\n"
    "select count(*) from e2_script.t;\n"
    "INSERT INTO e2_script.t VALUES (3, 'c')";

TEST_F(ScriptRestoreTest, ScriptRunsEveryStatementAndReadsResultsAway) {
  RecordingRunContext context(ScriptTask(kScript));
  ASSERT_EQ(context.Task().ScriptStatements.size(), 9u);
  ASSERT_EQ(ScriptWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_EQ(context.Errors(),
            std::vector<std::string>{"Failed to execute the SQL statement! NO. 7 : "
                                     "INSERT INTO e2_script.nowhere VALUES (1)"});
  const std::vector<std::string> general = context.Texts(LogLevel::General);
  EXPECT_EQ(general[2], "Executing MySQL script: 9 statements");
  EXPECT_EQ(general.back(), "Executed: 8 statements");
  EXPECT_EQ(OnB("SELECT id, v FROM e2_script.t ORDER BY id;"), "1\ta\n2\tb\n3\tc\n");
}

TEST_F(ScriptRestoreTest, EmptyStoredStatementsAreSkippedButNumbered) {
  CTaskItem task = ScriptTask("");
  task.ScriptStatements = {"", ";", "SELECT nope FROM nowhere;"};
  RecordingRunContext context(task);
  ASSERT_EQ(ScriptWorker(context), RunOutcome::Finished);
  EXPECT_EQ(context.Errors(),
            std::vector<std::string>{"Failed to execute the SQL statement! NO. 3 : "
                                     "SELECT nope FROM nowhere"});
  EXPECT_EQ(context.Texts(LogLevel::General).back(), "Executed: 0 statements");

  task.ScriptStatements.clear();
  RecordingRunContext empty(task);
  EXPECT_EQ(ScriptWorker(empty), RunOutcome::Failed);
  EXPECT_EQ(empty.Errors(),
            std::vector<std::string>{"There are not any SQL statements to execute!"});
}

TEST_F(ScriptRestoreTest, RestoresOurOwnDumpWithEitherLineEnding) {
  BREVANTO_REQUIRE_SERVER(test::ServerA());
  ASSERT_TRUE(test::EnsureSourceDatabases());
  for (std::uint8_t unixLineEnds : {0, 1}) {
    SCOPED_TRACE(unixLineEnds ? "LF" : "CR LF");
    CTaskItem backup;
    backup.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    backup.SourceServer = test::AsServerInfo(test::ServerA());
    backup.BackupDatabases.push_back({1, test::kSourceDatabase, test::SourceTables()});
    backup.BackupSettings.FileMode = 1;
    backup.BackupSettings.SameFilePath = m_dir.file("dump.sql");
    backup.BackupSettings.UnixLineEnds = unixLineEnds;
    RecordingRunContext dump(backup);
    ASSERT_EQ(RunBackupToFiles(dump, m_dir.path()), RunOutcome::Finished) << dump.Dump();

    OnB("DROP DATABASE IF EXISTS e2_src;");
    RecordingRunContext context(RestoreTask({"dump.sql"}));
    ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
    test::ExpectSameSourceTables(test::kSourceDatabase);
  }
}

TEST_F(ScriptRestoreTest, ContinueOptionsDecideWhetherARestoreGoesOn) {
  WriteFile("bad.sql",
            "CREATE DATABASE IF NOT EXISTS e2_restore;\n"
            "DROP TABLE IF EXISTS e2_restore.t;\n"
            "CREATE TABLE e2_restore.t (id INT);\n"
            "SELECT * FROM e2_restore.t;\n"
            "INSERT INTO e2_restore.nowhere VALUES (1);\n"
            "INSERT INTO e2_restore.t VALUES (1);\n");
  WriteFile("good.sql", "INSERT INTO e2_restore.t VALUES (2);\n");
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::uint8_t continueOnSql, continueOnFile;
    RunOutcome outcome;
    std::vector<std::string> errors;
    const char* rows;
  };
  const std::string sqlError =
      "Failed to execute the SQL statement: INSERT INTO e2_restore.nowhere VALUES (1)";
  const std::string fileError = "Failed to get a SQL statement from the SQL file!";
  const Case cases[] = {
      {"stop at the SQL error", {"bad.sql", "good.sql"}, 0, 0, RunOutcome::Failed, {sqlError}, ""},
      {"go on after the SQL error",
       {"bad.sql", "good.sql"},
       1,
       0,
       RunOutcome::Finished,
       {sqlError},
       "1\n2\n"},
      {"stop at the missing file",
       {"bad.sql", "missing.sql", "good.sql"},
       1,
       0,
       RunOutcome::Failed,
       {sqlError, fileError},
       "1\n"},
      {"go on after the missing file",
       {"bad.sql", "missing.sql", "good.sql"},
       1,
       1,
       RunOutcome::Finished,
       {sqlError, fileError},
       "1\n2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = RestoreTask(c.files);
    task.RestoreOptions.ContinueOnSqlError = c.continueOnSql;
    task.RestoreOptions.ContinueOnFileError = c.continueOnFile;
    RecordingRunContext context(task);
    EXPECT_EQ(RestoreFilesWorker(context), c.outcome) << context.Dump();
    EXPECT_EQ(context.Errors(), c.errors);
    EXPECT_EQ(OnB("SELECT id FROM e2_restore.t ORDER BY id;"), c.rows);
  }
}

TEST_F(ScriptRestoreTest, RestoreLogsEachFileAndSkipsUnacceptedOnes) {
  WriteFile("one.sql", "SELECT 1;\n");
  CTaskItem task = RestoreTask({"one.sql", "one.sql"});
  task.RestoreFiles[1].IconIndex = 1;
  RecordingRunContext context(task);
  ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
  const std::vector<std::string> general = context.Texts(LogLevel::General);
  ASSERT_EQ(general.size(), 4u) << context.Dump();
  EXPECT_EQ(general[0], "Connecting to the destination MySQL server (127.0.0.1)... ");
  EXPECT_EQ(general[2], "Restoring MySQL databases by SQL files: 2 files");
  EXPECT_EQ(general[3], "Restoring...  " + m_dir.file("one.sql"));
}

TEST_F(ScriptRestoreTest, LostConnectionStopsTheRestoreAtTheFailedStatement) {
  WriteFile("kill.sql",
            "CREATE DATABASE IF NOT EXISTS e2_rkill;\nUSE e2_rkill;\n"
            "CREATE TABLE IF NOT EXISTS t (a INT);\nINSERT INTO t VALUES (1);\n");
  test::KillingRunContext context(RestoreTask({"kill.sql"}),
                                  "Restoring...  " + m_dir.file("kill.sql"), 2, test::ServerB(),
                                  "e2_rkill");
  EXPECT_EQ(RestoreFilesWorker(context), RunOutcome::Failed);
  EXPECT_EQ(context.Errors(), std::vector<std::string>{"Failed to execute the SQL statement: "
                                                       "CREATE TABLE IF NOT EXISTS t (a INT)"});
}

TEST_F(ScriptRestoreTest, StopAfterAnyStatementCancels) {
  WriteFile("three.sql", "SELECT 1;\nSELECT 2;\nSELECT 3;\n");
  for (int stopAt = 1; stopAt <= 4; ++stopAt) {
    SCOPED_TRACE(stopAt);
    RecordingRunContext restore(RestoreTask({"three.sql"}));
    restore.StopAtCheck(stopAt);
    EXPECT_EQ(RestoreFilesWorker(restore), RunOutcome::Canceled);
    EXPECT_EQ(restore.Checks(), stopAt);

    RecordingRunContext script(ScriptTask("SELECT 1;\nSELECT 2;\nSELECT 3;\nSELECT 4;\n"));
    script.StopAtCheck(stopAt);
    EXPECT_EQ(ScriptWorker(script), RunOutcome::Canceled);
    EXPECT_EQ(script.Checks(), stopAt);
  }
}

}  // namespace
}  // namespace brevanto
