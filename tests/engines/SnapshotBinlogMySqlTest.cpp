// The binary log position a dump records is the one its snapshot saw: rows written on
// another connection while the snapshot is open are missing from the dump, and replaying
// the server's binary log from the recorded position (or GTID position) over the restored
// copy gives exactly the source's tables. Runs against the test server that writes a
// binary log.

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRun.h"
#include "engines/MySqlConnection.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerBinlog;

class SnapshotBinlogMySqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(ServerBinlog());
    const std::string pid = std::to_string(getpid());
    m_src = "binlog_src_" + pid;
    m_copies = {"binlog_pos_" + pid, "binlog_gtid_" + pid, "binlog_late_" + pid};
    Drop();
    test::RunClient(ServerBinlog(),
                    "CREATE DATABASE `" + m_src + "`; USE `" + m_src +
                        "`;"
                        "CREATE TABLE t (id INT PRIMARY KEY, n INT) ENGINE=InnoDB;"
                        "CREATE TABLE u (id INT PRIMARY KEY, note VARCHAR(20)) ENGINE=InnoDB;"
                        "CREATE TABLE w (id INT AUTO_INCREMENT PRIMARY KEY, n INT) ENGINE=InnoDB;"
                        "INSERT INTO t SELECT seq, seq FROM seq_1_to_2000;"
                        "INSERT INTO u SELECT seq, CONCAT('u', seq) FROM seq_1_to_2000;");
  }
  void TearDown() override {
    if (!m_src.empty() && test::IsReachable(ServerBinlog())) Drop();
  }
  void Drop() {
    std::string sql = "DROP DATABASE IF EXISTS `" + m_src + "`;";
    for (const std::string& copy : m_copies) sql += "DROP DATABASE IF EXISTS `" + copy + "`;";
    test::RunClient(ServerBinlog(), sql);
  }

  CMySQLConnection Connect() {
    CMySQLConnection connection;
    MySqlError error;
    EXPECT_TRUE(ConnectServer(test::AsServerInfo(ServerBinlog()), connection, error)) << error.Text;
    EXPECT_TRUE(connection.Execute("USE `" + m_src + "`"));
    return connection;
  }

  // Restores the dump into `copy`, then replays the source's binary log from `start` (a
  // position in `file`, or a GTID position) into it.
  void RestoreAndReplay(const std::vector<std::string>& files, const std::string& copy,
                        const std::string& file, const std::string& start) {
    test::RunClient(ServerBinlog(), "CREATE DATABASE `" + copy + "`;");
    for (const std::string& dump : files) {
      ASSERT_EQ(0, test::RunClientFile(ServerBinlog(), dump, copy)) << dump;
    }
    const test::TestServerInfo& server = ServerBinlog();
    const std::string replay = m_dir.file(copy + ".sql");
    const std::string command =
        "mariadb-binlog --no-defaults --read-from-remote-server --host=" + server.host +
        " --port=" + std::to_string(server.port) + " --user=" + server.user + " --password='" +
        server.password + "' --start-position='" + start + "' --to-last-log --database=" + m_src +
        " --rewrite-db='" + m_src + "->" + copy + "' '" + file + "' > '" + replay + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    // The replayed transactions keep their GTIDs: logged again, they would put the
    // server's log out of order for the next replay.
    const std::string unlogged = m_dir.file(copy + "-unlogged.sql");
    ASSERT_TRUE(test::WriteWholeFile(
        unlogged, "SET SESSION sql_log_bin = 0;\n" + test::ReadWholeFile(replay)));
    ASSERT_EQ(0, test::RunClientFile(server, unlogged));
  }

  std::string m_src;
  std::vector<std::string> m_copies;
  test::TempDir m_dir;
};

