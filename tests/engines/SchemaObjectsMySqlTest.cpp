// Triggers, routines and events in dumps against real servers: with the advanced options
// every grouping restores them through the stock client exactly as they were; a task
// without the options leaves them out and says so once per database.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ServerCopyWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;
using test::ServerB;

// The first `columns` tab-separated fields of every line (SHOW CREATE TRIGGER ends in
// its creation time, which a restore cannot keep).
std::string Fields(const std::string& output, int columns) {
  std::string kept;
  int field = 0;
  for (char c : output) {
    if (c == '\n') {
      field = 0;
      kept += c;
    } else if (c == '\t') {
      if (++field < columns) kept += c;
    } else if (field < columns) {
      kept += c;
    }
  }
  return kept;
}

class SchemaObjectsMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase(
        "e14_objects_",
        "CREATE TABLE parent (id INT PRIMARY KEY, total INT NOT NULL DEFAULT 0) ENGINE=InnoDB;"
        "CREATE TABLE child (id INT PRIMARY KEY, parent_id INT NOT NULL, amount INT,"
        " FOREIGN KEY (parent_id) REFERENCES parent (id)) ENGINE=InnoDB;"
        "CREATE TABLE audit (note VARCHAR(100)) ENGINE=InnoDB;"
        "INSERT INTO parent VALUES (1, 0), (2, 0);"
        "INSERT INTO child VALUES (1, 1, 5), (2, 2, 7);"
        "CREATE VIEW big_children AS SELECT * FROM child WHERE amount > 1;"
        "CREATE VIEW big_children_of_one AS SELECT id FROM big_children WHERE parent_id = 1;\n"
        "DELIMITER ;;\n"
        // A body with statements, a ';' inside a string and a comment: restored only when
        // the file frames it.
        "CREATE TRIGGER child_ai AFTER INSERT ON child FOR EACH ROW BEGIN\n"
        "  UPDATE parent SET total = total + NEW.amount WHERE id = NEW.parent_id;\n"
        "  INSERT INTO audit VALUES (CONCAT('added; ', NEW.id)); -- keep\n"
        "END;;\n"
        "CREATE TRIGGER child_ai_second AFTER INSERT ON child FOR EACH ROW FOLLOWS child_ai\n"
        "  INSERT INTO audit VALUES ('second');;\n"
        "CREATE PROCEDURE add_child(IN p INT, IN a INT) BEGIN\n"
        "  DECLARE n INT;\n"
        "  SELECT COALESCE(MAX(id), 0) + 1 INTO n FROM child;\n"
        "  INSERT INTO child VALUES (n, p, a);\n"
        "END;;\n"
        "CREATE FUNCTION doubled(x INT) RETURNS INT DETERMINISTIC RETURN x * 2;;\n"
        "DELIMITER ;\n"
        "SET SESSION sql_mode = 'ANSI_QUOTES';"
        "CREATE EVENT \"nightly tidy\" ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 03:00:00'"
        " DISABLE DO DELETE FROM audit WHERE note = 'second';");
  }

  CTaskItem MakeTask(std::uint8_t grouping, const CAdvancedOptions* advanced) {
    return MakeDumpTask("Objects", grouping,
                        {{"parent", 1},
                         {"child", 1},
                         {"audit", 1},
                         {"big_children", 2},
                         {"big_children_of_one", 2}},
                        advanced);
  }

  // The same selection as a copy from A to B.
  CTaskItem MakeCopyTask(const CAdvancedOptions* advanced) {
    CTaskItem task = MakeTask(1, advanced);
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
    task.DestinationServer = test::AsServerInfo(ServerB());
    return task;
  }

  // What must come back: SHOW CREATE of every object, its rows and its checksums.
  std::string Describe(const test::TestServerInfo& server) {
    std::string text;
    for (const char* trigger : {"child_ai", "child_ai_second"}) {
      text +=
          Fields(test::RunClient(server, std::string("SHOW CREATE TRIGGER ") + trigger, m_db), 3);
    }
    text += Fields(test::RunClient(server, "SHOW CREATE PROCEDURE add_child", m_db), 3);
    text += Fields(test::RunClient(server, "SHOW CREATE FUNCTION doubled", m_db), 3);
    text += Fields(test::RunClient(server, "SHOW CREATE EVENT `nightly tidy`", m_db), 4);
    for (const char* view : {"big_children", "big_children_of_one"}) {
      text += Fields(test::RunClient(server, std::string("SHOW CREATE VIEW ") + view, m_db), 2);
    }
    for (const char* table : {"parent", "child", "audit"}) {
      text += test::Checksum(server, m_db, table) + "\n";
    }
    return text;
  }
};

