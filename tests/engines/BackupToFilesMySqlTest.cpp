// The BackupToFiles run against real servers: every grouping and file mode restores to
// identical tables, the example file comes out byte for byte, and every failure the run
// can meet gives its log entry without losing what was written.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"
#include "tests/engines/FakeRunContext.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace brevanto {
namespace {

using test::FakeRunContext;
using test::ServerA;
using test::ServerB;

const std::vector<std::string> kFixtureTables = {"alltypes", "empty table", "order items",
                                                 "odd`name"};

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::vector<std::string> Lines(const std::string& text, const std::string& eol = "\r\n") {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(eol, start)) != std::string::npos;
       start = end + eol.size()) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  for (const auto& t : texts) {
    if (t == text) return true;
  }
  return false;
}

class BackupToFilesMySqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BREVANTO_REQUIRE_SERVER(ServerA());
    BREVANTO_REQUIRE_SERVER(ServerB());
    const std::string suffix = std::to_string(getpid());
    m_db = "e1_dump_" + suffix;
    m_latinDb = "e1_latin_" + suffix;
    for (const auto* server : {&ServerA(), &ServerB()}) {
      test::RunClient(*server, "DROP DATABASE IF EXISTS `" + m_db + "`; DROP DATABASE IF EXISTS `" +
                                   m_latinDb + "`;");
    }
    test::RunClient(ServerA(), "CREATE DATABASE `" + m_db + "`; CREATE DATABASE `" + m_latinDb +
                                   "` DEFAULT CHARACTER SET latin1;");
    ASSERT_EQ(0, test::RunClientFile(ServerA(),
                                     std::string(BREVANTO_TEST_DATA_DIR) + "/alltypes.sql", m_db));
    // A latin1 database whose table holds text latin1 cannot: it must survive the dump.
    test::RunClient(ServerA(),
                    "CREATE TABLE mixed (id INT PRIMARY KEY, wide VARCHAR(20) CHARACTER SET "
                    "utf8mb4, narrow VARCHAR(20)) ENGINE=InnoDB;"
                    "INSERT INTO mixed VALUES (1, CONCAT('smile ', _utf8mb4 0xF09F9880), "
                    "CONCAT('caf', _latin1 0xE9)), (2, NULL, '');"
                    // SELECT * leaves out an invisible column: its value, not the
                    // default, must come back.
                    "CREATE TABLE plain (id INT PRIMARY KEY, hidden INT INVISIBLE DEFAULT 5, "
                    "t VARCHAR(10)) ENGINE=InnoDB;"
                    "INSERT INTO plain (id, hidden, t) VALUES (1, 9, _latin1 0xE9);",
                    m_latinDb);
  }

  void TearDown() override {
    if (m_db.empty() || !test::IsReachable(ServerA())) return;
    for (const auto* server : {&ServerA(), &ServerB()}) {
      test::RunClient(*server, "DROP DATABASE IF EXISTS `" + m_db + "`; DROP DATABASE IF EXISTS `" +
                                   m_latinDb + "`;");
    }
  }

  DatabaseItem Selection(const std::string& database, const std::vector<std::string>& tables,
                         const std::vector<std::string>& views = {}) {
    DatabaseItem item;
    item.Selected = 1;
    item.DatabaseName = database;
    for (const auto& t : tables) item.Tables.push_back({1, 1, database, t});
    for (const auto& v : views) item.Tables.push_back({1, 2, database, v});
    return item;
  }

  CTaskItem MakeTask(std::uint8_t fileMode, std::uint8_t grouping) {
    CTaskItem task;
    task.TaskName = "Nightly";
    task.SourceServer = test::AsServerInfo(ServerA());
    task.BackupSettings.FileMode = fileMode;
    task.BackupSettings.FileGrouping = grouping;
    task.BackupSettings.SameFilePath = m_dir.file("same.sql");
    task.BackupSettings.BackupFolder = m_dir.path() + "out/";
    task.BackupSettings.FileNameFormat = grouping == 3   ? "%DATABASE%_%TABLE%"
                                         : grouping == 2 ? "%DATABASE%"
                                                         : "all";
    task.BackupDatabases = {Selection(m_db, kFixtureTables, {"alltypes_view"}),
                            Selection(m_latinDb, {"mixed", "plain"})};
    return task;
  }

  // Restores every file on server B and compares each table with its original (all the
  // fixture's tables, or those of `only`).
  void ExpectRestoresIdentically(const std::vector<std::string>& files,
                                 const std::string& only = "") {
    for (const auto& db : {m_db, m_latinDb}) {
      test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + db + "`;");
    }
    for (const auto& file : files) {
      ASSERT_EQ(0, test::RunClientFile(ServerB(), file)) << file;
    }
    std::vector<std::pair<std::string, std::string>> tables;
    for (const auto& t : kFixtureTables) tables.emplace_back(m_db, t);
    tables.emplace_back(m_latinDb, "mixed");
    tables.emplace_back(m_latinDb, "plain");
    for (const auto& [db, table] : tables) {
      if (!only.empty() && db != only) continue;
      SCOPED_TRACE(db + "." + table);
      const std::string original = test::Checksum(ServerA(), db, table);
      ASSERT_NE("NULL", original);
      EXPECT_EQ(original, test::Checksum(ServerB(), db, table));
      const std::string count = "SELECT COUNT(*) FROM `" + db + "`.`" +
                                (table == "odd`name" ? std::string("odd``name") : table) + "`;";
      EXPECT_EQ(test::RunClient(ServerA(), count), test::RunClient(ServerB(), count));
    }
    const std::string hidden = "SELECT id, hidden, HEX(t) FROM `" + m_latinDb + "`.plain;";
    EXPECT_EQ(test::RunClient(ServerA(), hidden), test::RunClient(ServerB(), hidden));
    if (!only.empty() && only != m_db) return;
    // The view came back as a view with the same rows.
    const std::string view = "SELECT COUNT(*), SUM(id) FROM `" + m_db + "`.`alltypes_view`;";
    EXPECT_EQ(test::RunClient(ServerA(), view), test::RunClient(ServerB(), view));
  }

  RunOutcome Run(FakeRunContext& context) { return RunBackupToFiles(context, m_dir.path()); }

  test::TempDir m_dir;
  std::string m_db;
  std::string m_latinDb;
};

