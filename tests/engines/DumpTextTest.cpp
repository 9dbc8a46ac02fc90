// The texts of a dump file without a server: headers, the PHP wrapping, statement
// prefixes, and the write-through output file on a failing disk.

#include <string>

#include <gtest/gtest.h>

#include "engines/BackupTableDumper.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/PhpDumpWriter.h"
#include "engines/SqlDumpWriter.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

const TaskDateTime kRun{2006, 3, 5, 9, 7, 2, 1};

TEST(DumpTextTest, VersionThresholds) {
  struct Case {
    unsigned long version;
    bool quoting, showCreate, charsets;
  };
  const Case cases[] = {{32305, false, false, false}, {32306, true, false, false},
                        {32319, true, false, false},  {32320, true, true, false},
                        {40099, true, true, false},   {40100, true, true, true},
                        {101119, true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(c.quoting, AllowsBacktickQuoting(c.version));
    EXPECT_EQ(c.showCreate, HasShowCreateTable(c.version));
    EXPECT_EQ(c.charsets, HasCharacterSets(c.version));
    const DumpOptions options = MakeDumpOptions(BackupSettings{}, c.version);
    EXPECT_EQ(c.quoting, options.Quote);
  }
}

TEST(DumpTextTest, QuotesNamesOnlyWhenAsked) {
  EXPECT_EQ("`order items`", QuoteName("order items", true));
  EXPECT_EQ("order items", QuoteName("order items", false));
  EXPECT_EQ("`odd``name`", QuoteName("odd`name", true));
}

TEST(DumpTextTest, InsertPrefixFollowsTheStatementOptions) {
  struct Case {
    const char* name;
    void (*adjust)(BackupSettings&);
    const char* engine;
    const char* expected;
  };
  const Case cases[] = {
      {"defaults", [](BackupSettings&) {}, "InnoDB", "INSERT INTO `t` VALUES "},
      {"complete insert with keyword columns", [](BackupSettings& s) { s.CompleteInsert = 1; },
       "InnoDB", "INSERT INTO `t`(`select`,`a b`) VALUES "},
      {"complete insert with bare columns",
       [](BackupSettings& s) {
         s.CompleteInsert = 1;
         s.AllowKeywordColumnNames = 0;
       },
       "InnoDB", "INSERT INTO `t`(select,a b) VALUES "},
      {"ignore", [](BackupSettings& s) { s.InsertIgnore = 1; }, "InnoDB",
       "INSERT IGNORE INTO `t` VALUES "},
      {"replace drops IGNORE, which REPLACE does not take",
       [](BackupSettings& s) {
         s.UseReplace = 1;
         s.InsertIgnore = 1;
       },
       "InnoDB", "REPLACE INTO `t` VALUES "},
      {"delayed on MyISAM without LOCK TABLES",
       [](BackupSettings& s) {
         s.InsertDelayed = 1;
         s.InsertIgnore = 1;
         s.AddLockTables = 0;
       },
       "MyISAM", "INSERT DELAYED IGNORE INTO `t` VALUES "},
      {"no delayed inside LOCK TABLES", [](BackupSettings& s) { s.InsertDelayed = 1; }, "MyISAM",
       "INSERT INTO `t` VALUES "},
      {"no delayed on InnoDB",
       [](BackupSettings& s) {
         s.InsertDelayed = 1;
         s.AddLockTables = 0;
       },
       "InnoDB", "INSERT INTO `t` VALUES "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BackupSettings settings;
    c.adjust(settings);
    EXPECT_EQ(c.expected, MakeInsertPrefix(settings, true, "t", {"select", "a b"}, c.engine));
  }
  EXPECT_EQ("INSERT INTO t VALUES ", MakeInsertPrefix(BackupSettings{}, false, "t", {}, ""));
}

TEST(DumpTextTest, Headers) {
  EXPECT_EQ(
      "-- Brevanto Standard Edition 2.0\n--\n-- Host: db.example\n--\n"
      "-- MySQL Server Version: 4.1.22\n--\n-- 2006-03-05 09:07:02\n--\n"
      "-- ------------------------------------------------------\n\n",
      FormatSqlHeader("db.example", "4.1.22", kRun, "\n"));
  const std::string php = FormatPhpHeader("h", "5.0", kRun, "\r\n");
  EXPECT_EQ(0u, php.find("<?\r\n/**************************************************\r\n**\r\n"
                         "** Brevanto 2.0 Standard Edition\r\n**\r\n** Host: h\r\n"));
  EXPECT_NE(
      std::string::npos,
      php.find("\r\n**************************************************/\r\n?>\r\n\r\n<?\r\n"));
}

TEST(DumpTextTest, PhpWrapping) {
  EXPECT_EQ("a\\\\b\\'c", PhpEscape("a\\b'c"));
  CServerInfo source;
  source.Host = "my'host";
  source.Port = 3307;
  source.UserName = "u\\ser";
  source.Password = "pa'ss\\";
  EXPECT_EQ(
      "  $conn = mysql_connect('my\\'host:3307','u\\\\ser','pa\\'ss\\\\') or die('Can not "
      "connect to server!');\r\n",
      FormatPhpConnect(source, "\r\n"));
  std::string line;
  AppendPhpStatement(line, "INSERT INTO t VALUES (1,'O\\'Brien')", "\r\n");
  EXPECT_EQ(
      "  mysql_query('INSERT INTO t VALUES (1,\\'O\\\\\\'Brien\\');',$conn) or die('Failed! "
      "Error NO. '.mysql_errno($conn).'<br>'.mysql_error($conn));\r\n",
      line);
  line.clear();
  AppendPhpStatement(line, "SET AUTOCOMMIT=0;", "\n");
  EXPECT_EQ(0u, line.find("  mysql_query('SET AUTOCOMMIT=0;',$conn)"));
  // A quote in a database name must not end the PHP string, inside the statement either.
  EXPECT_EQ(
      "  mysql_query('CREATE DATABASE IF NOT EXISTS `it\\'s`;',$conn) or die('Failed to "
      "create database it\\'s!');\n  mysql_select_db('it\\'s',$conn) or die('Failed to "
      "select database it\\'s!');\n",
      FormatPhpCreateDatabase("CREATE DATABASE IF NOT EXISTS `it's`", "it's", "\n"));
  EXPECT_EQ("  mysql_close($conn);\n  echo 'Finished';\n?>\n", FormatPhpTrailer("\n"));
}

TEST(DumpTextTest, CreateDatabaseAndStatementsInTheFile) {
  test::TempDir dir;
  COutputFile file;
  ASSERT_TRUE(file.Create(dir.file("d.sql"), "test", false).ok());
  CSqlDumpWriter writer(file, 1, "\r\n");
  ASSERT_TRUE(writer.WriteCreateDatabase("shop", true, true, "latin1").ok());
  ASSERT_TRUE(writer.WriteCreateDatabase("shop", false, false, "latin1").ok());
  ASSERT_TRUE(writer.AppendStatement("SET AUTOCOMMIT=0;").ok());
  ASSERT_TRUE(writer.AppendStatement("COMMIT").ok());
  ASSERT_TRUE(file.Commit(COutputFile::Existing::Replace).ok());
  EXPECT_EQ(
      "CREATE DATABASE IF NOT EXISTS `shop` DEFAULT CHARACTER SET latin1;\r\nUSE `shop`;\r\n\r\n"
      "CREATE DATABASE IF NOT EXISTS shop;\r\nUSE shop;\r\n\r\n"
      "SET AUTOCOMMIT=0;\r\nCOMMIT;\r\n",
      test::ReadWholeFile(dir.file("d.sql")));
}

TEST(DumpTextTest, PrologueBeforeCharacterSetsAndWithoutOptions) {
  test::TempDir dir;
  COutputFile file;
  ASSERT_TRUE(file.Create(dir.file("p.sql"), "test", false).ok());
  CSqlDumpWriter writer(file, 1, "\n");
  BackupSettings settings;
  settings.AddSetUniqueChecks = 0;
  settings.AddSetForeignKeyChecks = 0;
  settings.AddSetSqlNotes = 0;
  // A 4.0 server has no character sets: the server character set stays empty.
  writer.WritePrologue(settings, "", 40022);
  writer.WriteCharsetStatements("latin1", 40022);
  ASSERT_TRUE(writer.WriteEpilogue(settings, "").ok());
  ASSERT_TRUE(file.Commit(COutputFile::Existing::Replace).ok());
  EXPECT_EQ(
      "SET @OLD_SQL_MODE=@@SQL_MODE;\nSET SQL_MODE='NO_AUTO_VALUE_ON_ZERO';\n"
      "/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;\n/*!40103 SET TIME_ZONE='+00:00' */;\n"
      "SET CHARACTER_SET_CLIENT='latin1';\nSET CHARACTER_SET_RESULTS='latin1';\n"
      "SET CHARACTER_SET_CONNECTION='latin1';\nSET SQL_MODE=@OLD_SQL_MODE;\n"
      "/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;\n",
      test::ReadWholeFile(dir.file("p.sql")));
}

// The epilogue is the file's last write: its failure must reach the run, or a file that
// ends without its closing statements would be committed as complete.
TEST(DumpTextTest, AFailedEpilogueWriteIsReturned) {
  test::TempDir dir;
  COutputFile file;
  ASSERT_TRUE(file.Create(dir.file("e.sql"), "test", false).ok());
  CSqlDumpWriter writer(file, 1, "\n");
  ASSERT_TRUE(writer.AppendStatement("SELECT 1").ok());
  Status end;
  {
    const test::FileSizeLimit full(16);
    end = writer.WriteEpilogue(BackupSettings(), "");
  }
  EXPECT_EQ(end.message(), "File too large - " + dir.file("e.sql"));
}

}  // namespace
}  // namespace brevanto
