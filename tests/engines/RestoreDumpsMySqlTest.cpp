// Restores of the dumps users have: the stock dump tool's output in its common shapes and
// our own dumps of every grouping, each restored through a restore task on server B and
// compared with the original on server A.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/RestoreFilesWorker.h"
#include "tasks/AdvancedOptions.h"
#include "tests/engines/CopySourceDatabase.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/engines/RecordingRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::ServerA;
using test::ServerB;

const char* const kDb = "e2_stock";
const char* const kTables[] = {"parent", "child", "audit"};

class RestoreDumpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(ServerA());
    BREVANTO_REQUIRE_SERVER(ServerB());
  }

  // Every kind of object the stock tool dumps, and the values restores get wrong.
  static void CreateSourceDatabase() {
    test::RunClient(ServerA(), std::string("DROP DATABASE IF EXISTS ") + kDb +
                                   "; CREATE DATABASE " + kDb + " CHARACTER SET utf8mb4;");
    test::RunClient(
        ServerA(),
        "SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO';\n"
        "CREATE TABLE parent (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40),\n"
        "  born DATE, seen DATETIME, data BLOB) ENGINE=InnoDB;\n"
        "CREATE TABLE child (id INT AUTO_INCREMENT PRIMARY KEY, parent_id INT NOT NULL,\n"
        "  note TEXT, FOREIGN KEY (parent_id) REFERENCES parent (id) ON DELETE CASCADE)\n"
        "  ENGINE=InnoDB;\n"
        "CREATE TABLE audit (id INT AUTO_INCREMENT PRIMARY KEY, what VARCHAR(100));\n"
        "DELIMITER ;;\n"
        "CREATE TRIGGER parent_ai AFTER INSERT ON parent FOR EACH ROW BEGIN\n"
        "  INSERT INTO audit (what) VALUES (CONCAT('added ', NEW.name, ';'));\n"
        "END;;\n"
        "CREATE PROCEDURE count_children(IN p INT, OUT n INT)\n"
        "BEGIN\n  SELECT COUNT(*) INTO n FROM child WHERE parent_id = p;\nEND;;\n"
        "CREATE FUNCTION label(n INT) RETURNS VARCHAR(20) DETERMINISTIC\n"
        "  RETURN CONCAT('#', n, ';');;\n"
        "CREATE EVENT tidy ON SCHEDULE EVERY 1 DAY STARTS '2030-01-01 00:00:00' DISABLE\n"
        "  DO BEGIN DELETE FROM audit WHERE id < 0; DELETE FROM audit WHERE id < -1; END;;\n"
        "DELIMITER ;\n"
        "INSERT INTO parent VALUES (0, 'zero', '0000-00-00', '0000-00-00 00:00:00',\n"
        "  UNHEX('00FF0A0D5C27225C301A'));\n"
        "INSERT INTO parent (name, born, seen, data)\n"
        "  SELECT CONCAT('p', seq, ' \xF0\x9F\x98\x80 \xC3\xA4 ;'), '2000-02-29',\n"
        "    '2038-01-19 03:14:07', UNHEX(SHA2(seq, 512)) FROM seq_1_to_300;\n"
        "INSERT INTO child (parent_id, note)\n"
        "  SELECT seq % 300, CONCAT('it''s -- not a comment; /* nor this */ # ', seq)\n"
        "  FROM seq_1_to_600;\n"
        "CREATE VIEW v1 AS SELECT id, name FROM parent WHERE id % 2 = 0;\n"
        "CREATE VIEW v2 AS SELECT COUNT(*) AS n FROM v1;\n",
        kDb);
  }

  // Runs the stock dump tool against server A with `options`; false when it failed.
  bool StockDump(const std::string& options, const std::string& output) {
    const test::TestServerInfo& a = ServerA();
    const std::string command = "mariadb-dump --no-defaults --protocol=TCP --host=" + a.host +
                                " --port=" + std::to_string(a.port) + " --user=" + a.user +
                                " --password=" + a.password + " " + options + " > '" + output +
                                "' 2> '" + m_dir.file("dump-errors.txt") + "'";
    const bool ok = std::system(command.c_str()) == 0;
    EXPECT_TRUE(ok) << command << "\n" << test::ReadWholeFile(m_dir.file("dump-errors.txt"));
    return ok;
  }

  // One restore run of `paths` on B that must end "Finished" without an error entry; with
  // the advanced options when given (statements read ahead, a transaction per table).
  static void RestoreCleanly(const std::vector<std::string>& paths,
                             const CAdvancedOptions* advanced = nullptr) {
    CTaskItem task;
    task.TaskType = static_cast<std::uint8_t>(TaskType::RestoreFromFiles);
    task.DestinationServer = test::AsServerInfo(ServerB());
    for (const std::string& path : paths) task.RestoreFiles.push_back({0, path, path, 0, {}});
    if (advanced != nullptr) SetAdvancedOptions(task, *advanced);
    test::RecordingRunContext context(task);
    EXPECT_EQ(RestoreFilesWorker(context), RunOutcome::Finished) << context.Dump();
    EXPECT_TRUE(context.Errors().empty()) << context.Dump();
  }

  static std::string Both(const std::string& sql, bool a) {
    return test::RunClient(a ? ServerA() : ServerB(), sql, kDb);
  }

  // SHOW CREATE TRIGGER ends in the time the trigger was created.
  static std::string WithoutCreatedTime(const std::string& row) {
    if (row.rfind("parent_ai\t", 0) != 0) return row;
    return row.substr(0, row.rfind('\t'));
  }

  static void ExpectSameDatabase(bool withData) {
    for (const char* table : kTables) {
      SCOPED_TRACE(table);
      EXPECT_EQ(Both(std::string("SHOW CREATE TABLE ") + table, false),
                Both(std::string("SHOW CREATE TABLE ") + table, true));
      if (withData) {
        EXPECT_EQ(test::Checksum(ServerB(), kDb, table), test::Checksum(ServerA(), kDb, table));
        const std::string count = std::string("SELECT COUNT(*) FROM ") + table;
        EXPECT_EQ(Both(count, false), Both(count, true));
      }
    }
    for (const char* show :
         {"SHOW CREATE TRIGGER parent_ai", "SHOW CREATE PROCEDURE count_children",
          "SHOW CREATE FUNCTION label", "SHOW CREATE EVENT tidy", "SHOW CREATE VIEW v1",
          "SHOW CREATE VIEW v2"}) {
      SCOPED_TRACE(show);
      EXPECT_EQ(WithoutCreatedTime(Both(show, false)), WithoutCreatedTime(Both(show, true)));
    }
    if (!withData) return;
    EXPECT_EQ(Both("SELECT id, HEX(data), born, seen FROM parent WHERE id = 0", false),
              "0\t00FF0A0D5C27225C301A\t0000-00-00\t0000-00-00 00:00:00\n");
    EXPECT_EQ(Both("SELECT n FROM v2", false), Both("SELECT n FROM v2", true));
    EXPECT_EQ(Both("SELECT label(7)", false), "#7;\n");
  }

  test::TempDir m_dir;
};