TEST_F(BackupToFilesMySqlTest, EveryGroupingAndStatementOptionRestoresIdentically) {
  struct Case {
    const char* name;
    std::uint8_t fileMode, grouping;
    void (*adjust)(BackupSettings&);
    std::size_t files;
  };
  const Case cases[] = {
      {"same file, defaults", 1, 3, [](BackupSettings&) {}, 1},
      {"one file, defaults", 2, 1, [](BackupSettings&) {}, 1},
      {"per database, defaults", 2, 2, [](BackupSettings&) {}, 2},
      {"per table, defaults", 2, 3, [](BackupSettings&) {}, 7},
      {"one file, every statement option", 2, 1,
       [](BackupSettings& s) {
         s.MultipleRowInsert = 1;
         s.CompleteInsert = 1;
         s.AddDeleteAllRecords = 1;
         s.AddSetAutocommit = 1;
         s.UnixLineEnds = 1;
         s.FlushLogsBeforeStart = 1;
         s.CreateDateTimeSubfolder = 1;
         s.InsertDelayed = 1;
       },
       1},
      {"per table, REPLACE IGNORE without keys or locks", 2, 3,
       [](BackupSettings& s) {
         s.UseReplace = 1;
         s.InsertIgnore = 1;
         s.InsertDelayed = 1;
         s.AddDisableKeys = 0;
         s.AddLockTables = 0;
         s.LockTablesBeforeStart = 0;
         s.FlushTablesBeforeStart = 0;
         s.AddSetForeignKeyChecks = 0;
         s.AddSetUniqueChecks = 0;
         s.AddSetSqlNotes = 0;
       },
       7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = MakeTask(c.fileMode, c.grouping);
    c.adjust(task.BackupSettings);
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, Run(context)) << context.AllText();
    EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
    ASSERT_EQ(1u, context.copies.size());
    const BackupCopy& copy = context.copies[0];
    ASSERT_EQ(c.files, copy.CopyFiles.size());
    EXPECT_EQ(c.fileMode, copy.CopyFileMode);
    EXPECT_EQ((BackupTimeStamp{2006, 3, 5, 9, 7, 2}), copy.BackupTime);
    if (task.BackupSettings.CreateDateTimeSubfolder == 1) {
      EXPECT_EQ(m_dir.path() + "out/2006-03-05_09-07-02", copy.CopyFolder);
    } else {
      EXPECT_EQ("", copy.CopyFolder);
    }
    ExpectRestoresIdentically(copy.CopyFiles);
  }
}

