// Restores of our own file sets several files at a time, each file read ahead on a thread
// of its own: a stop, a bad statement and a damaged compressed file must end the run the
// way a one-file-at-a-time restore would, with every session and thread gone.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/ProcessThreads.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ThreadCount;
using test::ServerA;
using test::ServerB;

class ParallelRestoreMySqlTest : public test::SourceDatabaseTest {
 protected:
  // A file that starts as our dumps do, so a set of them restores in parallel.
  std::string WriteOwnFile(const std::string& name, const std::string& body) {
    const std::string path = m_dir.file(name);
    EXPECT_TRUE(test::WriteWholeFile(path, "-- Brevanto test file\n" + body));
    return path;
  }

  CTaskItem RestoreTask(const std::vector<std::string>& files) {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
    task.DestinationServer = test::AsServerInfo(ServerB());
    for (const std::string& file : files) task.RestoreFiles.push_back({0, file, file, 0, {}});
    CAdvancedOptions advanced;
    advanced.Threads = 2;
    SetAdvancedOptions(task, advanced);
    return task;
  }

  std::string OnB(const std::string& sql) { return test::RunClient(ServerB(), sql, m_db); }
};

TEST_F(ParallelRestoreMySqlTest, StopCancelsEveryLaneAndLeavesNoThread) {
  CreateSourceDatabase("e2_pstop_", "");
  const std::string head = "CREATE DATABASE IF NOT EXISTS `" + m_db + "`;\nUSE `" + m_db + "`;\n";
  // Each lane waits in the server; a sleep that ends by itself inserts its row.
  const std::string first = WriteOwnFile(
      "first.sql", head +
                       "CREATE TABLE IF NOT EXISTS marks (a INT);\n"
                       "INSERT INTO marks SELECT SLEEP(120);\nCREATE TABLE after1 (a INT);\n");
  const std::string second = WriteOwnFile(
      "second.sql", head +
                        "CREATE TABLE IF NOT EXISTS marks (a INT);\n"
                        "INSERT INTO marks SELECT SLEEP(120);\nCREATE TABLE after2 (a INT);\n");
  // The smallest file, so the lanes take it last.
  const std::string third = WriteOwnFile("third.sql", head + "CREATE TABLE t3 (a INT);\n");
  FakeRunContext context(RestoreTask({first, second, third}));
  const int threadsBefore = ThreadCount();

  const std::string sleeping =
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE 'INSERT INTO marks "
      "SELECT SLEEP%';";
  std::thread stopper([&] {
    for (int i = 0; i < 600 && test::RunClient(ServerB(), sleeping) != "2\n"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // What the runner does: ask, then cancel the sessions of a run that does not notice.
    context.RequestStop();
    context.CallCancelHook();
  });
  const RunOutcome outcome = RestoreFilesWorker(context);
  stopper.join();

  EXPECT_EQ(outcome, RunOutcome::Canceled) << context.AllText();
  // The cancelled statements are the stop's doing, not errors of the files.
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_EQ(ThreadCount(), threadsBefore);
  for (int i = 0; i < 300 && test::RunClient(ServerB(), sleeping) != "0\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(test::RunClient(ServerB(), sleeping), "0\n");
  EXPECT_EQ(OnB("SELECT COUNT(*) FROM marks;"), "0\n");
  EXPECT_EQ(OnB("SHOW TABLES;"), "marks\n");
}

TEST_F(ParallelRestoreMySqlTest, BadStatementInOneFileIsLoggedWholeAndTheOthersLoad) {
  CreateSourceDatabase("e2_perr_", "");
  const std::string head = "CREATE DATABASE IF NOT EXISTS `" + m_db + "`;\nUSE `" + m_db + "`;\n";
  std::string rows;
  for (int i = 1; i <= 2000; ++i) rows += "INSERT INTO a VALUES (" + std::to_string(i) + ");\n";
  const std::string files[] = {
      WriteOwnFile("a.sql", head + "CREATE TABLE a (id INT PRIMARY KEY);\n" + rows),
      WriteOwnFile("b.sql", head + "CREATE TABLE b (id INT PRIMARY KEY);\n"
                                   "INSERT INTO b VALUES (1);\nINSERT INTO nowhere VALUES (1);\n"
                                   "INSERT INTO b VALUES (2);\n"),
      WriteOwnFile("c.sql", head + "CREATE TABLE c (id INT);\nINSERT INTO c VALUES (1);\n"),
  };
  const std::string error =
      "Failed to execute the SQL statement: INSERT INTO nowhere VALUES (1) "
      "(error 1146: Table '" +
      m_db + ".nowhere' doesn't exist)";
  for (std::uint8_t continueOnSql : {1, 0}) {
    SCOPED_TRACE(static_cast<int>(continueOnSql));
    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    CTaskItem task = RestoreTask({files[0], files[1], files[2]});
    task.RestoreOptions.ContinueOnSqlError = continueOnSql;
    FakeRunContext context(task);
    const RunOutcome outcome = RestoreFilesWorker(context);
    EXPECT_EQ(context.Texts(LogLevel::Error), std::vector<std::string>{error});
    if (continueOnSql == 0) {
      EXPECT_EQ(outcome, RunOutcome::Failed);
      continue;
    }
    EXPECT_EQ(outcome, RunOutcome::Finished) << context.AllText();
    EXPECT_EQ(OnB("SELECT COUNT(*), SUM(id) FROM a;"), "2000\t2001000\n");
    EXPECT_EQ(OnB("SELECT id FROM b ORDER BY id;"), "1\n2\n");
    EXPECT_EQ(OnB("SELECT id FROM c;"), "1\n");
  }
}

TEST_F(ParallelRestoreMySqlTest, TruncatedCompressedFileIsAnErrorWhileTheOtherFileLoads) {
  CreateSourceDatabase("e2_ptrunc_",
                       "CREATE TABLE big (id INT PRIMARY KEY, v TEXT) ENGINE=InnoDB;"
                       "INSERT INTO big SELECT seq, REPEAT(MD5(seq), 4) FROM seq_1_to_20000;"
                       "CREATE TABLE small (id INT PRIMARY KEY) ENGINE=InnoDB;"
                       "INSERT INTO small SELECT seq FROM seq_1_to_100;");
  CAdvancedOptions advanced;
  advanced.Compression = Compression::Zstd;
  advanced.StatementBytes = 16 * 1024;  // many statements, so the cut falls between some
  FakeRunContext dump(MakeDumpTask("Parallel", 3, {{"big", 1}, {"small", 1}}, &advanced));
  ASSERT_EQ(RunBackupToFiles(dump, m_dir.path()), RunOutcome::Finished) << dump.AllText();
  ASSERT_EQ(dump.copies.size(), 1u);
  std::vector<std::string> files = dump.copies[0].CopyFiles;
  ASSERT_EQ(files.size(), 2u);
  std::sort(files.begin(), files.end());
  const std::string& big = files[0];
  ASSERT_NE(big.find("_big"), std::string::npos) << big;
  std::filesystem::resize_file(big, std::filesystem::file_size(big) / 2);

  for (std::uint8_t continueOnFile : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(continueOnFile));
    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    CTaskItem task = RestoreTask(files);
    task.RestoreOptions.ContinueOnFileError = continueOnFile;
    FakeRunContext context(task);
    EXPECT_EQ(RestoreFilesWorker(context),
              continueOnFile ? RunOutcome::Finished : RunOutcome::Failed);
    const std::vector<std::string> errors = context.Texts(LogLevel::Error);
    ASSERT_EQ(errors.size(), 1u) << context.AllText();
    const std::string prefix = "Failed to get a SQL statement from the SQL file! " + big + ": ";
    const std::string suffix = "reading failed: the zstd data ends early (the file is truncated)";
    EXPECT_EQ(errors[0].rfind(prefix, 0), 0u) << errors[0];
    EXPECT_TRUE(errors[0].ends_with(suffix)) << errors[0];
    // The whole statements before the cut are in, the one it broke is not.
    const std::string loaded = OnB("SELECT COUNT(*) > 0 AND COUNT(*) < 20000 FROM big;");
    EXPECT_EQ(loaded, "1\n");
    EXPECT_EQ(test::Checksum(ServerB(), m_db, "small"), test::Checksum(ServerA(), m_db, "small"));
  }
}

TEST_F(ParallelRestoreMySqlTest, AFileLockingItsTableLoadsWhileAnotherFileAddsAForeignKeyToIt) {
  CreateSourceDatabase("e2_plock_", "");
  const std::string head = "CREATE DATABASE IF NOT EXISTS `" + m_db + "`;\nUSE `" + m_db + "`;\n";
  // The parent's file holds its table locked while the child's file creates a table
  // referencing it: the server then wants the child locked too for the parent's rows.
  std::string rows;
  for (int i = 1; i <= 200; ++i) rows += "INSERT INTO parent VALUES (" + std::to_string(i) + ");\n";
  const std::string parent = WriteOwnFile(
      "parent.sql", head + "CREATE TABLE parent (id INT PRIMARY KEY) ENGINE=InnoDB;\n"
                           "LOCK TABLES parent WRITE;\nDO SLEEP(2);\n" + rows +
                           "UNLOCK TABLES;\n");
  const std::string child = WriteOwnFile(
      "child.sql", head + "DO SLEEP(1);\nCREATE TABLE child (id INT PRIMARY KEY, parent_id INT,"
                          " FOREIGN KEY (parent_id) REFERENCES parent (id)) ENGINE=InnoDB;\n"
                          "INSERT INTO child VALUES (1, 1);\n");
  FakeRunContext context(RestoreTask({parent, child}));
  EXPECT_EQ(RunOutcome::Finished, RestoreFilesWorker(context)) << context.AllText();
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_EQ(OnB("SELECT COUNT(*) FROM parent;"), "200\n");
  EXPECT_EQ(OnB("SELECT COUNT(*) FROM child;"), "1\n");
}

TEST_F(ParallelRestoreMySqlTest, AViewsPlaceholderPutBackByAnotherLaneGivesWayToTheView) {
  CreateSourceDatabase("e2_pview_", "");
  const std::string head = "CREATE DATABASE IF NOT EXISTS `" + m_db + "`;\nUSE `" + m_db + "`;\n";
  // As a per-table set does: the views' file drops the placeholder and creates the view,
  // while the view's own file (on the other lane) creates its placeholder in between.
  const std::string views =
      WriteOwnFile("views.sql", head +
                                    "CREATE TABLE t (id INT);\nINSERT INTO t VALUES (1),(2);\n"
                                    "DROP TABLE IF EXISTS v;\nDO SLEEP(1.5);\n"
                                    "CREATE VIEW v AS SELECT id FROM t;\n");
  const std::string placeholder =
      WriteOwnFile("v.sql", head + "DO SLEEP(0.5);\nCREATE TABLE IF NOT EXISTS v (id INT);\n");
  FakeRunContext context(RestoreTask({views, placeholder}));
  EXPECT_EQ(RunOutcome::Finished, RestoreFilesWorker(context)) << context.AllText();
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_EQ(OnB("SELECT TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA=DATABASE() "
                "AND TABLE_NAME='v';"),
            "VIEW\n");
  EXPECT_EQ(OnB("SELECT SUM(id) FROM v;"), "3\n");
}

}  // namespace
}  // namespace brevanto