TEST_F(RestoreDumpsTest, StockDumpsRestoreIdentically) {
  CreateSourceDatabase();
  const std::string common = "--routines --triggers --events --databases e2_stock";
  const char* const shapes[] = {"", "--single-transaction --skip-extended-insert",
                                "--skip-opt --add-drop-table --create-options --quick"};
  const CAdvancedOptions advanced;
  for (const char* shape : shapes) {
    SCOPED_TRACE(shape);
    const std::string dump = m_dir.file("stock.sql");
    ASSERT_TRUE(StockDump(std::string(shape) + " " + common, dump));
    for (const CAdvancedOptions* options :
         {static_cast<const CAdvancedOptions*>(nullptr), &advanced}) {
      SCOPED_TRACE(options != nullptr ? "advanced" : "legacy");
      test::RunClient(ServerB(), std::string("DROP DATABASE IF EXISTS ") + kDb);
      RestoreCleanly({dump}, options);
      ExpectSameDatabase(true);
    }
  }
}

TEST_F(RestoreDumpsTest, StockTabSchemaFilesRestore) {
  CreateSourceDatabase();
  // The server writes the .txt data files, so the folder is its own files/ folder.
  const std::string folder = ServerA().basedir + "/files/e2_stock_tab/";
  ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()), 0);
  ASSERT_TRUE(StockDump("--routines --triggers --events --tab=" + folder + " e2_stock",
                        m_dir.file("tab.out")));
  std::vector<std::string> files;
  for (const char* name : {"audit", "child", "parent", "v1", "v2"}) {
    files.push_back(folder + name + ".sql");
  }
  test::RunClient(ServerB(), std::string("DROP DATABASE IF EXISTS ") + kDb + "; CREATE DATABASE " +
                                 kDb + " CHARACTER SET utf8mb4;");
  // The schema files name no database and leave foreign-key checks on, so a first file
  // sets both: files of one run share the session, as one piped stream would.
  test::TempDir use;
  ASSERT_TRUE(
      test::WriteWholeFile(use.file("use.sql"), "USE e2_stock;\nSET FOREIGN_KEY_CHECKS = 0;\n"));
  files.insert(files.begin(), use.file("use.sql"));
  RestoreCleanly(files);
  for (const char* table : kTables) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Both(std::string("SHOW CREATE TABLE ") + table, false),
              Both(std::string("SHOW CREATE TABLE ") + table, true));
  }
  EXPECT_EQ(WithoutCreatedTime(Both("SHOW CREATE TRIGGER parent_ai", false)),
            WithoutCreatedTime(Both("SHOW CREATE TRIGGER parent_ai", true)));
  EXPECT_EQ(Both("SHOW CREATE VIEW v2", false), Both("SHOW CREATE VIEW v2", true));
  EXPECT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
}

TEST_F(RestoreDumpsTest, OurDumpsOfEveryGroupingRestoreInNameOrder) {
  ASSERT_TRUE(test::EnsureSourceDatabases());
  for (std::uint8_t grouping : {1, 2, 3}) {
    SCOPED_TRACE(static_cast<int>(grouping));
    test::TempDir folder;
    CTaskItem backup;
    backup.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    backup.SourceServer = test::AsServerInfo(ServerA());
    backup.BackupDatabases.push_back({1, test::kSourceDatabase, test::SourceTables()});
    backup.BackupSettings.FileMode = 2;
    backup.BackupSettings.FileGrouping = grouping;
    backup.BackupSettings.BackupFolder = folder.path();
    backup.BackupSettings.FileNameFormat = grouping == 3 ? "%TABLE%" : "%DATABASE%";
    test::FakeRunContext dump(backup);
    ASSERT_EQ(RunBackupToFiles(dump, folder.path()), RunOutcome::Finished);
    ASSERT_EQ(dump.copies.size(), 1u);
    std::vector<std::string> files = dump.copies[0].CopyFiles;
    std::sort(files.begin(), files.end());

    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS e2_src;");
    RestoreCleanly(files);
    test::ExpectSameSourceTables(test::kSourceDatabase);
  }
}

}  // namespace
}  // namespace brevanto
