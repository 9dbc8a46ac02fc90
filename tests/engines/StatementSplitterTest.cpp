#include "engines/StatementSplitter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engines/SqlInput.h"
#include "engines/StatementReadAhead.h"

namespace brevanto {
namespace {

using Statements = std::vector<std::string>;
using namespace std::string_literals;

// Hands out its text a few bytes per read, so every state meets a block boundary.
class TrickleInput : public CSqlInput {
 public:
  TrickleInput(std::string_view text, std::size_t step) : m_rest(text), m_step(step) {}
  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = std::min({capacity, m_step, m_rest.size()});
    std::memcpy(buffer, m_rest.data(), got);
    m_rest.remove_prefix(got);
    return Status::Ok();
  }

 private:
  std::string_view m_rest;
  std::size_t m_step;
};

struct Split {
  Statements statements;
  std::string error;  // ErrorText() of the Error that ended the input, or ""
};

Split SplitAll(CSqlInput& input, std::size_t limit = CStatementSplitter::kNoLimit,
               bool escapes = true) {
  CStatementSplitter splitter(input, limit);
  splitter.SetBackslashEscapes(escapes);
  Split split;
  SqlStatement statement;
  for (;;) {
    switch (splitter.Next(statement)) {
      case SplitResult::Statement: split.statements.push_back(statement.Text); break;
      case SplitResult::TooLong:
        split.statements.push_back("TOO LONG: " + splitter.ErrorText());
        break;
      case SplitResult::End: return split;
      case SplitResult::Error: split.error = splitter.ErrorText(); return split;
    }
  }
}

struct Case {
  const char* name;
  std::string text;
  Statements expected;
};

const std::vector<Case>& GoodCases() {
  static const std::vector<Case> cases = {
      {"a comment after ; does not glue the next statement on",
       "INSERT INTO t VALUES ('x'); -- comment\nINSERT INTO t VALUES ('y');\n",
       {"INSERT INTO t VALUES ('x')", "INSERT INTO t VALUES ('y')"}},
      {"; at a line end inside a string",
       "INSERT INTO t VALUES ('a;\nb');\nSELECT 1;",
       {"INSERT INTO t VALUES ('a;\nb')", "SELECT 1"}},
      {"blanks after ;", "use db1;  \nSELECT 1;", {"use db1", "SELECT 1"}},
      {"line breaks are kept", "SELECT a\nFROM t;", {"SELECT a\nFROM t"}},
      {"conditional comments go to the server",
       "/*!40101 SET NAMES utf8mb4 */;\n/*M!100100 SET @x=1 */;\n"
       "/*M!999999\\- enable the sandbox mode */ \n",
       {"/*!40101 SET NAMES utf8mb4 */", "/*M!100100 SET @x=1 */",
        "/*M!999999\\- enable the sandbox mode */"}},
      {"comments before a statement are dropped",
       "--\n-- Table `t`\n--\n# hash\n/* block; with ; */ SELECT 1;",
       {"SELECT 1"}},
      {"comments inside a statement are kept, with their line break",
       "SELECT 1 -- one;\n, 2 # two\n, 3 /* three; */;\nSELECT 1 -- last",
       {"SELECT 1 -- one;\n, 2 # two\n, 3 /* three; */", "SELECT 1 -- last\n"}},
      {"a lone CR ends a kept comment for the server too",
       "SELECT 1 # x\r, 2;",
       {"SELECT 1 # x\r\n, 2"}},
      {"-- without a blank is no comment", "SELECT 1--1;", {"SELECT 1--1"}},
      {"backslash escapes and doubled quotes",
       "SELECT 'it\\'s;', \"a\\\";\", 'b'';';\nSELECT '\\\\';",
       {"SELECT 'it\\'s;', \"a\\\";\", 'b'';'", "SELECT '\\\\'"}},
      {"backticks, with no backslash escape",
       "SELECT `a;b`, `c\\` FROM `t``;`;",
       {"SELECT `a;b`, `c\\` FROM `t``;`"}},
      {"DELIMITER blocks as stock dumps write them",
       "DELIMITER ;;\n"
       "/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN\n"
       "  SET NEW.a = 1; SET NEW.b = ';;';\nEND */;;\n"
       "DELIMITER ;\nSELECT 1;",
       {"/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN\n"
        "  SET NEW.a = 1; SET NEW.b = ';;';\nEND */",
        "SELECT 1"}},
      {"delimiter in lower case, quoted, after a comment",
       "-- next\ndelimiter '//' and the rest\nSELECT 1; SELECT 2//\nDELIMITER ;\n",
       {"SELECT 1; SELECT 2"}},
      {"a word that starts with delimiter is not the command", "delimiters_t;", {"delimiters_t"}},
      {"last statement without delimiter", "SELECT 1\n\n", {"SELECT 1"}},
      {"CR LF and CR line ends", "SELECT 1;\r\nSELECT\r2;\r", {"SELECT 1", "SELECT\r2"}},
      {"the CR of CR LF is dropped in bodies, strings and kept comments, a lone CR kept",
       "DELIMITER ;;\r\nCREATE PROCEDURE p()\r\nBEGIN\r\n  SELECT 'a\r\nb', \"c\\\r\nd\", 'e\rf';"
       " -- note\r\n  /* x\r\ny */ SELECT `g\r\nh`;\r\nEND;;\r\nDELIMITER ;\r\n",
       {"CREATE PROCEDURE p()\nBEGIN\n  SELECT 'a\nb', \"c\\\nd\", 'e\rf'; -- note\n"
        "  /* x\ny */ SELECT `g\nh`;\nEND"}},
      {"byte-order mark", "\xEF\xBB\xBFSELECT 1;", {"SELECT 1"}},
      {"empty statements vanish", ";;  ;\n-- only\n", {}},
      {"NUL bytes and 4-byte characters inside a string are data",
       "INSERT INTO t VALUES ('a\0b', '\xF0\x9F\x98\x80');"s,
       {"INSERT INTO t VALUES ('a\0b', '\xF0\x9F\x98\x80')"s}},
  };
  return cases;
}

TEST(StatementSplitterTest, SplitsAsTheStockClient) {
  for (const Case& c : GoodCases()) {
    SCOPED_TRACE(c.name);
    for (std::size_t step : {std::size_t{1}, std::size_t{2}, std::size_t{3}, c.text.size() + 1}) {
      SCOPED_TRACE(step);
      TrickleInput input(c.text, std::max<std::size_t>(step, 1));
      const Split split = SplitAll(input);
      EXPECT_EQ(split.error, "");
      EXPECT_EQ(split.statements, c.expected);
    }
  }
}

TEST(StatementSplitterTest, BadInputNamesTheStatementAndByte) {
  const Case cases[] = {
      {"unterminated string",
       "SELECT 1;\nSELECT 'abc;\n",
       {"statement 2 (byte 17): the string opened by ' here is not closed at the end of the file"}},
      {"unterminated comment",
       "SELECT 1; /* x",
       {"statement 2 (byte 10): the comment opened here is not closed at the end of the file"}},
      {"DELIMITER without a delimiter",
       "SELECT 1;\nDELIMITER   \nSELECT 2;",
       {"statement 2 (byte 10): DELIMITER must be followed by a delimiter"}},
      {"DELIMITER at the end",
       "DELIMITER",
       {"statement 1 (byte 0): DELIMITER must be followed by a delimiter"}},
      {"DELIMITER with a backslash",
       "DELIMITER \\\\\n",
       {"statement 1 (byte 0): DELIMITER cannot contain a backslash"}},
      {"NUL byte",
       "SELECT 1;\n\0\0\0"s,
       {"statement 2 (byte 10): binary data (byte 0x00), not SQL text"}},
      {"binary garbage",
       "SELECT 1;\n\x89PNG\r\n\x1a\n",
       {"statement 2 (byte 16): binary data (byte 0x1A), not SQL text"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTextSqlInput input(c.text);
    const Split split = SplitAll(input);
    EXPECT_EQ(split.error, c.expected[0]);
  }
}

TEST(StatementSplitterTest, BackslashIsPlainUnderNoBackslashEscapes) {
  CTextSqlInput input("SELECT 'a\\';\nSELECT 2;");
  EXPECT_EQ(SplitAll(input, CStatementSplitter::kNoLimit, false).statements,
            (Statements{"SELECT 'a\\'", "SELECT 2"}));
}

// Generates `size` bytes of one statement without holding them.
class LongLineInput : public CSqlInput {
 public:
  explicit LongLineInput(std::size_t size) : m_left(size) {}
  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    if (!m_headDone) {
      m_headDone = true;
      const std::string head = "SELECT 1;\nINSERT INTO t VALUES ('";
      got = head.size();
      std::memcpy(buffer, head.data(), got);
      return Status::Ok();
    }
    if (m_left == 0) {
      const std::string tail = m_tailDone ? "" : "');SELECT 2;";
      m_tailDone = true;
      got = tail.size();
      std::memcpy(buffer, tail.data(), got);
      return Status::Ok();
    }
    got = std::min(capacity, m_left);
    std::memset(buffer, 'x', got);
    m_left -= got;
    return Status::Ok();
  }

 private:
  std::size_t m_left;
  bool m_headDone = false;
  bool m_tailDone = false;
};

TEST(StatementSplitterTest, StatementOverTheLimitIsSkippedWithoutBeingHeld) {
  LongLineInput input(100u * 1024 * 1024);
  CStatementSplitter splitter(input, 1024 * 1024);
  SqlStatement statement;
  ASSERT_EQ(splitter.Next(statement), SplitResult::Statement);
  ASSERT_EQ(splitter.Next(statement), SplitResult::TooLong);
  EXPECT_EQ(splitter.ErrorText(), "statement 2 (byte 10) has 104857625 bytes, more than the 1048576 allowed");
  EXPECT_EQ(statement.Text.substr(0, 34), "INSERT INTO t VALUES ('xxxxxxxxxxx");
  EXPECT_LE(statement.Text.size(), 1024u);
  ASSERT_EQ(splitter.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "SELECT 2");
  EXPECT_EQ(statement.Number, 3u);
  EXPECT_EQ(splitter.Next(statement), SplitResult::End);
}

TEST(StatementSplitterTest, HundredMegabyteLineComesOutWhole) {
  const std::size_t size = 100u * 1024 * 1024;
  LongLineInput input(size);
  CStatementSplitter splitter(input);
  SqlStatement statement;
  ASSERT_EQ(splitter.Next(statement), SplitResult::Statement);
  ASSERT_EQ(splitter.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text.size(), size + 25);
  EXPECT_EQ(statement.Text.compare(statement.Text.size() - 3, 3, "x')"), 0);
  ASSERT_EQ(splitter.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "SELECT 2");
}

// What a read-ahead gives for `text`, told after each statement that backslashes escape.
Split ReadAheadAll(std::unique_ptr<CSqlInput> input,
                   std::size_t limit = CStatementSplitter::kNoLimit) {
  CStatementReadAhead reader(std::move(input), limit, true);
  Split split;
  SqlStatement statement;
  for (;;) {
    switch (reader.Next(statement)) {
      case SplitResult::Statement:
        split.statements.push_back(statement.Text);
        reader.Ran(true);
        break;
      case SplitResult::TooLong: split.statements.push_back("TOO LONG: " + reader.ErrorText()); break;
      case SplitResult::End: return split;
      case SplitResult::Error: split.error = reader.ErrorText(); return split;
    }
  }
}

TEST(StatementSplitterTest, ReadAheadGivesWhatTheSplitterGives) {
  std::vector<std::string> texts;
  for (const Case& c : GoodCases()) texts.push_back(c.text);
  texts.push_back("SELECT 1;\nSELECT 'abc;\n");
  texts.push_back("SELECT 1;\n\x89PNG\r\n\x1a\n");
  std::string many;
  for (int i = 0; i < 3000; ++i) {
    many += i % 100 == 0 ? "SET @a = " + std::to_string(i) + ";\n"
                         : "INSERT INTO t VALUES (" + std::to_string(i) + ", 'a;b');\n";
  }
  texts.push_back(many);
  texts.push_back("SELECT 1;\nINSERT INTO t VALUES ('" + std::string(5000, 'x') + "');\nSELECT 2;");
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 60));
    for (std::size_t step : {std::size_t{1}, text.size() + 1}) {
      SCOPED_TRACE(step);
      TrickleInput input(text, step);
      const Split expected = SplitAll(input, 4096);
      const Split split = ReadAheadAll(std::make_unique<TrickleInput>(text, step), 4096);
      EXPECT_EQ(split.statements, expected.statements);
      EXPECT_EQ(split.error, expected.error);
    }
  }
}

