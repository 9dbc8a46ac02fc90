#include "engines/ServerCopyWorker.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/MySqlConnection.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/KillingRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/FakeClock.h"
#include "tests/support/ProcessThreads.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::KillingRunContext;
using test::RecordingRunContext;
using test::ThreadCount;

class ServerCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(test::ServerA());
    BREVANTO_REQUIRE_SERVER(test::ServerB());
    ASSERT_TRUE(test::EnsureSourceDatabases());
  }

  static CTaskItem CopyTask(TaskType type, const std::string& database,
                            const std::vector<TableItem>& tables) {
    CTaskItem task;
    task.TaskName = "Copy test";
    task.TaskType = static_cast<std::uint8_t>(type);
    task.SourceServer = test::AsServerInfo(test::ServerA());
    task.DestinationServer = test::AsServerInfo(test::ServerB());
    task.BackupDatabases.push_back({1, database, tables});
    return task;
  }

  // A new database `db` on A, made by `sql` run in it.
  static void FreshOnA(const std::string& db, const std::string& sql) {
    test::RunClient(test::ServerA(), "DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db +
                                         "; USE " + db + "; " + sql);
  }

  static void DropOnB(const std::string& database) {
    test::RunClient(test::ServerB(), "DROP DATABASE IF EXISTS `" + database + "`;");
  }
};

