#include "engines/InsertStatements.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

// Feeds rows of the given sizes and returns the statements as they come out.
std::vector<std::string> Statements(const std::vector<std::size_t>& rowSizes, bool multiRow,
                                    std::size_t maxBytes) {
  CInsertStatements inserts("I ", multiRow, maxBytes);
  std::vector<std::string> out;
  char name = 'a';
  for (const std::size_t size : rowSizes) {
    const std::string row = "(" + std::string(size - 2, name++) + ")";
    if (inserts.AddRow([&](std::string& text) { text += row; })) {
      out.push_back(inserts.Ready() + "#" + std::to_string(inserts.ReadyRows()));
      inserts.Sent();
    }
  }
  if (inserts.Finish()) out.push_back(inserts.Ready() + "#" + std::to_string(inserts.ReadyRows()));
  return out;
}

TEST(InsertStatementsTest, MultiRowStatementsEndAtTenRowsOrBeforePassingTheCap) {
  EXPECT_EQ(Statements(std::vector<std::size_t>(12, 3), true, 1000),
            (std::vector<std::string>{"I (a),(b),(c),(d),(e),(f),(g),(h),(i),(j)#10",
                                      "I (k),(l)#2"}));
  // "I (aaa),(bbb)" is 13 bytes; the third row would make 19, past 18: it starts the next.
  EXPECT_EQ(Statements({5, 5, 5, 5}, true, 18),
            (std::vector<std::string>{"I (aaa),(bbb)#2", "I (ccc),(ddd)#2"}));
  // A row larger than the cap still goes out, alone.
  EXPECT_EQ(Statements({5, 30, 5}, true, 20),
            (std::vector<std::string>{"I (aaa)#1", "I (" + std::string(28, 'b') + ")#1",
                                      "I (ccc)#1"}));
  EXPECT_EQ(Statements({5, 5}, false, 1), (std::vector<std::string>{"I (aaa)#1", "I (bbb)#1"}));
  EXPECT_TRUE(Statements({}, true, 20).empty());
}

}  // namespace
}  // namespace brevanto