TEST(StatementSplitterTest, ReadAheadSplitsOnOnlyOnceTheSessionChangeRan) {
  CStatementReadAhead reader(
      std::make_unique<CTextSqlInput>("INSERT INTO t VALUES ('a\\\\');\n"
                                      "SET sql_mode = 'NO_BACKSLASH_ESCAPES';\n"
                                      "INSERT INTO t VALUES ('b\\');\nINSERT INTO t VALUES ('c;');\n"),
      CStatementSplitter::kNoLimit, true);
  SqlStatement statement;
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "INSERT INTO t VALUES ('a\\\\')");
  reader.Ran(true);
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "SET sql_mode = 'NO_BACKSLASH_ESCAPES'");
  // Room for a reader that does not wait to run ahead with the old rule.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  reader.Ran(false);
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "INSERT INTO t VALUES ('b\\')");
  reader.Ran(false);
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "INSERT INTO t VALUES ('c;')");
  reader.Ran(false);
  EXPECT_EQ(reader.Next(statement), SplitResult::End);
  EXPECT_EQ(reader.Next(statement), SplitResult::End);
}

TEST(StatementSplitterTest, ReadAheadLeftEarlyEndsItsReader) {
  // The reader waits on a full queue, or on a statement that never ran.
  for (const char* statement : {"INSERT INTO t VALUES (1);\n", "SET @a = 1;\n"}) {
    SCOPED_TRACE(statement);
    std::string text;
    for (int i = 0; i < 10000; ++i) text += statement;
    CStatementReadAhead reader(std::make_unique<CTextSqlInput>(text),
                               CStatementSplitter::kNoLimit, true);
    SqlStatement first;
    ASSERT_EQ(reader.Next(first), SplitResult::Statement);
  }
}