TEST_F(ServerCopyTest, CopiesServerToServerWithEachInsertStyle) {
  struct Case {
    const char* name;
    void (*apply)(BackupSettings&);
  };
  const Case cases[] = {
      {"defaults", [](BackupSettings&) {}},
      {"multiple-row inserts", [](BackupSettings& s) { s.MultipleRowInsert = 1; }},
      {"complete inserts", [](BackupSettings& s) { s.CompleteInsert = 1; }},
      {"multiple-row complete REPLACE with autocommit and DELETE",
       [](BackupSettings& s) {
         s.MultipleRowInsert = 1;
         s.CompleteInsert = 1;
         s.AddSetAutocommit = 1;
         s.UseReplace = 1;
         s.AddDeleteAllRecords = 1;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DropOnB(test::kSourceDatabase);
    CTaskItem task =
        CopyTask(TaskType::BackupToServer, test::kSourceDatabase, test::SourceTables());
    c.apply(task.BackupSettings);
    RecordingRunContext context(task);
    ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
    test::ExpectSameSourceTables(test::kSourceDatabase);
    EXPECT_FALSE(context.HasCancelHook());
  }
}

TEST_F(ServerCopyTest, AnInvisibleColumnKeepsItsValuesAndShiftsNoOthers) {
  const std::string db = "e2_invisible";
  // The generated column is the server's own: naming it in an INSERT would fail every row.
  FreshOnA(db,
           "CREATE TABLE t (id INT PRIMARY KEY, hidden INT INVISIBLE DEFAULT 7,"
           " name VARCHAR(10), doubled INT AS (id * 2) VIRTUAL INVISIBLE);"
           " INSERT INTO t (id, hidden, name) VALUES (1, 1, 'one'), (2, 2, 'two');"
           // So are the row-period columns of a system-versioned table.
           " CREATE TABLE v (id INT PRIMARY KEY, hidden INT INVISIBLE,"
           " rs TIMESTAMP(6) AS ROW START INVISIBLE, re TIMESTAMP(6) AS ROW END"
           " INVISIBLE, PERIOD FOR SYSTEM_TIME(rs, re)) WITH SYSTEM VERSIONING;"
           " INSERT INTO v (id, hidden) VALUES (1, 3);");
  for (const int complete : {0, 1}) {
    for (const int multiRow : {0, 1}) {
      SCOPED_TRACE("complete " + std::to_string(complete) + " multi-row " +
                   std::to_string(multiRow));
      DropOnB(db);
      CTaskItem task = CopyTask(TaskType::BackupToServer, db, {{1, 1, db, "t"}, {1, 1, db, "v"}});
      task.BackupSettings.CompleteInsert = complete;
      task.BackupSettings.MultipleRowInsert = multiRow;
      RecordingRunContext context(task);
      ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
      EXPECT_TRUE(context.Errors().empty()) << context.Dump();
      EXPECT_EQ(test::RunClient(test::ServerB(),
                                "SELECT id, hidden, name, doubled FROM t ORDER BY id;", db),
                "1\t1\tone\t2\n2\t2\ttwo\t4\n");
      EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT id, hidden FROM v;", db), "1\t3\n");
    }
  }
  test::RunClient(test::ServerA(), "DROP DATABASE " + db + ";");
  DropOnB(db);
}

TEST_F(ServerCopyTest, LogsTheRunInTheBackupWording) {
  DropOnB(test::kSourceDatabase);
  CTaskItem task =
      CopyTask(TaskType::BackupToServer, test::kSourceDatabase,
               {{1, 1, test::kSourceDatabase, "items"}, {1, 2, test::kSourceDatabase, "v_items"}});
  task.BackupSettings.MultipleRowInsert = 1;
  RecordingRunContext context(task);
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished);
  const std::vector<std::string> general = context.Texts(LogLevel::General);
  ASSERT_EQ(general.size(), 10u) << context.Dump();
  EXPECT_EQ(general[0], "Connecting to the source MySQL server (127.0.0.1)... ");
  EXPECT_EQ(
      general[1].rfind("Connect to the source MySQL server successfully!  MySQL version: ", 0), 0u);
  EXPECT_EQ(general[2], "Connecting to the destination MySQL server (127.0.0.1)... ");
  EXPECT_EQ(general[4], "Backing up the selected databases and tables...");
  EXPECT_EQ(general[5], "Backing up the database e2_src...");
  EXPECT_EQ(general[6], "Backing up the table e2_src.items...");
  EXPECT_EQ(general[7], "Backup the records from the table OK - 25 records");
  EXPECT_EQ(general[8], "Backing up the view e2_src.v_items...");
  // The view's entry comes after its placeholder table was made.
  EXPECT_EQ(context.Lines().back().text, "Backup the view e2_src.v_items - OK");
}

TEST_F(ServerCopyTest, DatabaseVariantsNameTheDestination) {
  // A template expands with the run's start; a plain name is used as it is.
  const std::string expanded = "e2_e2_src_2006-03-07_09-05-00";
  DropOnB(expanded);
  DropOnB("e2_restored");
  CTaskItem task =
      CopyTask(TaskType::BackupToDatabase, test::kSourceDatabase, test::SourceTables());
  task.BackupSettings.CreateNewDestinationDatabase = 1;
  task.BackupSettings.DestinationDatabase = "e2_%DATABASE%_%DATE%_%TIME%";
  RecordingRunContext templated(task);
  ASSERT_EQ(ServerCopyWorker(templated), RunOutcome::Finished) << templated.Dump();
  EXPECT_TRUE(templated.Errors().empty()) << templated.Dump();
  test::ExpectSameSourceTables(expanded);

  task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromDatabase);
  task.BackupSettings.CreateNewDestinationDatabase = 0;
  task.BackupSettings.DestinationDatabase = "e2_restored";
  RecordingRunContext restore(task);
  ASSERT_EQ(ServerCopyWorker(restore), RunOutcome::Finished) << restore.Dump();
  EXPECT_TRUE(restore.Errors().empty()) << restore.Dump();
  test::ExpectSameSourceTables("e2_restored");
  EXPECT_EQ(restore.Texts(LogLevel::General)[4], "Restoring the selected databases and tables...");
}

TEST_F(ServerCopyTest, KeepsCharactersOutsideTheDatabaseCharacterSet) {
  // The utf8mb4 database goes first and ends with a view, whose source lock stays until
  // the latin1 database's first table takes its own.
  DropOnB(test::kSourceDatabase);
  DropOnB(test::kLatinDatabase);
  CTaskItem task = CopyTask(TaskType::BackupToServer, test::kSourceDatabase, test::SourceTables());
  task.BackupDatabases.push_back(
      {1, test::kLatinDatabase, {{1, 1, test::kLatinDatabase, "mixed"}}});
  RecordingRunContext context(task);
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  test::ExpectSameSourceTables(test::kSourceDatabase);
  const std::string query = "SELECT HEX(l), HEX(u) FROM mixed;";
  EXPECT_EQ(test::RunClient(test::ServerB(), query, test::kLatinDatabase), "E9\tC3A920F09F9880\n");
  EXPECT_EQ(test::RunClient(test::ServerB(),
                            "SELECT DEFAULT_CHARACTER_SET_NAME FROM information_schema.SCHEMATA "
                            "WHERE SCHEMA_NAME='e2_latin';"),
            "latin1\n");
}

