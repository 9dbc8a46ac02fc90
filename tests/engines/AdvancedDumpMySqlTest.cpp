// Dumps with the advanced options against real servers: compressed files restore through
// the stock decompressors and client, and a consistent dump taken while rows are written
// holds no child without its parent, read by one connection or several.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/ProcessThreads.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;
using test::ServerB;

class AdvancedDumpMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    CreateSourceDatabase(
        "e14_advanced_",
        "CREATE TABLE parent (id INT PRIMARY KEY, note TEXT) ENGINE=InnoDB;"
        "CREATE TABLE child (id INT AUTO_INCREMENT PRIMARY KEY, parent_id INT NOT NULL,"
        " FOREIGN KEY (parent_id) REFERENCES parent (id)) ENGINE=InnoDB;"
        "INSERT INTO parent SELECT seq, REPEAT('x', seq % 300) FROM seq_1_to_3000;"
        "INSERT INTO child (parent_id) SELECT id FROM parent;");
  }

  CTaskItem MakeTask(std::uint8_t grouping, const CAdvancedOptions& advanced) {
    return MakeDumpTask("Advanced", grouping, {{"parent", 1}, {"child", 1}}, &advanced);
  }

  std::vector<std::string> Dump(const CTaskItem& task, FakeRunContext& context) {
    EXPECT_EQ(RunOutcome::Finished, RunBackupToFiles(context, m_dir.path())) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    return context.copies.empty() ? std::vector<std::string>() : context.copies[0].CopyFiles;
  }

  void ExpectSameTables() {
    for (const char* table : {"parent", "child"}) {
      EXPECT_EQ(test::Checksum(ServerA(), m_db, table), test::Checksum(ServerB(), m_db, table))
          << table;
    }
  }

  std::string Orphans(const test::TestServerInfo& server) {
    return test::RunClient(server,
                           "SELECT COUNT(*) FROM child LEFT JOIN parent ON parent.id = "
                           "child.parent_id WHERE parent.id IS NULL",
                           m_db);
  }

};

TEST_F(AdvancedDumpMySqlTest, CompressedDumpsRestoreThroughTheStockTools) {
  struct Case {
    Compression compression;
    std::uint8_t grouping;
    const char* suffix;
    const char* magic;
    const char* decompressor;
  };
  const Case cases[] = {{Compression::Gzip, 2, ".sql.gz", "\x1f\x8b", "zcat"},
                        {Compression::Zstd, 3, ".sql.zst", "\x28\xb5\x2f\xfd", "zstdcat"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.suffix);
    CAdvancedOptions advanced;
    advanced.Compression = c.compression;
    const CTaskItem task = MakeTask(c.grouping, advanced);
    FakeRunContext context(task);
    const std::vector<std::string> files = Dump(task, context);
    ASSERT_EQ(files.size(), c.grouping == 3 ? 2u : 1u);
    std::vector<std::string> plain;
    for (const std::string& file : files) {
      ASSERT_TRUE(file.ends_with(c.suffix)) << file;
      EXPECT_EQ(test::ReadWholeFile(file).substr(0, std::string(c.magic).size()), c.magic);
      const std::string out = file + ".plain";
      ASSERT_EQ(0, std::system((std::string(c.decompressor) + " '" + file + "' > '" + out + "'").c_str()));
      plain.push_back(out);
    }
    RestoreWithClient(plain);
    ExpectSameTables();

    // Our own restore reads the compressed files as they are.
    RestoreWithOurs(files);
    ExpectSameTables();
  }
}

