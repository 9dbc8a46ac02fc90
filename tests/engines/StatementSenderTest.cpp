#include "engines/StatementSender.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace brevanto {
namespace {

TEST(StatementSenderTest, SendsInOrderWithFewStatementsWaiting) {
  constexpr std::size_t kDepth = 2;
  std::atomic<int> pushed{0};
  std::vector<std::string> sent;
  int mostOutstanding = 0;
  CStatementSender sender(
      [&](const std::string& statement) {
        mostOutstanding = std::max(mostOutstanding, pushed - static_cast<int>(sent.size()));
        sent.push_back(statement);
        return true;
      },
      kDepth);
  std::vector<std::string> expected;
  for (int i = 0; i < 500; ++i) {
    std::string statement = sender.TakeSpare();
    statement.assign("INSERT " + std::to_string(i));
    expected.push_back(statement);
    ASSERT_TRUE(sender.Push(std::move(statement)));
    ++pushed;
  }
  EXPECT_TRUE(sender.Finish());
  EXPECT_EQ(sent, expected);
  // The one being sent and those waiting: the reader never runs further ahead.
  EXPECT_LE(mostOutstanding, static_cast<int>(kDepth) + 1);
}

TEST(StatementSenderTest, AFailedSendKeepsItsStatementAndNothingAfterItIsSent) {
  std::mutex lock;
  std::vector<std::string> tried;
  CStatementSender sender(
      [&](const std::string& statement) {
        std::lock_guard guard(lock);
        tried.push_back(statement);
        return statement != "3";
      },
      2);
  int accepted = 0;
  for (int i = 1; i <= 100; ++i) {
    if (!sender.Push(std::to_string(i))) break;
    ++accepted;
  }
  EXPECT_LT(accepted, 100);  // once the failure is known, nothing more is taken
  EXPECT_FALSE(sender.Finish());
  EXPECT_EQ(sender.Failed(), "3");
  EXPECT_EQ(tried, (std::vector<std::string>{"1", "2", "3"}));
}

}  // namespace
}  // namespace brevanto
