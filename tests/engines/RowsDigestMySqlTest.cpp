// The manifest's digests against real servers: what a dump records of its tables and
// objects is recomputed on the copy restored by the stock client into another database on
// another server, notices one changed byte, and does not depend on how many lanes read.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRun.h"
#include "engines/ContentDigest.h"
#include "engines/MySqlConnection.h"
#include "tests/engines/SourceDatabaseTest.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;
using test::ServerB;

class RowsDigestMySqlTest : public test::SourceDatabaseTest {
 protected:
  void SetUp() override {
    // A latin1 column in a utf8mb4 database is read converted; a virtual column is left
    // out; an invisible one makes the dump name its columns.
    CreateSourceDatabase(
        "h3_digest_",
        "CREATE TABLE mixed (id INT, name VARCHAR(20), latin VARCHAR(20) CHARACTER SET latin1,"
        " data VARBINARY(20), at TIMESTAMP(3) NULL, f FLOAT, d DOUBLE,"
        " twice INT AS (id * 2) VIRTUAL) ENGINE=InnoDB;"
        "INSERT INTO mixed (id, name, latin, data, at, f, d) VALUES"
        " (1, 'a\\tb', 'caf\xc3\xa9', 0x00275c0aff, '2024-03-30 02:30:00.125', 0.1, 1e300),"
        " (2, NULL, NULL, NULL, NULL, NULL, NULL), (2, NULL, NULL, NULL, NULL, NULL, NULL),"
        " (3, '', '', '', '1970-01-02 00:00:01', -1.5e-7, 3.141592653589793);"
        "CREATE TABLE hidden (id INT PRIMARY KEY, secret VARCHAR(10) INVISIBLE,"
        " stamp TIMESTAMP NULL) ENGINE=InnoDB;"
        "INSERT INTO hidden (id, secret, stamp) VALUES (1, 'x', '2001-02-03 04:05:06'),"
        " (2, NULL, NULL);"
        "CREATE VIEW v AS SELECT id, name FROM mixed;"
        "CREATE TRIGGER tr BEFORE INSERT ON hidden FOR EACH ROW SET NEW.secret = UPPER(NEW.secret);"
        "CREATE PROCEDURE p() SELECT COUNT(*) FROM mixed;"
        "CREATE EVENT ev ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00'"
        " DO DELETE FROM hidden WHERE id < 0;");
    m_copy = m_db + "_copy";
  }
  void TearDown() override {
    if (!m_copy.empty() && test::IsReachable(ServerB())) {
      test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_copy + "`;");
    }
    SourceDatabaseTest::TearDown();
  }

  CopyManifest Dump(int threads) {
    CAdvancedOptions advanced;
    advanced.ConsistentSnapshot = true;
    advanced.IncludeTriggers = true;
    advanced.IncludeRoutines = true;
    advanced.IncludeEvents = true;
    advanced.Threads = threads;
    CTaskItem task = MakeDumpTask("Digest", 3, {{"mixed", 1}, {"hidden", 1}, {"v", 2}}, &advanced);
    task.BackupSettings.AddCreateDatabase = 0;  // restored under another name
    test::FakeRunContext context(task);
    CBackupToFilesRun run(context, m_dir.path());
    EXPECT_EQ(RunOutcome::Finished, run.Run()) << context.AllText();
    if (!context.copies.empty()) m_files = context.copies[0].CopyFiles;
    return run.Manifest();
  }

  static CMySQLConnection Connect(const test::TestServerInfo& server) {
    CMySQLConnection connection;
    MySqlError error;
    EXPECT_TRUE(ConnectServer(test::AsServerInfo(server), connection, error)) << error.Text;
    return connection;
  }

  static ManifestTable Recompute(CMySQLConnection& connection, const std::string& database,
                                 const std::string& table) {
    ManifestTable out;
    const Status status = ComputeRowsDigest(connection, database, table, out);
    EXPECT_TRUE(status.ok()) << status.message();
    return out;
  }

  static std::string RecomputeDefinition(CMySQLConnection& connection, const ManifestObject& object,
                                         const std::string& database) {
    std::string digest;
    const Status status =
        ComputeDefinitionDigest(connection, object.Kind, database, object.Name, digest);
    EXPECT_TRUE(status.ok()) << status.message();
    return digest;
  }

  std::string m_copy;
  std::vector<std::string> m_files;
};