TEST_F(BackupToFilesMySqlTest, ReadsTablesInUtf8mb4WhenAColumnNeedsIt) {
  CTaskItem task = MakeTask(2, 1);
  task.BackupDatabases = {Selection(m_latinDb, {"mixed", "plain"})};
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, Run(context)) << context.AllText();
  const std::string dump = test::ReadWholeFile(context.copies.at(0).CopyFiles.at(0));
  const auto lines = Lines(dump);
  const auto mixedInsert =
      std::find(lines.begin(), lines.end(),
                "INSERT INTO `mixed` VALUES (1,'smile \xF0\x9F\x98\x80','caf\xC3\xA9');");
  EXPECT_NE(lines.end(), mixedInsert) << dump;
  // The table in plain latin1 stays in the database's own character set; its invisible
  // column is named, as a column-less INSERT cannot reach it.
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                   "INSERT INTO `plain`(`id`,`hidden`,`t`) VALUES (1,9,'\xE9');"));
  // Each table's SET statements name the character set it was read in; the database
  // keeps its own default.
  const std::string createDatabase =
      "CREATE DATABASE IF NOT EXISTS `" + m_latinDb +
      "` DEFAULT CHARACTER SET latin1 COLLATE latin1_swedish_ci;";
  std::vector<std::string> namesBeforeCreate;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i] == createDatabase) namesBeforeCreate.push_back(lines[i - 1]);
  }
  EXPECT_EQ((std::vector<std::string>{"SET NAMES 'utf8mb4';", "SET NAMES 'latin1';"}),
            namesBeforeCreate);
  ExpectRestoresIdentically(context.copies[0].CopyFiles, m_latinDb);
}

TEST_F(BackupToFilesMySqlTest, TablesWhoseFileNamesMeetGetFilesOfTheirOwn) {
  // "/" cannot be part of a file name, so both tables map to <db>_x_y.sql.
  test::RunClient(ServerA(),
                  "CREATE TABLE `x/y` (id INT PRIMARY KEY); INSERT INTO `x/y` VALUES (1),(2);"
                  "CREATE TABLE `x_y` (id INT PRIMARY KEY); INSERT INTO `x_y` VALUES (3);",
                  m_latinDb);
  CTaskItem task = MakeTask(2, 3);
  task.BackupDatabases = {Selection(m_latinDb, {"x/y", "x_y"})};
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, Run(context)) << context.AllText();
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
  ASSERT_EQ(1u, context.copies.size());
  ASSERT_EQ((std::vector<std::string>{m_dir.path() + "out/" + m_latinDb + "_x_y.sql",
                                      m_dir.path() + "out/" + m_latinDb + "_x_y_2.sql"}),
            context.copies[0].CopyFiles);
  test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_latinDb + "`;");
  for (const std::string& file : context.copies[0].CopyFiles) {
    ASSERT_EQ(0, test::RunClientFile(ServerB(), file));
  }
  for (const char* table : {"x/y", "x_y"}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(test::Checksum(ServerA(), m_latinDb, table),
              test::Checksum(ServerB(), m_latinDb, table));
  }
}

// Files an interrupted and a failed run of the task left go with the next good run;
// another task's files and the recorded copy stay.
TEST_F(BackupToFilesMySqlTest, AGoodRunDeletesWhatEarlierRunsLeftUnrecorded) {
  CTaskItem task = MakeTask(2, 3);
  task.BackupSettings.FileNameFormat = "%TASKNAME%_%DATABASE%_%TABLE%_%DATE%_%TIME%";
  task.BackupDatabases = {Selection(m_latinDb, {"mixed", "plain"})};
  ASSERT_EQ(0, ::mkdir((m_dir.path() + "out").c_str(), 0700));
  const std::string out = m_dir.path() + "out/";
  const std::string early = "_2006-03-04_09-00-00.sql";
  for (const std::string& name : {"Nightly_" + m_latinDb + "_mixed" + early,
                                  "Nightly_" + m_latinDb + "_plain" + early + ".incomplete",
                                  "Nightly_" + m_latinDb + "_plain_2006-03-04_10-00-00.sql",
                                  "Weekly_" + m_latinDb + "_mixed" + early}) {
    ASSERT_TRUE(test::WriteWholeFile(out + name, "-- left"));
  }
  const std::string recorded = out + "Nightly_" + m_latinDb + "_plain_2006-03-04_10-00-00.sql";
  task.BackupHistory.push_back({{2006, 3, 4, 10, 0, 0}, 2, 1, 0, "", {recorded}});
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, Run(context)) << context.AllText();
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, (std::set<std::string>{
                      "Nightly_" + m_latinDb + "_mixed_2006-03-05_09-07-02.sql",
                      "Nightly_" + m_latinDb + "_mixed_2006-03-05_09-07-02.sql.manifest.json",
                      "Nightly_" + m_latinDb + "_plain_2006-03-05_09-07-02.sql",
                      "Nightly_" + m_latinDb + "_plain_2006-03-04_10-00-00.sql",
                      "Weekly_" + m_latinDb + "_mixed" + early}));
  EXPECT_EQ(context.Texts(LogLevel::General).back(),
            "Deleted 2 file(s) that earlier runs left unrecorded");
}