TEST_F(SchemaObjectsMySqlTest, EveryGroupingRestoresEveryObjectIdentically) {
  const std::string original = Describe(ServerA());
  for (std::uint8_t grouping : {1, 2, 3}) {
    SCOPED_TRACE("grouping " + std::to_string(grouping));
    // Per database: compressed, and restored by our own restore instead of the client.
    const bool ours = grouping == 2;
    CAdvancedOptions advanced;
    if (ours) advanced.Compression = Compression::Gzip;
    FakeRunContext context(MakeTask(grouping, &advanced));
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Warning).empty()) << context.AllText();
    ASSERT_EQ(1u, context.copies.size());
    if (ours) {
      RestoreWithOurs(context.copies[0].CopyFiles);
    } else {
      RestoreWithClient(context.copies[0].CopyFiles);
    }
    EXPECT_EQ(original, Describe(ServerB()));
    // The triggers work on the copy, and were created after the rows rather than
    // fired by them.
    EXPECT_EQ("0\n", test::RunClient(ServerB(), "SELECT COUNT(*) FROM audit", m_db));
    test::RunClient(ServerB(), "CALL add_child(1, 10);", m_db);
    EXPECT_EQ("10\t2\n", test::RunClient(ServerB(),
                                         "SELECT (SELECT total FROM parent WHERE id = 1), "
                                         "(SELECT COUNT(*) FROM audit)",
                                         m_db));
  }
}