TEST_F(AdvancedDumpMySqlTest, ConsistentDumpUnderWritesLeavesNoOrphans) {
  // The writers add a parent and its child in one transaction, over and over; one more
  // pair lands exactly between the dump of the parent table and the child table.
  CMySQLConnection writer;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), writer, error)) << error.Text;
  ASSERT_TRUE(writer.Execute("USE `" + m_db + "`"));
  std::atomic<bool> stop{false};
  std::atomic<int> nextId{100000};
  std::atomic<int> committed{0};
  // The dump's table locks make a writer wait or deadlock now and then: such a pair is
  // rolled back and tried again; any other failure is one.
  auto addPair = [&](CMySQLConnection& connection) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string id = std::to_string(nextId++);
      if (connection.Execute("START TRANSACTION") &&
          connection.Execute("INSERT INTO parent VALUES (" + id + ", 'new')") &&
          connection.Execute("INSERT INTO child (parent_id) VALUES (" + id + ")") &&
          connection.Execute("COMMIT")) {
        ++committed;
        return true;
      }
      const unsigned int number = connection.LastError().Number;
      (void)connection.Execute("ROLLBACK");
      if (number != 1205 && number != 1213) return false;
    }
    return false;
  };
  CMySQLConnection background;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), background, error)) << error.Text;
  ASSERT_TRUE(background.Execute("USE `" + m_db + "`"));
  std::atomic<bool> writesFailed{false};
  std::thread writes([&] {
    while (!stop && !writesFailed) writesFailed = !addPair(background);
  });

  struct Pass {
    bool consistent;
    std::uint8_t grouping;
    int threads;
  };
  for (const Pass pass : {Pass{true, 1, 1}, Pass{true, 3, 2}, Pass{false, 1, 1}}) {
    SCOPED_TRACE(std::string(pass.consistent ? "consistent" : "without the snapshot") +
                 ", threads " + std::to_string(pass.threads));
    CAdvancedOptions advanced;
    advanced.ConsistentSnapshot = pass.consistent;
    advanced.Threads = pass.threads;
    const CTaskItem task = MakeTask(pass.grouping, advanced);
    FakeRunContext context(task);
    context.onLog = [&](const std::string& text) {
      if (text == "Backing up the table " + m_db + ".child...") {
        ASSERT_TRUE(addPair(writer));
      }
    };
    const std::vector<std::string> files = Dump(task, context);
    RestoreWithClient(files);
    if (pass.consistent) {
      EXPECT_EQ("0\n", Orphans(ServerB()));
      EXPECT_EQ(test::RunClient(ServerB(), "SELECT COUNT(*) FROM parent", m_db),
                test::RunClient(ServerB(), "SELECT COUNT(*) FROM child", m_db));
    } else {
      // The check above would catch a dump that reads tables one after another.
      EXPECT_NE("0\n", Orphans(ServerB()));
    }
  }
  stop = true;
  writes.join();
  EXPECT_FALSE(writesFailed) << background.LastError().Text;
  EXPECT_EQ("0\n", Orphans(ServerA()));
  EXPECT_EQ(std::to_string(3000 + committed) + "\n",
            test::RunClient(ServerA(), "SELECT COUNT(*) FROM parent", m_db));
}

TEST_F(AdvancedDumpMySqlTest, StopCancelsEveryLaneOfAParallelDump) {
  // Another session holds both tables, so each lane waits in the server for its table.
  CMySQLConnection holder;
  MySqlError error;
  ASSERT_TRUE(ConnectServer(test::AsServerInfo(ServerA()), holder, error)) << error.Text;
  ASSERT_TRUE(holder.Execute("LOCK TABLES " + m_db + ".parent WRITE, " + m_db + ".child WRITE"));
  CAdvancedOptions advanced;
  advanced.Threads = 2;
  advanced.ConsistentSnapshot = false;  // its global read lock would wait on one connection only
  const CTaskItem task = MakeTask(3, advanced);
  FakeRunContext context(task);
  const int threadsBefore = test::ThreadCount();
  const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '" +
                              m_db + "' AND STATE LIKE 'Waiting for table%';";
  std::thread stopper([&] {
    for (int i = 0; i < 400 && test::RunClient(ServerA(), waiting) != "2\n"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // What the runner does: ask, then cancel the sessions of a run that does not notice.
    context.RequestStop();
    context.CallCancelHook();
  });
  const RunOutcome outcome = RunBackupToFiles(context, m_dir.path());
  stopper.join();
  holder.Close();

  EXPECT_EQ(RunOutcome::Canceled, outcome) << context.AllText();
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  EXPECT_TRUE(context.copies.empty());
  EXPECT_EQ(test::ThreadCount(), threadsBefore);
  EXPECT_EQ("0\n", test::RunClient(ServerA(), waiting));
  // Nothing looks like a complete backup.
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
    EXPECT_FALSE(entry.path().string().ends_with(".sql")) << entry.path();
  }
}

}  // namespace
}  // namespace brevanto