TEST_F(SnapshotBinlogMySqlTest, ReplayFromTheRecordedPositionGivesTheSourceState) {
  for (const int threads : {1, 2}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    Drop();
    SetUp();
    // A writer that never pauses, and changes made exactly while the dump runs.
    CMySQLConnection background = Connect();
    std::atomic<bool> stop{false};
    std::atomic<bool> writesFailed{false};
    std::thread writes([&] {
      while (!stop && !writesFailed) {
        writesFailed = !background.Execute("INSERT INTO w (n) VALUES (1)");
      }
    });
    CMySQLConnection writer = Connect();
    std::mutex writerLock;
    int batch = 0;

    CAdvancedOptions advanced;
    advanced.ConsistentSnapshot = true;
    advanced.Threads = threads;
    CTaskItem task;
    task.TaskName = "Binlog";
    task.SourceServer = test::AsServerInfo(ServerBinlog());
    task.BackupSettings.FileMode = 2;
    task.BackupSettings.FileGrouping = 3;
    task.BackupSettings.BackupFolder = m_dir.path() + "/" + std::to_string(threads) + "/";
    task.BackupSettings.FileNameFormat = "%DATABASE%_%TABLE%";
    task.BackupSettings.AddCreateDatabase = 0;
    DatabaseItem database;
    database.Selected = 1;
    database.DatabaseName = m_src;
    for (const char* table : {"t", "u", "w"}) database.Tables.push_back({1, 1, m_src, table});
    task.BackupDatabases = {database};
    SetAdvancedOptions(task, advanced);
    test::FakeRunContext context(task);
    context.onLog = [&](const std::string& text) {
      if (!text.starts_with("Backing up the table " + m_src + ".")) return;
      std::lock_guard lock(writerLock);
      const std::string id = std::to_string(100000 + ++batch);
      EXPECT_TRUE(writer.Execute("INSERT INTO t VALUES (" + id + ", 7)"));
      EXPECT_TRUE(writer.Execute("UPDATE t SET n = n + 1 WHERE id <= 10"));
      EXPECT_TRUE(writer.Execute("UPDATE u SET note = CONCAT(note, '+') WHERE id = 5"));
      EXPECT_TRUE(writer.Execute("DELETE FROM u WHERE id = " + std::to_string(100 + batch)));
    };
    CBackupToFilesRun run(context, m_dir.path());
    ASSERT_EQ(RunOutcome::Finished, run.Run()) << context.AllText();
    stop = true;
    writes.join();
    ASSERT_FALSE(writesFailed) << background.LastError().Text;
    ASSERT_EQ(batch, 3);
    ASSERT_EQ(context.copies.size(), 1u);
    const std::vector<std::string>& files = context.copies[0].CopyFiles;

    const CopyManifest& manifest = run.Manifest();
    EXPECT_EQ(manifest.SnapshotMode, "consistent");
    ASSERT_TRUE(manifest.Binlog) << context.AllText();
    const ManifestBinlog& binlog = *manifest.Binlog;
    EXPECT_TRUE(binlog.File.starts_with("mariadb-bin.")) << binlog.File;
    EXPECT_GT(binlog.Position, 0u);
    EXPECT_FALSE(binlog.GtidPosition.empty());

    RestoreAndReplay(files, m_copies[0], binlog.File, std::to_string(binlog.Position));
    RestoreAndReplay(files, m_copies[1], binlog.File, binlog.GtidPosition);
    // Where the log stands once the dump is done: what a position read after the snapshot
    // would be. Replaying from there loses what was written while the dump ran.
    const std::string status = test::RunClient(ServerBinlog(), "SHOW MASTER STATUS");
    const std::size_t tab = status.find('\t');
    ASSERT_NE(tab, std::string::npos) << status;
    RestoreAndReplay(files, m_copies[2], status.substr(0, tab),
                     std::to_string(std::stoull(status.substr(tab + 1))));
    for (const char* table : {"t", "u", "w"}) {
      SCOPED_TRACE(table);
      const std::string source = test::Checksum(ServerBinlog(), m_src, table);
      EXPECT_EQ(test::Checksum(ServerBinlog(), m_copies[0], table), source);
      EXPECT_EQ(test::Checksum(ServerBinlog(), m_copies[1], table), source);
      if (std::string(table) != "w") {
        EXPECT_NE(test::Checksum(ServerBinlog(), m_copies[2], table), source);
      }
    }
  }
}

}  // namespace
}  // namespace brevanto