TEST(StatementSplitterTest, ScriptsSplitWithTheStoredSemicolon) {
  Statements statements;
  ASSERT_TRUE(SplitSqlStatements("SELECT 1;\n-- x\nSELECT 2", statements).ok());
  EXPECT_EQ(statements, (Statements{"SELECT 1;", "SELECT 2;"}));
  const Status bad = SplitSqlStatements("SELECT 1;\nSELECT 'x", statements);
  EXPECT_FALSE(bad.ok());
  EXPECT_TRUE(statements.empty());
}

TEST(StatementSplitterTest, JoinedStatementsSplitBackToThemselves) {
  const Statements stored = {
      "CREATE TABLE t (\n  a INT\n);",
      "CREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SELECT '$$';\nEND;",
      "SELECT 1 -- trailing\n;",
      "SELECT 'a;b';",
      "SELECT 1; SELECT $;",
  };
  const std::string text = JoinSqlStatements(stored);
  Statements again;
  ASSERT_TRUE(SplitSqlStatements(text, again).ok()) << text;
  EXPECT_EQ(again, stored) << text;
  // Hand-made task files may hold statements without ";"; they show with one.
  ASSERT_TRUE(SplitSqlStatements(JoinSqlStatements({"SELECT 3"}), again).ok());
  EXPECT_EQ(again, Statements{"SELECT 3;"});
}

}  // namespace
}  // namespace brevanto