// The all-in-one example: default settings, one database with one table of two rows.
TEST_F(BackupToFilesMySqlTest, WritesTheDefaultFileByteForByte) {
  test::RunClient(ServerA(),
                  "CREATE TABLE item (id INT NOT NULL, name VARCHAR(10), PRIMARY KEY (id)) "
                  "ENGINE=InnoDB; INSERT INTO item VALUES (1,'a'),(2,'b');",
                  m_latinDb);
  const std::string serverCharset =
      Trim(test::RunClient(ServerA(), "SELECT @@character_set_server;"));
  for (int php = 0; php <= 1; ++php) {
    SCOPED_TRACE(php ? "PHP" : "SQL");
    CTaskItem task = MakeTask(2, 1);
    task.BackupSettings.FileType = php ? 2 : 1;
    task.BackupDatabases = {Selection(m_latinDb, {"item"})};
    FakeRunContext context(task);
    ASSERT_EQ(RunOutcome::Finished, Run(context)) << context.AllText();
    const std::string path = context.copies.at(0).CopyFiles.at(0);
    EXPECT_EQ(m_dir.path() + (php ? "out/all.php" : "out/all.sql"), path);
    const std::string version = Trim(test::RunClient(ServerA(), "SELECT VERSION();"));
    std::vector<std::string> statements;
    auto charset = [&](const std::string& cs) {
      for (const char* v : {"CLIENT", "RESULTS", "CONNECTION"}) {
        statements.push_back(std::string("SET CHARACTER_SET_") + v + "='" + cs + "';");
      }
      statements.push_back("SET NAMES '" + cs + "';");
    };
    statements = {"SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT;",
                  "SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS;",
                  "SET @OLD_CHARACTER_SET_CONNECTION=@@CHARACTER_SET_CONNECTION;",
                  "SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION;"};
    charset(serverCharset);
    for (const char* s :
         {"SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS;", "SET UNIQUE_CHECKS=0;",
          "SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS;", "SET FOREIGN_KEY_CHECKS=0;",
          "SET @OLD_SQL_MODE=@@SQL_MODE;", "SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO';",
          "SET @OLD_SQL_NOTES=@@SQL_NOTES;", "SET SQL_NOTES=0;",
          "/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;", "/*!40103 SET TIME_ZONE='+00:00' */;"}) {
      statements.push_back(s);
    }
    charset("latin1");
    const std::string createDatabase =
        "CREATE DATABASE IF NOT EXISTS `" + m_latinDb +
        "` DEFAULT CHARACTER SET latin1 COLLATE latin1_swedish_ci";
    const std::size_t createAt = statements.size();
    for (const char* s :
         {"DROP TABLE IF EXISTS `item`;",
          "CREATE TABLE IF NOT EXISTS `item` (  `id` int(11) NOT NULL,  `name` varchar(10) "
          "DEFAULT NULL,  PRIMARY KEY (`id`)) ENGINE=InnoDB DEFAULT CHARSET=latin1 "
          "COLLATE=latin1_swedish_ci;",
          "ALTER TABLE `item` DISABLE KEYS;", "LOCK TABLES `item` WRITE;",
          "INSERT INTO `item` VALUES (1,'a');", "INSERT INTO `item` VALUES (2,'b');",
          "UNLOCK TABLES;", "ALTER TABLE `item` ENABLE KEYS;", "SET SQL_MODE=@OLD_SQL_MODE;",
          "SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS;",
          "SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS;", "SET SQL_NOTES=@OLD_SQL_NOTES;",
          "SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT;",
          "SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS;",
          "SET CHARACTER_SET_CONNECTION=@OLD_CHARACTER_SET_CONNECTION;",
          "SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION;",
          "/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;"}) {
      statements.push_back(s);
    }
    std::string expected;
    if (!php) {
      expected =
          "-- Brevanto Standard Edition 2.0\r\n--\r\n-- Host: 127.0.0.1\r\n--\r\n"
          "-- MySQL Server Version: " +
          version +
          "\r\n--\r\n-- 2006-03-05 09:07:02\r\n"
          "--\r\n-- ------------------------------------------------------\r\n\r\n";
      for (std::size_t i = 0; i < statements.size(); ++i) {
        if (i == createAt) expected += createDatabase + ";\r\nUSE `" + m_latinDb + "`;\r\n\r\n";
        expected += statements[i] + "\r\n";
      }
    } else {
      expected =
          "<?\r\n/" + std::string(50, '*') +
          "\r\n**\r\n** Brevanto 2.0 Standard Edition\r\n"
          "**\r\n** Host: 127.0.0.1\r\n**\r\n** MySQL Server Version: " +
          version + "\r\n**\r\n** 2006-03-05 09:07:02\r\n**\r\n" + std::string(50, '*') +
          "/\r\n?>\r\n\r\n<?\r\n  $conn = mysql_connect('127.0.0.1:" +
          std::to_string(test::ServerA().port) + "','root','brevanto') "
          "or die('Can not connect to server!');\r\n";
      for (std::size_t i = 0; i < statements.size(); ++i) {
        if (i == createAt) {
          expected += "  mysql_query('" + createDatabase +
                      ";',$conn) or die('Failed to create database " + m_latinDb +
                      "!');\r\n  mysql_select_db('" + m_latinDb +
                      "',$conn) or die('Failed to select database " + m_latinDb + "!');\r\n";
        }
        std::string escaped;
        for (char ch : statements[i]) {
          if (ch == '\\' || ch == '\'') escaped += '\\';
          escaped += ch;
        }
        expected += "  mysql_query('" + escaped +
                    "',$conn) or die('Failed! Error NO. "
                    "'.mysql_errno($conn).'<br>'.mysql_error($conn));\r\n";
      }
      expected += "  mysql_close($conn);\r\n  echo 'Finished';\r\n?>\r\n";
    }
    EXPECT_EQ(expected, test::ReadWholeFile(path));
    if (php) {  // it holds the password
      EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                std::filesystem::status(path).permissions());
    }
  }
}