TEST_F(ServerCopyTest, ViewTextKeepsTheCharacterSetItWasReadIn) {
  // The view is read in latin1; the table after it switches both sessions to utf8mb4
  // before the view is created at the end of the database.
  DropOnB(test::kLatinDatabase);
  RecordingRunContext context(
      CopyTask(TaskType::BackupToServer, test::kLatinDatabase,
               {{1, 2, test::kLatinDatabase, "marked"}, {1, 1, test::kLatinDatabase, "mixed"}}));
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT id FROM marked;", test::kLatinDatabase),
            "1\n");
}

TEST_F(ServerCopyTest, EmptySelectionEndsTheRunBeforeConnecting) {
  CTaskItem task = CopyTask(TaskType::RestoreFromServer, test::kSourceDatabase, {});
  task.BackupDatabases.clear();
  task.BackupSettings.IncludeNewDatabases = 1;
  task.SourceServer.Port = 1;  // a connect attempt would log a failure
  RecordingRunContext context(task);
  EXPECT_EQ(ServerCopyWorker(context), RunOutcome::Failed);
  ASSERT_EQ(context.Lines().size(), 1u);
  EXPECT_EQ(context.Lines()[0].text, "There are not any databases to restore!");
}

TEST_F(ServerCopyTest, RecordsOffStillDeletesAndLeavesTheTableEmpty) {
  DropOnB(test::kSourceDatabase);
  RecordingRunContext first(CopyTask(TaskType::BackupToServer, test::kSourceDatabase,
                                     {{1, 1, test::kSourceDatabase, "items"}}));
  ASSERT_EQ(ServerCopyWorker(first), RunOutcome::Finished);

  CTaskItem task = CopyTask(TaskType::BackupToServer, test::kSourceDatabase,
                            {{1, 1, test::kSourceDatabase, "items"}});
  task.BackupSettings.IncludeStructure = 0;
  task.BackupSettings.IncludeRecords = 0;
  task.BackupSettings.AddDeleteAllRecords = 1;
  RecordingRunContext context(task);
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
  EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT COUNT(*) FROM items;", test::kSourceDatabase),
            "0\n");
  EXPECT_EQ(context.Texts(LogLevel::General).back(), "Structure option is unchecked.");
}

TEST_F(ServerCopyTest, ATableThatFailsMidRowsDoesNotLockTheNextOneOut) {
  // The destination's items has one column more, so every batch of it fails; the table
  // after it must still be copied.
  DropOnB("e2_failing");
  test::RunClient(test::ServerB(),
                  "CREATE DATABASE e2_failing; USE e2_failing;"
                  "CREATE TABLE items (id INT, name TEXT, price TEXT, note TEXT, extra INT);"
                  "CREATE TABLE `select` (`order` INT, `from` VARCHAR(10));");
  CTaskItem task =
      CopyTask(TaskType::BackupToDatabase, test::kSourceDatabase,
               {{1, 1, test::kSourceDatabase, "items"}, {1, 1, test::kSourceDatabase, "select"}});
  task.BackupSettings.DestinationDatabase = "e2_failing";
  task.BackupSettings.IncludeStructure = 0;
  task.BackupSettings.MultipleRowInsert = 1;
  RecordingRunContext context(task);
  // The run goes on to the next table but does not end as a good copy.
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Failed) << context.Dump();
  // Each entry names the server's reason after the documented text.
  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(3u, errors.size()) << context.Dump();
  EXPECT_EQ(0u, errors[0].find("Failed to insert multi-rows records to the table items! (error "));
  EXPECT_EQ(0u, errors[1].find("Failed to insert multi-row records to the table items! (error "));
  EXPECT_EQ(errors[2], "The copy is incomplete (2 errors).");
  EXPECT_EQ(errors[2], context.Lines().back().text);
  EXPECT_EQ(context.Texts(LogLevel::General).back(),
            "Backup the records from the table OK - 2 records");
  EXPECT_EQ(test::Checksum(test::ServerB(), "e2_failing", "select"),
            test::Checksum(test::ServerA(), test::kSourceDatabase, "select"));
}

