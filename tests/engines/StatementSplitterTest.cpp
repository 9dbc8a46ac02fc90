#include "engines/StatementSplitter.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using Statements = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string text;
  Statements expected;
};

const std::vector<SplitCase>& Cases() {
  static const std::vector<SplitCase> cases = {
      {"line breaks vanish, indentation stays",
       "CREATE TABLE t (\n  a INT\n);",
       {"CREATE TABLE t (  a INT);"}},
      {"no blank replaces a line break", "SELECT a\nFROM t;\n", {"SELECT aFROM t;"}},
      {"dash comment line is dropped", "-- note\nDROP TABLE t;\n", {"DROP TABLE t;"}},
      {"conditional comment ending in ; is dropped",
       "/*!40101 SET NAMES utf8 */;\nSELECT 1;\n",
       {"SELECT 1;"}},
      {"hash comment line is dropped", "# note\nSELECT 1;\n", {"SELECT 1;"}},
      {"blanks after ; join the next line", "use db1;  \nSELECT 1;\n", {"use db1;  SELECT 1;"}},
      {"last statement gets its ;", "SELECT 1", {"SELECT 1;"}},
      {"two statements on one line stay one", "SELECT 1; SELECT 2;", {"SELECT 1; SELECT 2;"}},
      {"non-letter starts are discarded", "1 INSERT;\n('a');\n\"x\";\nselect 2;\n", {"select 2;"}},
      {"CR LF line ends", "SELECT 1;\r\nSELECT 2;\r\n", {"SELECT 1;", "SELECT 2;"}},
      {"lone CR line ends", "SELECT 1;\rSELECT 2;\r", {"SELECT 1;", "SELECT 2;"}},
      {"; inside quotes at a line end splits",
       "INSERT INTO t VALUES ('a;\nb');\n",
       {"INSERT INTO t VALUES ('a;", "b');"}},
      {"blank lines and leading white space", "  \n\t\n\t SELECT 1;\n", {"SELECT 1;"}},
      {"trailing blanks after the last statement", "SELECT 1;\n   ", {"SELECT 1;"}},
      {"comment at the end without line break", "SELECT 1;\n-- end", {"SELECT 1;"}},
      {"empty text", "", {}},
      {"only comments", "-- a\n/* b */\n", {}},
      {"bytes above 127 are kept",
       "INSERT INTO t VALUES ('\xc3\xa9');\n",
       {"INSERT INTO t VALUES ('\xc3\xa9');"}},
  };
  return cases;
}

TEST(StatementSplitterTest, SplitsByTheLineRule) {
  for (const SplitCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitSqlStatements(c.text), c.expected);
  }
}

TEST(StatementSplitterTest, ChunkBoundariesDoNotMatter) {
  for (const SplitCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    CStatementSplitter splitter;
    Statements got;
    std::string statement;
    for (char byte : c.text) {
      const char* p = &byte;
      while (splitter.Feed(&p, &byte + 1, statement)) got.push_back(statement);
    }
    if (splitter.Finish(statement)) got.push_back(statement);
    EXPECT_EQ(got, c.expected);
  }
}

class SqlFileReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = m_dir.file(name);
    EXPECT_TRUE(test::WriteWholeFile(path, bytes));
    return path;
  }

  test::TempDir m_dir;
};

TEST_F(SqlFileReaderTest, StatementsAcrossReadBuffersMatchTheWholeText) {
  // Long statements that straddle the reader's buffer boundaries, mixed line ends.
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += "-- row " + std::to_string(i) + "\r\n";
    text += "INSERT INTO t VALUES (" + std::to_string(i) + ",'" + std::string(i % 500, 'x') +
            "');" + (i % 2 ? "\n" : "\r\n");
  }
  text += "SELECT 1";
  const std::string path = Write("big.sql", text);

  Statements got;
  ASSERT_TRUE(ReadSqlFileStatements(path, got));
  EXPECT_EQ(got, SplitSqlStatements(text));
  EXPECT_EQ(got.size(), 3001u);
}

TEST_F(SqlFileReaderTest, RefusesWhatCannotBeRead) {
  Statements got;
  EXPECT_FALSE(ReadSqlFileStatements("", got));
  EXPECT_FALSE(ReadSqlFileStatements(m_dir.file("missing.sql"), got));
  EXPECT_FALSE(ReadSqlFileStatements(m_dir.path(), got));
  EXPECT_TRUE(got.empty());
}

TEST_F(SqlFileReaderTest, FileWithoutStatementsIsNoError) {
  Statements got;
  EXPECT_TRUE(ReadSqlFileStatements(Write("empty.sql", ""), got));
  EXPECT_TRUE(ReadSqlFileStatements(Write("comments.sql", "-- only\n"), got));
  EXPECT_TRUE(got.empty());
}

}  // namespace
}  // namespace brevanto