TEST_F(BackupToFilesMySqlTest, LogsEachStepOfARun) {
  CTaskItem task = MakeTask(2, 1);
  task.BackupDatabases = {Selection(m_db, {"order items"}, {"alltypes_view"})};
  FakeRunContext context(task);
  ASSERT_EQ(RunOutcome::Finished, Run(context));
  const std::vector<std::string> expected = {
      "Connecting to the source MySQL server (127.0.0.1)... ",
      "Connect to the MySQL server successfully!  MySQL version: " +
          Trim(test::RunClient(ServerA(), "SELECT VERSION();")),
      "Backing up the selected databases and tables...",
      "Backing up the database " + m_db + "...",
      "Backing up the table " + m_db + ".order items...",
      "Backup the records from the table OK - 3 records",
      "Backing up the view " + m_db + ".alltypes_view...",
      "Backup the view " + m_db + ".alltypes_view - OK"};
  EXPECT_EQ(expected, context.Texts(LogLevel::General));
  EXPECT_TRUE(context.hookInstalled);
}

TEST_F(BackupToFilesMySqlTest, ReportsConnectFailures) {
  struct Case {
    const char* name;
    unsigned port;
    const char* password;
    const char* errorStart;
  };
  const Case cases[] = {
      {"wrong password", ServerA().port, "wrong",
       "Failed to connect to the MySQL server!  Error NO. 1045  Access denied for user 'root'@"},
      {"unreachable host", 1, "brevanto", "Failed to connect to the MySQL server!  Error NO. 200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = MakeTask(2, 1);
    task.SourceServer.Port = c.port;
    task.SourceServer.Password = c.password;
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Failed, Run(context));
    const auto errors = context.Texts(LogLevel::Error);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(0u, errors[0].find(c.errorStart)) << errors[0];
    EXPECT_TRUE(context.copies.empty());
  }
}

