// A restore request that names a target database: a copy of one database, with a view
// reading another database, a trigger, a procedure and an event, is restored beside
// its original on the same server, under another name, and the original is not touched.
// Files holding two databases are refused before anything runs.

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;

class RestoreIntoDatabaseMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase(
        "e16_rename_",
        "CREATE TABLE t (id INT PRIMARY KEY, note VARCHAR(100));"
        "INSERT INTO t VALUES (1, 'USE `" +
            std::string("e16_rename_") + std::to_string(getpid()) +
            "`'), (2, 'plain');"
            "CREATE TABLE audit (n INT);"
            "CREATE VIEW v AS SELECT id FROM t WHERE id > 0;\n"
            "DELIMITER ;;\n"
            "CREATE TRIGGER t_ai AFTER INSERT ON t FOR EACH ROW INSERT INTO audit VALUES "
            "(NEW.id);;\n"
            "CREATE PROCEDURE p() BEGIN SELECT COUNT(*) FROM t; END;;\n"
            "DELIMITER ;\n"
            "CREATE EVENT e ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01' DISABLE DO DELETE FROM "
            "audit;");
    m_other = "e16_other_" + std::to_string(getpid());
    m_scratch = "scratch_x" + std::to_string(getpid());
    DropExtra();
    test::RunClient(ServerA(), "CREATE DATABASE `" + m_other + "`;" + "CREATE TABLE `" + m_other +
                                   "`.u (id INT); INSERT INTO `" + m_other + "`.u VALUES (1);");
    // A view reading another database: the server qualifies every name in it.
    test::RunClient(ServerA(),
                    "CREATE VIEW vx AS SELECT t.id, u.id AS uid FROM t JOIN `" + m_other +
                        "`.u ON t.id = u.id;",
                    m_db);
  }
  void TearDown() override {
    if (test::IsReachable(ServerA())) DropExtra();
    SourceDatabaseTest::TearDown();
  }
  void DropExtra() {
    test::RunClient(ServerA(), "DROP DATABASE IF EXISTS `" + m_other +
                                   "`; DROP DATABASE IF EXISTS `" + m_scratch + "`;");
  }

  std::vector<std::string> Dump(std::uint8_t grouping, std::vector<DatabaseItem> more = {}) {
    CAdvancedOptions advanced;
    CTaskItem task =
        MakeDumpTask("Rename", grouping, {{"t", 1}, {"audit", 1}, {"v", 2}, {"vx", 2}}, &advanced);
    for (DatabaseItem& database : more) task.BackupDatabases.push_back(std::move(database));
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_EQ(1u, context.copies.size());
    return context.copies.empty() ? std::vector<std::string>{} : context.copies[0].CopyFiles;
  }

  // Restores `files` on A under the scratch name; with `threads`, several files at a time.
  RunOutcome RestoreInto(const std::vector<std::string>& files, FakeRunContext& context,
                         std::uint32_t threads = 1) {
    RestoreFilesRequest request;
    request.Advanced.Threads = threads;
    request.Server = test::AsServerInfo(ServerA());
    for (const std::string& file : files) request.Files.push_back({0, file, file, 0, {}});
    request.TargetDatabase = m_scratch;
    return RestoreFromFiles(context, request);
  }

  // The stored objects of `database` and their definitions as the server keeps them.
  std::string Objects(const std::string& database) {
    return test::RunClient(
        ServerA(),
        "SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = '" +
            database +
            "' ORDER BY 1; SELECT TRIGGER_NAME, EVENT_OBJECT_TABLE, ACTION_STATEMENT FROM "
            "information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = '" +
            database +
            "'; SELECT ROUTINE_NAME, ROUTINE_DEFINITION FROM information_schema.ROUTINES WHERE "
            "ROUTINE_SCHEMA = '" +
            database +
            "'; SELECT EVENT_NAME, EVENT_DEFINITION, STATUS FROM "
            "information_schema.EVENTS WHERE EVENT_SCHEMA = '" +
            database + "';");
  }

  std::string m_other;
  std::string m_scratch;
};

TEST_F(RestoreIntoDatabaseMySqlTest, CopyIsRestoredBesideItsOriginalUnderAnotherName) {
  const std::string objects = Objects(m_db);
  const std::string checksum = test::Checksum(ServerA(), m_db, "t");
  const std::string auditChecksum = test::Checksum(ServerA(), m_db, "audit");
  for (std::uint8_t grouping : {1, 3}) {
    SCOPED_TRACE("grouping " + std::to_string(grouping));
    const std::vector<std::string> files = Dump(grouping);
    // Changed after the copy was taken: a restore that reached the original would put
    // the copy's state back.
    test::RunClient(ServerA(), "INSERT INTO t VALUES (3, 'after the copy'); DROP EVENT e;", m_db);
    const std::string changed = Objects(m_db);
    const std::string changedChecksum = test::Checksum(ServerA(), m_db, "t");

    FakeRunContext context(CTaskItem{});
    // The files of a copy per table go on two sessions at once.
    ASSERT_EQ(RunOutcome::Finished, RestoreInto(files, context, grouping == 3 ? 2 : 1))
        << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();

    EXPECT_EQ(changed, Objects(m_db));
    EXPECT_EQ(changedChecksum, test::Checksum(ServerA(), m_db, "t"));
    EXPECT_EQ(checksum, test::Checksum(ServerA(), m_scratch, "t"));
    EXPECT_EQ(auditChecksum, test::Checksum(ServerA(), m_scratch, "audit"));
    EXPECT_EQ(objects, Objects(m_scratch));
    // The view reads the copy's table, not the original's.
    EXPECT_EQ("1\t1\n", test::RunClient(ServerA(), "SELECT * FROM vx", m_scratch));
    const std::string view = test::RunClient(
        ServerA(), "SELECT VIEW_DEFINITION FROM information_schema.VIEWS WHERE TABLE_SCHEMA = '" +
                       m_scratch + "' AND TABLE_NAME = 'vx'");
    EXPECT_NE(std::string::npos, view.find("`" + m_scratch + "`.`t`")) << view;
    EXPECT_EQ(std::string::npos, view.find("`" + m_db + "`")) << view;

    // The original as it was, for the next grouping.
    test::RunClient(ServerA(),
                    "DELETE FROM t WHERE id = 3; DELETE FROM audit; DROP DATABASE `" + m_scratch +
                        "`; CREATE EVENT e ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01' DISABLE DO "
                        "DELETE FROM audit;",
                    m_db);
  }
}