TEST_F(ServerCopyTest, AStatementFailingOnTheSendingThreadIsLoggedAsOneThreadWouldLogIt) {
  // Many filled statements, each refused by the destination's extra column: the first
  // failure is met on the sending thread while the next rows are being read.
  const std::string db = "e2_fail_sent";
  FreshOnA(db,
           "CREATE TABLE t (id INT PRIMARY KEY, pad CHAR(50));"
           " INSERT INTO t SELECT seq, REPEAT('p', 50)"
           " FROM seq_1_to_2000; CREATE TABLE u (id INT);"
           " INSERT INTO u VALUES (1), (2);");
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "advanced options" : "without them");
    DropOnB(db);
    test::RunClient(test::ServerB(), "CREATE DATABASE " + db + "; USE " + db +
                                         "; CREATE TABLE t (id INT, pad CHAR(50), extra INT);"
                                         " CREATE TABLE u (id INT);");
    CTaskItem task = CopyTask(TaskType::BackupToServer, db, {{1, 1, db, "t"}, {1, 1, db, "u"}});
    task.BackupSettings.IncludeStructure = 0;
    task.BackupSettings.MultipleRowInsert = 1;
    if (fast) {
      CAdvancedOptions advanced;
      advanced.Threads = 1;
      advanced.StatementBytes = kMinStatementBytes;
      SetAdvancedOptions(task, advanced);
    }
    RecordingRunContext context(task);
    ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Failed) << context.Dump();
    const std::vector<std::string> errors = context.Errors();
    ASSERT_EQ(3u, errors.size()) << context.Dump();
    EXPECT_EQ(0u, errors[0].find("Failed to insert multi-rows records to the table t! (error 1136"))
        << errors[0];
    EXPECT_EQ(0u, errors[1].find("Failed to insert multi-row records to the table t! (error 1136"))
        << errors[1];
    EXPECT_EQ(errors[2], "The copy is incomplete (2 errors).");
    EXPECT_EQ(context.Texts(LogLevel::General).back(),
              "Backup the records from the table OK - 2 records");
    EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT COUNT(*) FROM t;", db), "0\n");
  }
  test::RunClient(test::ServerA(), "DROP DATABASE " + db + ";");
  DropOnB(db);
}

TEST_F(ServerCopyTest, StopAtEveryCheckpointCancelsTheRun) {
  const CTaskItem task =
      CopyTask(TaskType::BackupToServer, test::kSourceDatabase,
               {{1, 1, test::kSourceDatabase, "select"}, {1, 2, test::kSourceDatabase, "v_items"}});
  RecordingRunContext full(task);
  ASSERT_EQ(ServerCopyWorker(full), RunOutcome::Finished);
  const int checks = full.Checks();
  ASSERT_GT(checks, 10);
  for (int stopAt = 1; stopAt <= checks; ++stopAt) {
    SCOPED_TRACE(stopAt);
    RecordingRunContext context(task);
    context.StopAtCheck(stopAt);
    EXPECT_EQ(ServerCopyWorker(context), RunOutcome::Canceled);
    EXPECT_EQ(context.Checks(), stopAt) << "work went on after the stop was seen";
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  }
}

// The checks a table passes before its first row: one before and one after each
// source-side step, and one after its structure.
constexpr int kChecksBeforeRows = 7;

TEST_F(ServerCopyTest, LostDestinationMidTableEndsTheCopyWithOneError) {
  DropOnB("e2_killed");
  CTaskItem task =
      CopyTask(TaskType::BackupToDatabase, test::kSourceDatabase,
               {{1, 1, test::kSourceDatabase, "items"}, {1, 1, test::kSourceDatabase, "select"}});
  task.BackupSettings.DestinationDatabase = "e2_killed";
  KillingRunContext context(task, "Backing up the table e2_src.items...", kChecksBeforeRows + 10,
                            test::ServerB(), "e2_killed");
  EXPECT_EQ(ServerCopyWorker(context), RunOutcome::Failed) << context.Dump();
  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(1u, errors.size()) << context.Dump();
  EXPECT_EQ(0u, errors[0].find("Failed to insert a record to the table items! (error 20"))
      << errors[0];
  EXPECT_EQ(errors[0], context.Lines().back().text);
  for (const std::string& text : context.Texts(LogLevel::General)) {
    EXPECT_EQ(text.find("OK - "), std::string::npos) << text;
  }
}