TEST_F(SchemaObjectsMySqlTest, FastOptionsDumpCopyAndRestoreEveryObjectIdentically) {
  // Enough rows for many filled statements per table; the triggers fill audit too.
  test::RunClient(ServerA(),
                  "INSERT INTO parent SELECT seq, 0 FROM seq_3_to_3000;"
                  "INSERT INTO child SELECT seq, seq, seq % 97 FROM seq_3_to_3000;",
                  m_db);
  const std::string original = Describe(ServerA());
  CAdvancedOptions fast;
  fast.StatementBytes = kMinStatementBytes;
  fast.Threads = 2;
  fast.Compression = Compression::Zstd;
  for (std::uint8_t grouping : {2, 3}) {
    SCOPED_TRACE("grouping " + std::to_string(grouping));
    FakeRunContext context(MakeTask(grouping, &fast));
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    ASSERT_EQ(1u, context.copies.size());
    const std::vector<std::string>& files = context.copies[0].CopyFiles;
    ASSERT_EQ(files.size(), grouping == 3 ? 5u : 1u);
    RestoreWithOurs(files, &fast);
    EXPECT_EQ(original, Describe(ServerB()));
    // The files also go through the stock tools, and no statement passes the size.
    std::vector<std::string> plain;
    for (const std::string& file : files) {
      const std::string out = file + ".sql";
      ASSERT_EQ(0, std::system(("zstdcat -q '" + file + "' > '" + out + "'").c_str()));
      plain.push_back(out);
    }
    RestoreWithClient(plain);
    EXPECT_EQ(original, Describe(ServerB()));
    std::size_t inserts = 0;
    for (const std::string& file : plain) {
      const std::string text = test::ReadWholeFile(file);
      // Row statements start a line (trigger bodies hold INSERTs too).
      for (std::size_t at = text.find("\nINSERT INTO"); at != std::string::npos;
           at = text.find("\nINSERT INTO", at + 1)) {
        const std::size_t end = text.find(");\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - at, std::size_t{kMinStatementBytes});  // from the I to the )
        ++inserts;
      }
    }
    EXPECT_GT(inserts, 10u);
    EXPECT_LT(inserts, 100u);  // filled: far fewer than one per ten rows
  }

  // Copies with the same options, server and database ones: checks off, a transaction
  // per table, two tables at a time with a child before its parent's rows are in.
  for (TaskType type : {TaskType::BackupToServer, TaskType::BackupToDatabase}) {
    SCOPED_TRACE("copy type " + std::to_string(static_cast<int>(type)));
    CTaskItem copy = MakeTask(1, &fast);
    copy.TaskType = static_cast<std::uint8_t>(type);
    copy.DestinationServer = test::AsServerInfo(ServerB());
    copy.BackupSettings.DestinationDatabase = m_db;
    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    FakeRunContext copying(copy);
    ASSERT_EQ(RunOutcome::Finished, ServerCopyWorker(copying)) << copying.AllText();
    EXPECT_TRUE(copying.Texts(LogLevel::Error).empty()) << copying.AllText();
    EXPECT_EQ(original, Describe(ServerB()));
    // Each table's records line follows the line naming its records, whichever lane
    // copied it.
    const std::vector<std::string> general = copying.Texts(LogLevel::General);
    for (const char* table : {"parent", "child", "audit"}) {
      const auto at = std::find(general.begin(), general.end(),
                                "Backing up the records of the table " + m_db + "." + table +
                                    "...");
      ASSERT_NE(at, general.end()) << table;
      ASSERT_NE(at + 1, general.end()) << table;
      const std::string rows =
          test::RunClient(ServerA(), std::string("SELECT COUNT(*) FROM ") + table, m_db);
      EXPECT_EQ(*(at + 1), "Backup the records from the table OK - " +
                               rows.substr(0, rows.size() - 1) + " records");
    }
  }
}

TEST_F(SchemaObjectsMySqlTest, PhpScriptSendsEachObjectAsOneStatement) {
  const CAdvancedOptions advanced;  // its compression would not apply: PHP stays plain
  CTaskItem task = MakeTask(2, &advanced);
  task.BackupSettings.FileType = 2;
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
  ASSERT_EQ(1u, context.copies.size());
  ASSERT_TRUE(context.copies[0].CopyFiles.at(0).ends_with(".php"));
  const std::string script = test::ReadWholeFile(context.copies[0].CopyFiles[0]);
  EXPECT_EQ(script.find("DELIMITER"), std::string::npos);
  // Each DROP ... IF EXISTS is one PHP query string of its own.
  for (const char* kind : {"TRIGGER IF EXISTS `child_ai`", "PROCEDURE IF EXISTS `add_child`",
                           "FUNCTION IF EXISTS `doubled`", "EVENT IF EXISTS `nightly tidy`"}) {
    EXPECT_NE(script.find("mysql_query('DROP " + std::string(kind) + ";'"), std::string::npos)
        << kind;
  }
}

TEST_F(SchemaObjectsMySqlTest, ServerCopyCreatesEveryObjectOnTheDestination) {
  const CAdvancedOptions advanced;
  CTaskItem task = MakeCopyTask(&advanced);
  test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.AllText();
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_EQ(Describe(ServerA()), Describe(ServerB()));

  // Without the options the objects stay behind, and the log says so.
  test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
  CTaskItem legacy = MakeCopyTask(nullptr);
  FakeRunContext legacyContext(legacy);
  ASSERT_EQ(RunOutcome::Finished, ServerCopyWorker(legacyContext)) << legacyContext.AllText();
  EXPECT_EQ(legacyContext.Texts(LogLevel::Warning),
            std::vector<std::string>{"The database " + m_db +
                                     " has triggers, stored procedures, stored functions and "
                                     "events, which this task does not copy."});
  EXPECT_EQ("", test::RunClient(ServerB(), "SHOW TRIGGERS", m_db));
}

// A database whose collation is not its character set's default keeps it through dumps
// (whether or not the task sets the connection's character set) and copies, and so do
// the routines created in it.
TEST_F(SchemaObjectsMySqlTest, TheDatabaseCollationComesBackWithItsRoutines) {
  test::RunClient(ServerA(), "ALTER DATABASE `" + m_db + "` COLLATE utf8mb4_unicode_ci;");
  test::RunClient(ServerA(), "CREATE PROCEDURE collated() SELECT 1;", m_db);
  const std::string collations =
      "SELECT DEFAULT_COLLATION_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME='" + m_db +
      "'; SELECT DATABASE_COLLATION FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA='" +
      m_db + "' AND ROUTINE_NAME='collated';";
  ASSERT_EQ("utf8mb4_unicode_ci\nutf8mb4_unicode_ci\n", test::RunClient(ServerA(), collations));
  const CAdvancedOptions advanced;
  for (const std::uint8_t setCharset : {1, 0}) {
    SCOPED_TRACE(setCharset ? "dump" : "dump without the connection's character set");
    CTaskItem task = MakeTask(1, &advanced);
    task.BackupSettings.SetConnectionCharset = setCharset;
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    RestoreWithClient(context.copies.at(0).CopyFiles);
    EXPECT_EQ("utf8mb4_unicode_ci\nutf8mb4_unicode_ci\n", test::RunClient(ServerB(), collations));
  }
  test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
  FakeRunContext context(MakeCopyTask(&advanced));
  ASSERT_EQ(RunOutcome::Finished, ServerCopyWorker(context)) << context.AllText();
  EXPECT_EQ("utf8mb4_unicode_ci\nutf8mb4_unicode_ci\n", test::RunClient(ServerB(), collations));
}

TEST_F(SchemaObjectsMySqlTest, TaskWithoutTheOptionsWarnsOncePerDatabaseAndLeavesThemOut) {
  FakeRunContext context(MakeTask(2, nullptr));
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
  EXPECT_EQ(context.Texts(LogLevel::Warning),
            std::vector<std::string>{"The database " + m_db +
                                     " has triggers, stored procedures, stored functions and "
                                     "events, which this task does not back up."});
  ASSERT_EQ(1u, context.copies.size());
  const std::string dump = test::ReadWholeFile(context.copies[0].CopyFiles.at(0));
  EXPECT_EQ(dump.find("TRIGGER"), std::string::npos);
  EXPECT_EQ(dump.find("DELIMITER"), std::string::npos);

  // Routines only: the warning names what is still left out.
  CAdvancedOptions routinesOnly = CAdvancedOptions::Legacy();
  routinesOnly.IncludeRoutines = true;
  FakeRunContext partial(MakeTask(2, &routinesOnly));
  ASSERT_EQ(RunOutcome::Finished, RunBackupToFiles(partial, m_dir.path())) << partial.AllText();
  EXPECT_EQ(
      partial.Texts(LogLevel::Warning),
      std::vector<std::string>{"The database " + m_db +
                               " has triggers and events, which this task does not back up."});
}

}  // namespace
}  // namespace brevanto