TEST_F(RestoreIntoDatabaseMySqlTest, StockDumpsAreRestoredUnderAnotherNameToo) {
  const std::string objects = Objects(m_db);
  const std::string checksum = test::Checksum(ServerA(), m_db, "t");
  const test::TestServerInfo& a = ServerA();
  const std::string tool = "mariadb-dump --no-defaults --protocol=TCP --host=" + a.host +
                           " --port=" + std::to_string(a.port) + " --user=" + a.user +
                           " --password=" + a.password + " --routines --events --triggers ";
  // With --databases the file drops, creates and selects the database; without, it names
  // none and is restored into the target.
  for (const std::string& options :
       {"--add-drop-database --databases " + m_db, std::string("") + m_db}) {
    SCOPED_TRACE(options);
    const std::string file = m_dir.file("stock.sql");
    ASSERT_EQ(0, std::system((tool + options + " > '" + file + "'").c_str()));
    test::RunClient(ServerA(), "INSERT INTO t VALUES (3, 'after the copy');", m_db);
    const std::string changedChecksum = test::Checksum(ServerA(), m_db, "t");

    FakeRunContext context(CTaskItem{});
    ASSERT_EQ(RunOutcome::Finished, RestoreInto({file}, context)) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    EXPECT_EQ(changedChecksum, test::Checksum(ServerA(), m_db, "t"));
    EXPECT_EQ(checksum, test::Checksum(ServerA(), m_scratch, "t"));
    EXPECT_EQ(objects, Objects(m_scratch));
    EXPECT_EQ("1\t1\n", test::RunClient(ServerA(), "SELECT * FROM vx", m_scratch));

    test::RunClient(
        ServerA(),
        "DELETE FROM t WHERE id = 3; DELETE FROM audit; DROP DATABASE `" + m_scratch + "`;", m_db);
  }
}

TEST_F(RestoreIntoDatabaseMySqlTest, StatementsThatWouldReachTheOriginalAreNotRun) {
  const std::string file = m_dir.file("qualified.sql");
  ASSERT_TRUE(
      test::WriteWholeFile(file, "CREATE DATABASE IF NOT EXISTS `" + m_db + "`;\nUSE `" + m_db +
                                     "`;\nCREATE TABLE t (id INT PRIMARY KEY, note VARCHAR(100));\n"
                                     "INSERT INTO `" +
                                     m_db +
                                     "`.t VALUES (9, 'into the original');\n"
                                     "INSERT INTO t VALUES (8, 'into the copy');\n"));
  const std::string checksum = test::Checksum(ServerA(), m_db, "t");

  FakeRunContext context(CTaskItem{});
  RestoreFilesRequest request;
  request.Server = test::AsServerInfo(ServerA());
  request.Files.push_back({0, file, file, 0, {}});
  request.Options.ContinueOnSqlError = 1;
  request.TargetDatabase = m_scratch;
  EXPECT_EQ(RunOutcome::Finished, RestoreFromFiles(context, request));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  ASSERT_EQ(1u, errors.size()) << context.AllText();
  EXPECT_EQ(0u, errors[0].find("Not run: ")) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find("into the original")) << errors[0];
  EXPECT_EQ(checksum, test::Checksum(ServerA(), m_db, "t"));
  EXPECT_EQ("8\n", test::RunClient(ServerA(), "SELECT id FROM t", m_scratch));
}

TEST_F(RestoreIntoDatabaseMySqlTest, FilesHoldingTwoDatabasesAreRefusedBeforeAnythingRuns) {
  DatabaseItem other;
  other.Selected = 1;
  other.DatabaseName = m_other;
  other.Tables.push_back({1, 1, m_other, "u"});
  const std::vector<std::string> files = Dump(1, {other});
  test::RunClient(ServerA(), "INSERT INTO t VALUES (3, 'after the copy');", m_db);
  const std::string checksum = test::Checksum(ServerA(), m_db, "t");

  FakeRunContext context(CTaskItem{});
  EXPECT_EQ(RunOutcome::Failed, RestoreInto(files, context));
  const std::vector<std::string> errors = context.Texts(LogLevel::Error);
  ASSERT_EQ(1u, errors.size()) << context.AllText();
  EXPECT_NE(std::string::npos, errors[0].find("more than one database")) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find(m_other)) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find(files[0])) << errors[0];
  // Nothing ran: no connection was even made.
  EXPECT_EQ(checksum, test::Checksum(ServerA(), m_db, "t"));
  EXPECT_EQ("0\n", test::RunClient(ServerA(),
                                   "SELECT COUNT(*) FROM information_schema.SCHEMATA "
                                   "WHERE SCHEMA_NAME = '" +
                                       m_scratch + "'"));
  EXPECT_TRUE(context.Texts(LogLevel::General).empty()) << context.AllText();
}

}  // namespace
}  // namespace brevanto