TEST_F(ServerCopyTest, LostSourceMidTableIsNotReportedAsCopied) {
  // Large enough that the server is still sending when its session is killed.
  test::RunClient(test::ServerA(),
                  "DROP DATABASE IF EXISTS e2_big; CREATE DATABASE e2_big; USE e2_big;"
                  "CREATE TABLE big (id INT PRIMARY KEY, pad CHAR(200)) ENGINE=InnoDB;"
                  "INSERT INTO big SELECT seq, REPEAT('p', 200) FROM seq_1_to_200000;");
  DropOnB("e2_big");
  KillingRunContext context(CopyTask(TaskType::BackupToServer, "e2_big", {{1, 1, "e2_big", "big"}}),
                            "Backing up the table e2_big.big...", kChecksBeforeRows + 100,
                            test::ServerA(), "e2_big");
  EXPECT_EQ(ServerCopyWorker(context), RunOutcome::Failed) << context.Dump();
  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(1u, errors.size()) << context.Dump();
  EXPECT_EQ(0u, errors[0].find("Failed to get all records of table big ! (error ")) << errors[0];
  EXPECT_EQ(context.Texts(LogLevel::General).back(), "Backing up the table e2_big.big...");
}

TEST_F(ServerCopyTest, TwoLaneCopiesKeepEveryValueWithOrWithoutTheSnapshot) {
  // Two databases in different character sets: every lane's sessions must follow each
  // table's, as the main one's do.
  struct Case {
    const char* name;
    bool snapshot;
    std::uint8_t lockSource;
  };
  for (const Case& c : {Case{"snapshot", true, 0}, Case{"source locks, flushes", false, 1}}) {
    SCOPED_TRACE(c.name);
    DropOnB(test::kSourceDatabase);
    DropOnB(test::kLatinDatabase);
    CTaskItem task =
        CopyTask(TaskType::BackupToServer, test::kSourceDatabase, test::SourceTables());
    task.BackupDatabases.push_back(
        {1,
         test::kLatinDatabase,
         {{1, 2, test::kLatinDatabase, "marked"}, {1, 1, test::kLatinDatabase, "mixed"}}});
    task.BackupSettings.LockTablesBeforeStart = c.lockSource;
    task.BackupSettings.FlushTablesBeforeStart = c.lockSource;
    CAdvancedOptions advanced;
    advanced.ConsistentSnapshot = c.snapshot;
    advanced.StatementBytes = kMinStatementBytes;
    SetAdvancedOptions(task, advanced);
    RecordingRunContext context(task);
    ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
    test::ExpectSameSourceTables(test::kSourceDatabase);
    EXPECT_EQ(
        test::RunClient(test::ServerB(), "SELECT HEX(l), HEX(u) FROM mixed;", test::kLatinDatabase),
        "E9\tC3A920F09F9880\n");
    EXPECT_EQ(test::RunClient(test::ServerB(), "SELECT id FROM marked;", test::kLatinDatabase),
              "1\n");
  }
}

