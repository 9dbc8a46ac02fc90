#include "engines/InsertStatements.h"

#include "engines/LoadTransaction.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

// Feeds rows of the given sizes and returns the statements as they come out; with
// `handOver` each is taken away (as a copy sends them) instead of sent in place.
std::vector<std::string> Statements(const std::vector<std::size_t>& rowSizes,
                                    const InsertShape& shape, bool handOver = false) {
  CInsertStatements inserts("I ", shape);
  std::vector<std::string> out;
  std::string spare = "left over from an earlier statement";
  char name = 'a';
  for (const std::size_t size : rowSizes) {
    const std::string row = "(" + std::string(size - 2, name++) + ")";
    if (inserts.AddRow([&](std::string& text) { text += row; })) {
      const std::string rows = "#" + std::to_string(inserts.ReadyRows());
      if (handOver) {
        spare = inserts.TakeReady(std::move(spare));
        out.push_back(spare + rows);
      } else {
        out.push_back(inserts.Ready() + rows);
        inserts.Sent();
      }
    }
  }
  if (inserts.Finish()) out.push_back(inserts.Ready() + "#" + std::to_string(inserts.ReadyRows()));
  return out;
}

std::vector<std::string> Statements(const std::vector<std::size_t>& rowSizes, bool multiRow,
                                    std::size_t maxBytes) {
  return Statements(rowSizes, InsertShape{multiRow, maxBytes, kRowsPerMultiRowInsert});
}

TEST(InsertStatementsTest, MultiRowStatementsEndAtTenRowsOrBeforePassingTheCap) {
  EXPECT_EQ(
      Statements(std::vector<std::size_t>(12, 3), true, 1000),
      (std::vector<std::string>{"I (a),(b),(c),(d),(e),(f),(g),(h),(i),(j)#10", "I (k),(l)#2"}));
  // "I (aaa),(bbb)" is 13 bytes; the third row would make 19, past 18: it starts the next.
  EXPECT_EQ(Statements({5, 5, 5, 5}, true, 18),
            (std::vector<std::string>{"I (aaa),(bbb)#2", "I (ccc),(ddd)#2"}));
  // A row larger than the cap still goes out, alone.
  EXPECT_EQ(
      Statements({5, 30, 5}, true, 20),
      (std::vector<std::string>{"I (aaa)#1", "I (" + std::string(28, 'b') + ")#1", "I (ccc)#1"}));
  EXPECT_EQ(Statements({5, 5}, false, 1), (std::vector<std::string>{"I (aaa)#1", "I (bbb)#1"}));
  EXPECT_TRUE(Statements({}, true, 20).empty());
}

TEST(InsertStatementsTest, HandedOverStatementsAreTheSentOnes) {
  // The row that ends a statement early starts the next one, and a reused buffer brings
  // nothing of its own.
  for (const InsertShape& shape : {InsertShape{true, 18, kRowsPerMultiRowInsert},
                                   InsertShape{true, 20, 0}, InsertShape{false, 20, 0}}) {
    for (const std::vector<std::size_t>& rows :
         {std::vector<std::size_t>{5, 5, 5, 5, 5}, std::vector<std::size_t>{5, 30, 5, 4}}) {
      EXPECT_EQ(Statements(rows, shape, true), Statements(rows, shape));
    }
  }
}

TEST(InsertStatementsTest, FilledStatementsTakeRowsUpToTheSizeWhateverTheirNumber) {
  const InsertShape filled = ChooseInsertShape(false, 18, 0);
  EXPECT_TRUE(filled.MultiRow);
  // Twelve rows of 3 bytes: no ten-row limit, each statement ends before passing 18.
  const std::vector<std::string> out = Statements(std::vector<std::size_t>(12, 3), filled);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], "I (a),(b),(c),(d)#4");
  for (const std::string& statement : out) EXPECT_LE(statement.find('#'), 18u) << statement;
}

TEST(InsertStatementsTest, TheServersPacketBoundsEveryShape) {
  // The task's own shape keeps its ten rows and its size, below a small packet.
  const InsertShape own = ChooseInsertShape(true, 0, 0);
  EXPECT_EQ(own.MaxRows, kRowsPerMultiRowInsert);
  EXPECT_EQ(own.MaxBytes, kMaxMultiRowInsertBytes);
  EXPECT_LT(ChooseInsertShape(true, 0, 64 * 1024).MaxBytes, 64u * 1024);
  // A statement size above the packet leaves room for what the packet adds.
  EXPECT_LT(ChooseInsertShape(false, 1u << 24, 1u << 20).MaxBytes, std::size_t{1} << 20);
  EXPECT_EQ(ChooseInsertShape(false, 4096, 1u << 20).MaxBytes, 4096u);
  EXPECT_FALSE(ChooseInsertShape(false, 0, 1u << 20).MultiRow);
}

TEST(InsertStatementsTest, InsertTargetNamesTheTableOfRowStatementsOnly) {
  EXPECT_EQ(InsertTarget("INSERT INTO `t` VALUES (1)"), "`t`");
  EXPECT_EQ(InsertTarget("\n insert  ignore into `a``b`(x) VALUES (1)"), "`a``b`");
  EXPECT_EQ(InsertTarget("REPLACE DELAYED INTO db.t VALUES (1)"), "db.t");
  EXPECT_EQ(InsertTarget("INSERT INTO `d`.`t` SELECT 1"), "`d`.`t`");
  EXPECT_EQ(InsertTarget("INSERTED INTO t VALUES (1)"), "");
  EXPECT_EQ(InsertTarget("CREATE TABLE t (id INT)"), "");
  EXPECT_EQ(InsertTarget("INSERT INTO `unclosed VALUES (1)"), "");
  EXPECT_EQ(TableLockChangeOf("LOCK TABLES `t` WRITE"), TableLockChange::Lock);
  EXPECT_EQ(TableLockChangeOf("unlock tables"), TableLockChange::Unlock);
  EXPECT_EQ(TableLockChangeOf("LOCKED TABLES"), TableLockChange::None);
}

}  // namespace
}  // namespace brevanto
