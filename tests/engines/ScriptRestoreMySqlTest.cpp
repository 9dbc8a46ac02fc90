#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ScriptWorker.h"
#include "engines/StatementSplitter.h"
#include "tasks/AdvancedOptions.h"
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
    EXPECT_TRUE(SplitSqlStatements(script, task.ScriptStatements).ok());
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
  ASSERT_EQ(context.Task().ScriptStatements.size(), 10u);
  ASSERT_EQ(ScriptWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_EQ(context.Errors(),
            std::vector<std::string>{"Failed to execute the SQL statement! NO. 8 : "
                                     "INSERT INTO e2_script.nowhere VALUES (1) (error 1146: "
                                     "Table 'e2_script.nowhere' doesn't exist)"});
  const std::vector<std::string> general = context.Texts(LogLevel::General);
  EXPECT_EQ(general[2], "Executing MySQL script: 10 statements");
  EXPECT_EQ(general.back(), "Executed: 9 statements");
  EXPECT_EQ(OnB("SELECT id, v FROM e2_script.t ORDER BY id;"), "1\ta\n2\tb\n3\tc\n");
}

TEST_F(ScriptRestoreTest, EmptyStoredStatementsAreSkippedButNumbered) {
  CTaskItem task = ScriptTask("");
  task.ScriptStatements = {"", ";", "SELECT nope FROM nowhere;"};
  RecordingRunContext context(task);
  ASSERT_EQ(ScriptWorker(context), RunOutcome::Finished);
  EXPECT_EQ(context.Errors(),
            std::vector<std::string>{"Failed to execute the SQL statement! NO. 3 : "
                                     "SELECT nope FROM nowhere (error 1046: No database "
                                     "selected)"});
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

// A file written with CR LF line ends: the stock client reads it in lines and drops each
// CR, so a restore must keep none inside the bodies the server stores either.
TEST_F(ScriptRestoreTest, CrLfFilesRestoreBodiesAsTheStockClientDoes) {
  std::string script =
      "DROP DATABASE IF EXISTS e2_crlf;\nCREATE DATABASE e2_crlf;\nUSE e2_crlf;\n"
      "CREATE TABLE t (id INT, note VARCHAR(20));\n"
      "DELIMITER ;;\n"
      "CREATE TRIGGER t_bi BEFORE INSERT ON t FOR EACH ROW\nBEGIN\n"
      "  SET NEW.note = 'line\none';\nEND;;\n"
      "CREATE PROCEDURE p()\nBEGIN\n  SELECT 'two\nlines';\n  SELECT 2;\nEND;;\n"
      "CREATE FUNCTION f() RETURNS INT DETERMINISTIC\nBEGIN\n  RETURN 1;\nEND;;\n"
      "CREATE EVENT e ON SCHEDULE EVERY 1 DAY DISABLE DO\nBEGIN\n  DELETE FROM t;\nEND;;\n"
      "DELIMITER ;\n";
  std::string crlf;
  for (char c : script) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteFile("crlf.sql", crlf);
  const std::string bodies =
      "SELECT HEX(ROUTINE_DEFINITION) FROM information_schema.ROUTINES WHERE "
      "ROUTINE_SCHEMA='e2_crlf' ORDER BY ROUTINE_NAME;"
      "SELECT HEX(ACTION_STATEMENT) FROM information_schema.TRIGGERS WHERE "
      "TRIGGER_SCHEMA='e2_crlf';"
      "SELECT HEX(EVENT_DEFINITION) FROM information_schema.EVENTS WHERE EVENT_SCHEMA='e2_crlf';";
  ASSERT_EQ(0, test::RunClientFile(test::ServerB(), m_dir.file("crlf.sql")));
  const std::string stock = OnB(bodies);
  ASSERT_EQ(4, std::count(stock.begin(), stock.end(), '\n')) << stock;
  EXPECT_EQ(std::string::npos, stock.find("0D0A")) << stock;

  OnB("DROP DATABASE e2_crlf;");
  RecordingRunContext context(RestoreTask({"crlf.sql"}));
  ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  EXPECT_EQ(stock, OnB(bodies));
  OnB("DROP DATABASE e2_crlf;");
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
      "Failed to execute the SQL statement: INSERT INTO e2_restore.nowhere VALUES (1) "
      "(error 1146: Table 'e2_restore.nowhere' doesn't exist)";
  const std::string fileError = "Failed to get a SQL statement from the SQL file! " +
                                m_dir.file("missing.sql") + ": No such file or directory";
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

TEST_F(ScriptRestoreTest, LostSessionEndsTheRunWithOneError) {
  // Even with "continue" on, the statements left cannot run on a lost session.
  WriteFile("kill.sql",
            "CREATE DATABASE IF NOT EXISTS e2_rkill;\nUSE e2_rkill;\n"
            "CREATE TABLE IF NOT EXISTS t (a INT);\nINSERT INTO t VALUES (1);\n"
            "INSERT INTO t VALUES (2);\nINSERT INTO t VALUES (3);\n");
  CTaskItem restore = RestoreTask({"kill.sql"});
  restore.RestoreOptions.ContinueOnSqlError = 1;
  test::KillingRunContext context(restore, "Restoring...  " + m_dir.file("kill.sql"), 2,
                                  test::ServerB(), "e2_rkill");
  EXPECT_EQ(RestoreFilesWorker(context), RunOutcome::Failed);
  ASSERT_EQ(context.Errors().size(), 1u) << context.Dump();
  EXPECT_EQ(context.Errors()[0].rfind("Failed to execute the SQL statement: "
                                      "CREATE TABLE IF NOT EXISTS t (a INT) (error 2",
                                      0),
            0u)
      << context.Errors()[0];

  CTaskItem script = ScriptTask(
      "CREATE DATABASE IF NOT EXISTS e2_skill;\nUSE e2_skill;\nSELECT 1;\nSELECT 2;\nSELECT 3;\n");
  test::KillingRunContext killed(script, "Executing MySQL script: 5 statements", 2, test::ServerB(),
                                 "e2_skill");
  EXPECT_EQ(ScriptWorker(killed), RunOutcome::Failed);
  ASSERT_EQ(killed.Errors().size(), 1u) << killed.Dump();
  EXPECT_EQ(
      killed.Errors()[0].rfind("Failed to execute the SQL statement! NO. 3 : SELECT 1 (error 2", 0),
      0u)
      << killed.Errors()[0];
}

TEST_F(ScriptRestoreTest, RestoresWhatTheLineRuleLost) {
  // Each part once lost rows or statements without an error entry.
  WriteFile(
      "seven.sql",
      "DROP DATABASE IF EXISTS e2_seven;\nCREATE DATABASE e2_seven CHARACTER SET utf8mb4;\n"
      "USE e2_seven;\n"
      "/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n"
      "/*!40014 SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, FOREIGN_KEY_CHECKS=0 */;\n"
      "CREATE TABLE child (id INT PRIMARY KEY, parent_id INT,\n"
      "  FOREIGN KEY (parent_id) REFERENCES parent (id)) ENGINE=InnoDB;\n"
      "CREATE TABLE parent (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;\n"
      "INSERT INTO parent VALUES (0,'zero'); -- the id-0 row\n"
      "INSERT INTO parent VALUES (1,'one;\nline two'),(2,'it''s \xC3\xA4\xF0\x9F\x98\x80'),"
      " (3, 'back\\'slash');   \n"
      "INSERT INTO parent VALUES (4,'four');\n"
      "INSERT INTO child VALUES (1, 0);\n"
      "CREATE VIEW v AS SELECT v\nFROM parent;\n"
      "DELIMITER ;;\n"
      "/*!50003 CREATE*/ /*!50003 TRIGGER bi BEFORE INSERT ON parent FOR EACH ROW BEGIN\n"
      "  SET NEW.v = UPPER(NEW.v); SET NEW.v = CONCAT(NEW.v, ';');\nEND */;;\n"
      "CREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SELECT 2;\nEND ;;\n"
      "DELIMITER ;\n"
      "/*!40014 SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS */;\n"
      "/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;\n");
  RecordingRunContext context(RestoreTask({"seven.sql"}));
  ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  EXPECT_EQ(
      OnB("SELECT id, v FROM e2_seven.parent ORDER BY id;"),
      "0\tzero\n1\tone;\\nline two\n2\tit's \xC3\xA4\xF0\x9F\x98\x80\n3\tback'slash\n4\tfour\n");
  EXPECT_EQ(OnB("SELECT id, parent_id FROM e2_seven.child;"), "1\t0\n");
  EXPECT_EQ(OnB("SELECT COUNT(*) FROM e2_seven.v;"), "5\n");
  OnB("INSERT INTO e2_seven.parent (v) VALUES ('x'); CALL e2_seven.p();");
  EXPECT_EQ(OnB("SELECT v FROM e2_seven.parent WHERE id = 5;"), "X;\n");
}

TEST_F(ScriptRestoreTest, BackslashIsPlainOnceTheFileSetsNoBackslashEscapes) {
  WriteFile("nbe.sql",
            "CREATE DATABASE IF NOT EXISTS e2_nbe;\nCREATE OR REPLACE TABLE e2_nbe.t (v TEXT);\n"
            "INSERT INTO e2_nbe.t VALUES ('a\\\\');\n"
            "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES';\n"
            "INSERT INTO e2_nbe.t VALUES ('b\\');\nINSERT INTO e2_nbe.t VALUES ('c;');\n");
  // The advanced options read statements ahead: the split after the SET must still wait
  // for it.
  for (const bool advanced : {false, true}) {
    SCOPED_TRACE(advanced);
    CTaskItem task = RestoreTask({"nbe.sql"});
    if (advanced) SetAdvancedOptions(task, CAdvancedOptions{});
    RecordingRunContext context(task);
    ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
    // The client's batch output doubles a backslash.
    EXPECT_EQ(OnB("SELECT v FROM e2_nbe.t;"), "a\\\\\nb\\\\\nc;\n");
  }
}

TEST_F(ScriptRestoreTest, BadFileNamesTheFileAndPlace) {
  WriteFile("open.sql", "CREATE DATABASE IF NOT EXISTS e2_bad;\nSELECT 'never closed;\n");
  WriteFile("after.sql", "SELECT 1;\n");
  CTaskItem task = RestoreTask({"open.sql", "after.sql"});
  task.RestoreOptions.ContinueOnFileError = 1;
  RecordingRunContext context(task);
  ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_EQ(context.Errors(),
            std::vector<std::string>{"Failed to get a SQL statement from the SQL file! " +
                                     m_dir.file("open.sql") +
                                     ": statement 2 (byte 45): the string opened by ' here is "
                                     "not closed at the end of the file"});
  EXPECT_EQ(context.Texts(LogLevel::General).back(), "Restoring...  " + m_dir.file("after.sql"));
}

TEST_F(ScriptRestoreTest, StatementOverThePacketLimitIsSkippedAndTheSessionKept) {
  const std::string packet = OnB("SELECT @@max_allowed_packet;");
  const std::size_t limit = std::stoul(packet);
  const std::string head = "INSERT INTO e2_big.t VALUES ('";
  WriteFile("big.sql",
            "CREATE DATABASE IF NOT EXISTS e2_big;\n"
            "CREATE OR REPLACE TABLE e2_big.t (v LONGTEXT);\n" +
                head + std::string(limit, 'x') +
                "');\n"
                "INSERT INTO e2_big.t VALUES ('after');\n");
  CTaskItem task = RestoreTask({"big.sql"});
  task.RestoreOptions.ContinueOnSqlError = 1;
  RecordingRunContext context(task);
  ASSERT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump().substr(0, 4000);
  ASSERT_EQ(context.Errors().size(), 1u);
  EXPECT_EQ(context.Errors()[0],
            "Failed to execute the SQL statement: " + head + std::string(1024 - head.size(), 'x') +
                " ... (" + m_dir.file("big.sql") + ": statement 3 (byte 85) has " +
                std::to_string(limit + head.size() + 2) + " bytes, more than the " +
                std::to_string(limit - 1) + " allowed by the server's max_allowed_packet)");
  EXPECT_EQ(OnB("SELECT v FROM e2_big.t;"), "after\n");
}

TEST_F(ScriptRestoreTest, ViewsWaitForTheTablesTheyRead) {
  // A per-table set restored in name order: the views' files come first.
  OnB("DROP DATABASE IF EXISTS e2_views; CREATE DATABASE e2_views;");
  WriteFile("e2_views_a_top.sql",
            "USE e2_views;\n/*!40101 SET NAMES utf8mb4 */;\n"
            "/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=CURRENT_USER SQL SECURITY "
            "DEFINER */\n/*!50001 VIEW `top` AS select `n` from `middle` where `n` > 1 */;\n");
  WriteFile("e2_views_b_middle.sql",
            "USE e2_views;\nCREATE OR REPLACE VIEW middle AS SELECT n FROM t;\n");
  WriteFile("e2_views_c_broken.sql",
            "USE e2_views;\nCREATE VIEW broken AS SELECT * FROM nowhere;\n");
  WriteFile(
      "e2_views_t.sql",
      "USE e2_views;\nCREATE TABLE t (n INT);\nINSERT INTO t VALUES (1),(2),(3);\nUSE mysql;\n");
  for (int run = 0; run < 4; ++run) {
    const std::uint8_t continueOnSql = run % 2;
    const bool advanced = run >= 2;  // statements read ahead
    SCOPED_TRACE(run);
    OnB("DROP DATABASE IF EXISTS e2_views; CREATE DATABASE e2_views;");
    CTaskItem task = RestoreTask(
        {"e2_views_a_top.sql", "e2_views_b_middle.sql", "e2_views_c_broken.sql", "e2_views_t.sql"});
    task.RestoreOptions.ContinueOnSqlError = continueOnSql;
    if (advanced) SetAdvancedOptions(task, CAdvancedOptions{});
    RecordingRunContext context(task);
    EXPECT_EQ(RestoreFilesWorker(context),
              continueOnSql ? RunOutcome::Finished : RunOutcome::Failed)
        << context.Dump();
    EXPECT_EQ(context.Errors(),
              std::vector<std::string>{"Failed to execute the SQL statement: CREATE VIEW broken AS "
                                       "SELECT * FROM nowhere (error 1146: Table "
                                       "'e2_views.nowhere' doesn't exist)"});
    EXPECT_EQ(OnB("SELECT n FROM e2_views.top;"), "2\n3\n");
  }
  EXPECT_TRUE(IsCreateViewStatement("create or replace definer=`view`@`%` view v as select 1"));
  EXPECT_FALSE(IsCreateViewStatement("CREATE TABLE view_log (a INT)"));
  EXPECT_FALSE(IsCreateViewStatement("SELECT * FROM v"));
  // The name a held-back view's placeholder table is dropped by.
  EXPECT_EQ("`a``b`.`v w`",
            CreatedViewName("/*!50001 CREATE ALGORITHM=UNDEFINED */ /*!50001 VIEW `a``b`.`v w` "
                            "AS SELECT 1 */"));
  EXPECT_EQ("v", CreatedViewName("create view if not exists v as select 1"));
  EXPECT_EQ("", CreatedViewName("CREATE TABLE v (a INT)"));
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