TEST_F(ServerCopyTest, FailedTablesOfATwoLaneCopyAreLoggedWhileTheOthersAreCopied) {
  // The destination login may not create items, nor write rows into select.
  const std::string db = "e2_lanes_fail";
  DropOnB(db);
  std::string grants = "CREATE DATABASE " + db +
                       "; CREATE USER IF NOT EXISTS e2_lanes@'%' IDENTIFIED BY 'lanes';"
                       " GRANT CREATE, DROP, ALTER ON " +
                       db + ".`select` TO e2_lanes@'%';";
  for (const char* table : {"alltypes", "empty_t"}) {
    grants += " GRANT ALL ON " + db + ".`" + table + "` TO e2_lanes@'%';";
  }
  test::RunClient(test::ServerB(), grants);
  std::vector<TableItem> tables = test::SourceTables();
  tables.pop_back();  // the view, which reads items
  CTaskItem task = CopyTask(TaskType::BackupToDatabase, test::kSourceDatabase, tables);
  task.DestinationServer.UserName = "e2_lanes";
  task.DestinationServer.Password = "lanes";
  task.BackupSettings.DestinationDatabase = db;
  task.BackupSettings.AddCreateDatabase = 0;
  task.BackupSettings.AddDropTable = 0;
  task.BackupSettings.AddLockTables = 0;         // a right of the whole database
  SetAdvancedOptions(task, CAdvancedOptions{});  // two tables at a time
  RecordingRunContext context(task);
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Failed) << context.Dump();

  const std::vector<std::string> errors = context.Errors();
  ASSERT_EQ(3u, errors.size()) << context.Dump();
  EXPECT_EQ(errors[2], "The copy is incomplete (2 errors).");
  const auto& lines = context.Lines();
  EXPECT_EQ(errors[2], lines.back().text);
  // Before it, one entry names what the destination is left with half done.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].text,
            "Tables left incomplete on the destination: " + db + ".items, " + db + ".select");
  EXPECT_EQ(lines[lines.size() - 2].level, LogLevel::Warning);
  // A structure's error follows its table, and each table's rows entries stay together:
  // its error or its records line follows the line that names its records.
  int failed = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    SCOPED_TRACE(lines[i].text);
    const std::string& next = lines[i + 1].text;
    if (lines[i].text == "Backing up the table e2_src.items...") {
      ++failed;
      EXPECT_EQ(0u, next.find("Failed to CREATE TABLE items on the destination server! (error "))
          << next;
    } else if (lines[i].text == "Backing up the records of the table e2_src.select...") {
      ++failed;
      EXPECT_EQ(0u, next.find("Failed to insert multi-row records to the table select! (error "))
          << next;
    } else if (lines[i].text.rfind("Backing up the records of the table ", 0) == 0) {
      EXPECT_EQ(0u, next.rfind("Backup the records from the table OK - ", 0)) << next;
    }
  }
  EXPECT_EQ(failed, 2);
  for (const char* table : {"alltypes", "empty_t"}) {
    EXPECT_EQ(test::Checksum(test::ServerB(), db, table),
              test::Checksum(test::ServerA(), test::kSourceDatabase, table))
        << table;
  }
  test::RunClient(test::ServerB(), "DROP USER e2_lanes@'%';");
  DropOnB(db);
}

// Stamps entries by a simulated clock that moves a second a row, and notes what the log
// held when the first row was copied.
class RowTimedContext : public RecordingRunContext {
 public:
  explicit RowTimedContext(CTaskItem task) : RecordingRunContext(std::move(task)) {
    SetClock(m_clock);
  }
  void ProgressAdvance(std::int64_t units, std::int64_t) override {
    if (units <= 0) return;
    if (!m_rowsBegan) {
      m_rowsBegan = true;
      logBeforeRows = Lines();
    }
    m_clock.Advance(units * 1000);
  }

  std::vector<test::LogLine> logBeforeRows;

 private:
  test::FakeClock m_clock;
  bool m_rowsBegan = false;
};

TEST_F(ServerCopyTest, ATwoLaneCopyLogsItsStructuresAtOnceAndStampsRowsWhenTheyWentIn) {
  const std::string db = "e2_lanes_times";
  FreshOnA(db,
           "CREATE TABLE a (id INT PRIMARY KEY); CREATE TABLE b (id INT PRIMARY KEY);"
           " CREATE TABLE c (id INT PRIMARY KEY);"
           " INSERT INTO a SELECT seq FROM seq_1_to_30; INSERT INTO b SELECT seq FROM seq_1_to_20;"
           " INSERT INTO c SELECT seq FROM seq_1_to_10;");
  DropOnB(db);
  CTaskItem task = CopyTask(TaskType::BackupToServer, db,
                            {{1, 1, db, "a"}, {1, 1, db, "b"}, {1, 1, db, "c"}});
  SetAdvancedOptions(task, CAdvancedOptions{});  // two tables at a time
  RowTimedContext context(task);
  ASSERT_EQ(ServerCopyWorker(context), RunOutcome::Finished) << context.Dump();

  // Every table was dropped and created on the destination before any row went in: a run
  // killed from here on has already said so.
  std::vector<std::string> announced;
  for (const test::LogLine& line : context.logBeforeRows) {
    if (line.text.rfind("Backing up the table ", 0) == 0) announced.push_back(line.text);
  }
  EXPECT_EQ(announced, (std::vector<std::string>{"Backing up the table " + db + ".a...",
                                                 "Backing up the table " + db + ".b...",
                                                 "Backing up the table " + db + ".c..."}))
      << context.Dump();

  // A table's rows took a simulated second each: its records line is stamped after the
  // line that began them, by at least its own rows.
  const auto seconds = [](const TaskDateTime& t) { return (t.Hour * 60 + t.Minute) * 60 + t.Second; };
  const auto& lines = context.Lines();
  int tables = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].text.rfind("Backing up the records of the table ", 0) != 0) continue;
    SCOPED_TRACE(lines[i].text);
    ASSERT_EQ(0u, lines[i + 1].text.rfind("Backup the records from the table OK - ", 0));
    const int rows = std::stoi(lines[i + 1].text.substr(39));
    EXPECT_GE(seconds(lines[i + 1].when) - seconds(lines[i].when), rows) << context.Dump();
    ++tables;
  }
  EXPECT_EQ(tables, 3);
  test::RunClient(test::ServerA(), "DROP DATABASE " + db + ";");
  DropOnB(db);
}