TEST_F(RowsDigestMySqlTest, TheRestoredCopyHasTheRecordedDigestsAndAChangedByteShows) {
  const CopyManifest manifest = Dump(1);
  EXPECT_EQ(manifest.SnapshotMode, "consistent");
  EXPECT_EQ(manifest.Server.Host, ServerA().host);
  EXPECT_EQ(manifest.Server.Port, static_cast<int>(ServerA().port));
  EXPECT_NE(manifest.Server.Version.find("MariaDB"), std::string::npos);
  EXPECT_FALSE(manifest.Server.Hostname.empty());
  EXPECT_FALSE(manifest.Binlog) << "server A writes no binary log";
  ASSERT_EQ(manifest.Tables.size(), 2u);
  EXPECT_EQ(manifest.Tables[0].Name, "hidden");
  EXPECT_EQ(manifest.Tables[0].Rows, 2u);
  EXPECT_EQ(manifest.Tables[1].Name, "mixed");
  EXPECT_EQ(manifest.Tables[1].Rows, 4u);
  EXPECT_EQ(manifest.Tables[1].Engine, "InnoDB");

  test::RunClient(ServerB(),
                  "DROP DATABASE IF EXISTS `" + m_copy + "`; CREATE DATABASE `" + m_copy + "`;");
  for (const std::string& file : m_files) {
    ASSERT_EQ(0, test::RunClientFile(ServerB(), file, m_copy)) << file;
  }
  CMySQLConnection source = Connect(ServerA());
  CMySQLConnection copy = Connect(ServerB());
  for (const ManifestTable& table : manifest.Tables) {
    SCOPED_TRACE(table.Name);
    EXPECT_TRUE(table.Digest.starts_with(kRowsDigestPrefix)) << table.Digest;
    const ManifestTable restored = Recompute(copy, m_copy, table.Name);
    EXPECT_EQ(restored.Digest, table.Digest);
    EXPECT_EQ(restored.Rows, table.Rows);
    EXPECT_EQ(restored.Engine, table.Engine);
    EXPECT_EQ(Recompute(source, m_db, table.Name).Digest, table.Digest);
  }

  // The definitions, as the copy shows them.
  ASSERT_EQ(manifest.Objects.size(), 4u);
  const char* const kinds[] = {"event", "procedure", "trigger", "view"};
  const char* const names[] = {"ev", "p", "tr", "v"};
  for (std::size_t i = 0; i < manifest.Objects.size(); ++i) {
    const ManifestObject& object = manifest.Objects[i];
    EXPECT_EQ(object.Kind, kinds[i]);
    EXPECT_EQ(object.Name, names[i]);
    EXPECT_EQ(object.Database, m_db);
    EXPECT_EQ(RecomputeDefinition(copy, object, m_copy), object.Digest) << object.Name;
  }
  test::RunClient(ServerB(), "CREATE OR REPLACE VIEW v AS SELECT id FROM mixed", m_copy);
  EXPECT_NE(RecomputeDefinition(copy, manifest.Objects[3], m_copy), manifest.Objects[3].Digest);

  // One byte of one value, in a binary, a converted and an invisible column in turn.
  const std::string mixed = manifest.Tables[1].Digest;
  const std::string hidden = manifest.Tables[0].Digest;
  test::RunClient(ServerB(), "UPDATE mixed SET data = 0x00275c0afe WHERE id = 1", m_copy);
  EXPECT_NE(Recompute(copy, m_copy, "mixed").Digest, mixed);
  test::RunClient(ServerB(),
                  "UPDATE mixed SET data = 0x00275c0aff WHERE id = 1;"
                  "UPDATE mixed SET latin = 'caf\xc3\xa8' WHERE id = 1",
                  m_copy);
  EXPECT_NE(Recompute(copy, m_copy, "mixed").Digest, mixed);
  test::RunClient(ServerB(), "UPDATE mixed SET latin = 'caf\xc3\xa9' WHERE id = 1", m_copy);
  EXPECT_EQ(Recompute(copy, m_copy, "mixed").Digest, mixed);
  test::RunClient(ServerB(), "UPDATE hidden SET secret = 'y' WHERE id = 1", m_copy);
  EXPECT_NE(Recompute(copy, m_copy, "hidden").Digest, hidden);
  // One of two equal rows gone.
  test::RunClient(ServerB(), "DELETE FROM mixed WHERE id = 2 LIMIT 1", m_copy);
  EXPECT_NE(Recompute(copy, m_copy, "mixed").Digest, mixed);

  // Several lanes read the same rows.
  const CopyManifest parallel = Dump(3);
  EXPECT_EQ(parallel.Tables, manifest.Tables);
  EXPECT_EQ(parallel.Objects, manifest.Objects);
}

TEST_F(RowsDigestMySqlTest, TheDocumentedExampleTable) {
  test::RunClient(
      ServerA(),
      "CREATE TABLE example (id INT, name VARCHAR(10) CHARACTER SET utf8mb4, note BLOB);"
      "INSERT INTO example VALUES (1, 'caf\xc3\xa9', NULL), (2, '', 0x00ff);",
      m_db);
  CMySQLConnection source = Connect(ServerA());
  // The session's own settings do not enter the digest, and are put back.
  ASSERT_TRUE(source.Execute("SET NAMES latin1"));
  ASSERT_TRUE(source.Execute("SET time_zone = '+05:00'"));
  const ManifestTable table = Recompute(source, m_db, "example");
  EXPECT_EQ(table.Digest, "rows-xxh3-sum128:08de09f20d6e4be1c1872fc9f0647466");
  EXPECT_EQ(table.Rows, 2u);
  ASSERT_TRUE(source.Execute("SELECT @@character_set_results, @@time_zone"));
  MySqlResult result(mysql_store_result(source.Handle()));
  MYSQL_ROW row = mysql_fetch_row(result.get());
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "latin1");
  EXPECT_STREQ(row[1], "+05:00");
}

}  // namespace
}  // namespace brevanto