TEST_F(BackupToFilesMySqlTest, EndsEarlyWithoutSelectionFolderOrFile) {
  struct Case {
    const char* name;
    void (*adjust)(CTaskItem&, const std::string& dir);
    std::string error;
  };
  const std::string missing = m_dir.path() + "no/such/folder/x.sql";
  const Case cases[] = {
      {"empty selection", [](CTaskItem& t, const std::string&) { t.BackupDatabases.clear(); },
       "There are not any databases to backup!"},
      {"empty backup folder",
       [](CTaskItem& t, const std::string&) { t.BackupSettings.BackupFolder.clear(); },
       "Backup directory name is empty!"},
      {"file in a missing folder",
       [](CTaskItem& t, const std::string& dir) {
         t.BackupSettings.FileMode = 1;
         t.BackupSettings.SameFilePath = dir + "no/such/folder/x.sql";
       },
       "Failed to create the backup file! - " + missing + " (No such file or directory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = MakeTask(2, 1);
    c.adjust(task, m_dir.path());
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Failed, Run(context));
    EXPECT_EQ(std::vector<std::string>{c.error}, context.Texts(LogLevel::Error));
    EXPECT_TRUE(context.copies.empty());
  }
}

TEST_F(BackupToFilesMySqlTest, GoesOnPastDatabasesAndTablesThatAreGoneButRecordsNoCopy) {
  CTaskItem task = MakeTask(2, 2);
  task.BackupDatabases = {Selection("e1_no_such_db", {"t"}),
                          Selection(m_db, {"gone", "order items"}),
                          Selection(m_latinDb, {"plain"})};
  FakeRunContext context(task);
  // The latin1 database disappears while the first one is written.
  context.onLog = [&](const std::string& text) {
    if (text == "Backing up the table " + m_db + ".order items...") {
      test::RunClient(ServerA(), "DROP DATABASE `" + m_latinDb + "`;");
    }
  };
  ASSERT_EQ(RunOutcome::Failed, Run(context));
  const auto errors = context.Texts(LogLevel::Error);
  ASSERT_EQ(4u, errors.size()) << context.AllText();
  // Each names the server's reason after the documented text.
  EXPECT_EQ(0u, errors[0].find("Failed to use database e1_no_such_db (error 1049: "));
  EXPECT_EQ(0u, errors[1].find("No result of list table fields: gone (error 1146: "));
  EXPECT_EQ(0u, errors[2].find("Failed to use database " + m_latinDb + " (error 1049: "));
  EXPECT_EQ("The backup is incomplete (3 errors); no backup copy was recorded.", errors[3]);
  EXPECT_EQ(errors[3], context.entries.back().second);
  EXPECT_TRUE(context.copies.empty());
  // The database that could be used got its file, marked incomplete for the missing table.
  EXPECT_TRUE(std::filesystem::exists(m_dir.path() + "out/" + m_db + ".sql.incomplete"));
}

TEST_F(BackupToFilesMySqlTest, FullDiskLeavesOnlyWholeStatements) {
  {
    // A folder replaced by a file.
    ASSERT_TRUE(test::WriteWholeFile(m_dir.file("plain"), "not a folder"));
    CTaskItem task = MakeTask(1, 1);
    task.BackupSettings.SameFilePath = m_dir.file("plain/x.sql");
    FakeRunContext context(task);
    EXPECT_EQ(RunOutcome::Failed, Run(context));
    EXPECT_EQ(std::vector<std::string>{"Failed to create the backup file! - " +
                                       m_dir.file("plain/x.sql") + " (Not a directory)"},
              context.Texts(LogLevel::Error));
  }
  // A disk that fills up mid-run: the file-size limit makes writes fail like ENOSPC does.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  CTaskItem task = MakeTask(1, 1);
  FakeRunContext context(task);
  rlimit limited = old;
  limited.rlim_cur = 3000;
  setrlimit(RLIMIT_FSIZE, &limited);
  const RunOutcome outcome = Run(context);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(RunOutcome::Failed, outcome);
  EXPECT_TRUE(context.copies.empty());
  const auto errors = context.Texts(LogLevel::Error);
  ASSERT_FALSE(errors.empty());
  const std::string path = task.BackupSettings.SameFilePath;
  // The entry names the system's reason, as a failed create does.
  EXPECT_TRUE(Contains(errors, "Failed to write a record to the backup file! - " + path +
                                   " (File too large)") ||
              Contains(errors, "Failed to write the CREATE TABLE to the backup file! - " + path +
                                   " (File too large)"))
      << context.AllText();
  EXPECT_FALSE(std::filesystem::exists(path));
  const std::string written = test::ReadWholeFile(path + ".incomplete");
  EXPECT_LE(written.size(), 3000u);
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ("\r\n", written.substr(written.size() - 2));
  EXPECT_EQ(0, test::RunClientFile(ServerB(), path + ".incomplete"));
}