TEST_F(ServerCopyTest, AStopDuringATwoLaneCopyCancelsEveryConnectionAndLeavesNoThread) {
  const std::string db = "e2_lanes_stop";
  FreshOnA(db,
           "CREATE TABLE a (id INT PRIMARY KEY);"
           " CREATE TABLE b (id INT PRIMARY KEY);"
           " INSERT INTO a VALUES (1); INSERT INTO b VALUES (2);");
  // Another session holds both destination tables: each lane waits there for its rows
  // until the stop cancels it.
  DropOnB(db);
  test::RunClient(test::ServerB(), "CREATE DATABASE " + db + "; CREATE TABLE " + db +
                                       ".a (id INT); CREATE TABLE " + db + ".b (id INT);");
  CMySQLConnection holder;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(test::ServerB()), holder, error)) << error.Text;
  ASSERT_TRUE(holder.Execute("LOCK TABLES " + db + ".a WRITE, " + db + ".b WRITE"));

  CTaskItem task = CopyTask(TaskType::BackupToServer, db, {{1, 1, db, "a"}, {1, 1, db, "b"}});
  task.BackupSettings.IncludeStructure = 0;
  task.BackupSettings.AddCreateDatabase = 0;  // it would wait for the held tables too
  SetAdvancedOptions(task, CAdvancedOptions{});
  test::FakeRunContext context(task);
  const int threadsBefore = ThreadCount();
  std::atomic<bool> done{false};
  RunOutcome outcome = RunOutcome::Finished;
  std::thread run([&] {
    outcome = ServerCopyWorker(context);
    done = true;
  });
  const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB='" +
                              db + "' AND STATE LIKE 'Waiting for table metadata lock';";
  for (int i = 0; i < 200 && test::RunClient(test::ServerB(), waiting) != "2\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ("2\n", test::RunClient(test::ServerB(), waiting)) << "both lanes wait";
  context.RequestStop();
  context.CallCancelHook();  // what the runner does when the stop is not noticed in time
  for (int i = 0; i < 300 && !done; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const bool ended = done;
  (void)holder.Execute("UNLOCK TABLES");  // a lane the stop missed can end now
  run.join();

  EXPECT_TRUE(ended) << "a lane still waited in the destination";
  EXPECT_EQ(outcome, RunOutcome::Canceled);
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_EQ(context.Texts(LogLevel::Warning),
            std::vector<std::string>{"Tables left incomplete on the destination: " + db + ".a, " +
                                     db + ".b"})
      << context.AllText();
  EXPECT_EQ(ThreadCount(), threadsBefore);
  // Neither server keeps a session of the run.
  const std::string sessions =
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB='" + db + "';";
  EXPECT_EQ("0\n", test::RunClient(test::ServerA(), sessions));
  EXPECT_EQ("0\n", test::RunClient(test::ServerB(), sessions));
  test::RunClient(test::ServerA(), "DROP DATABASE " + db + ";");
  DropOnB(db);
}

}  // namespace
}  // namespace brevanto