TEST_F(BackupToFilesMySqlTest, CancelInALargeTableEndsOnAWholeStatement) {
  test::RunClient(ServerA(),
                  "CREATE TABLE big (id INT PRIMARY KEY, t VARCHAR(40)) ENGINE=InnoDB;"
                  "INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_50000;",
                  m_db);
  for (int multiRow = 0; multiRow <= 1; ++multiRow) {
    SCOPED_TRACE(multiRow ? "multi-row" : "single-row");
    CTaskItem task = MakeTask(2, 1);
    task.BackupSettings.MultipleRowInsert = static_cast<std::uint8_t>(multiRow);
    task.BackupDatabases = {Selection(m_db, {"big"})};
    FakeRunContext context(task);
    context.onLog = [&](const std::string& text) {
      if (text == "Backing up the table " + m_db + ".big...") context.StopAfterChecks(20000 + 7);
    };
    EXPECT_EQ(RunOutcome::Canceled, Run(context));
    EXPECT_TRUE(context.copies.empty());
    // What a stopped run wrote is kept, under a name that says it is incomplete.
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "out/all.sql"));
    const std::string path = m_dir.path() + "out/all.sql.incomplete";
    const auto lines = Lines(test::ReadWholeFile(path));
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(0u, lines.back().find("INSERT INTO `big` VALUES ("));
    EXPECT_EQ(';', lines.back().back());
    const long inserts = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("INSERT INTO", 0) == 0;
    });
    EXPECT_GT(inserts * (multiRow ? 10 : 1), 19990);
    EXPECT_LT(inserts * (multiRow ? 10 : 1), 20010);
    // What was written restores: every row of every statement.
    test::RunClient(ServerB(), "DROP DATABASE IF EXISTS `" + m_db + "`;");
    ASSERT_EQ(0, test::RunClientFile(ServerB(), path));
    EXPECT_EQ(std::to_string(inserts * (multiRow ? 10 : 1)) + "\n",
              test::RunClient(ServerB(), "SELECT COUNT(*) FROM `" + m_db + "`.big;"));
    std::filesystem::remove(path);
  }
}

TEST_F(BackupToFilesMySqlTest, TheCancelHookReleasesAWorkerBlockedInTheServer) {
  // Another session holds the table, so the run's FLUSH TABLE waits in the server.
  MYSQL* holder = mysql_init(nullptr);
  ASSERT_EQ(holder, mysql_real_connect(holder, ServerA().host.c_str(), ServerA().user.c_str(),
                                       ServerA().password.c_str(), m_db.c_str(), ServerA().port,
                                       nullptr, 0));
  ASSERT_EQ(0, mysql_query(holder, "LOCK TABLES alltypes WRITE"));
  CTaskItem task = MakeTask(2, 1);
  task.BackupDatabases = {Selection(m_db, {"alltypes"})};
  FakeRunContext context(task);
  RunOutcome outcome = RunOutcome::Finished;
  std::thread worker([&] { outcome = Run(context); });
  const std::string waiting = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '" +
                              m_db + "' AND STATE LIKE 'Waiting for table%';";
  for (int i = 0; i < 200 && test::RunClient(ServerA(), waiting) != "1\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  context.RequestStop();
  context.CallCancelHook();  // as the runner does when a stop request is not answered
  worker.join();
  mysql_close(holder);
  EXPECT_EQ(RunOutcome::Canceled, outcome);
  EXPECT_TRUE(context.Texts(LogLevel::Error).empty()) << context.AllText();
}

}  // namespace
}  // namespace brevanto
