// What is thrown on an engine's threads of its own (parallel lanes, the statement sender,
// the read-ahead) reaches the run's thread and is reported there as the run's error: the
// process, and every other task in it, goes on.

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engines/ParallelItems.h"
#include "engines/SqlInput.h"
#include "engines/StatementReadAhead.h"
#include "engines/StatementSender.h"
#include "tests/schedule/RunnerFixture.h"

namespace brevanto {
namespace {

using test::Eventually;

class LaneBoundaryTest : public test::RunnerFixture {};

TEST_F(LaneBoundaryTest, ALaneThatThrowsFailsItsRunLikeTheWorkerAndStopsTheOtherLanes) {
  std::atomic<int> done{0};
  m_owner.SetRoutine(TaskType::ExecuteScript, [&](TaskRunContext& run) {
    RunInParallel(3, 1000, [&](int lane, std::size_t) {
      if (lane == 2) throw std::runtime_error("lane broke");
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      ++done;
      return true;
    });
    run.Log(LogLevel::General, "not reached");
    return RunOutcome::Finished;
  });
  const int index = Add("parallel", ScheduleKind::Manual, TaskType::ExecuteScript);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({index});
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(index); }));
  std::vector<CTaskLogEntry> entries;
  m_log.ReadAll("parallel.log", entries);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().text, "The task stopped on an internal error: lane broke");
  EXPECT_EQ(entries.back().level, static_cast<std::uint8_t>(LogLevel::Error));
  EXPECT_EQ(m_list.LastResultAt(index).Kind, RunResultKind::Failed);
  EXPECT_LT(done.load(), 1000);  // the other lanes stopped after their current item
}

TEST(ThreadBoundaryTest, ASendThatThrowsIsThrownOnTheReadingThread) {
  CStatementSender sender(
      [](const std::string& statement) -> bool {
        if (statement == "2") throw std::runtime_error("send broke");
        return true;
      },
      1);
  bool thrown = false;
  try {
    for (int i = 1; i <= 100; ++i) {
      if (!sender.Push(std::to_string(i))) break;
    }
    (void)sender.Finish();
  } catch (const std::runtime_error& e) {
    thrown = true;
    EXPECT_STREQ(e.what(), "send broke");
  }
  EXPECT_TRUE(thrown);

  // Thrown by the last statement, it comes with Finish().
  CStatementSender last([](const std::string&) -> bool { throw std::runtime_error("x"); }, 4);
  ASSERT_TRUE(last.Push("1"));
  EXPECT_THROW((void)last.Finish(), std::runtime_error);
}

// Gives its text, then throws where a decoder might on a corrupt block.
class BreakingInput : public CSqlInput {
 public:
  explicit BreakingInput(std::string text) : m_text(std::move(text)) {}
  Status Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    if (m_given == m_text.size()) throw std::runtime_error("input broke");
    got = std::min(capacity, m_text.size() - m_given);
    std::memcpy(buffer, m_text.data() + m_given, got);
    m_given += got;
    return Status::Ok();
  }

 private:
  std::string m_text;
  std::size_t m_given = 0;
};

TEST(ThreadBoundaryTest, AReaderThatThrowsIsThrownAfterTheStatementsReadBeforeIt) {
  CStatementReadAhead reader(std::make_unique<BreakingInput>("INSERT INTO t VALUES (1);\n"
                                                             "INSERT INTO t VALUES (2);\n"),
                             CStatementSplitter::kNoLimit, true);
  SqlStatement statement;
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "INSERT INTO t VALUES (1)");
  ASSERT_EQ(reader.Next(statement), SplitResult::Statement);
  EXPECT_EQ(statement.Text, "INSERT INTO t VALUES (2)");
  try {
    (void)reader.Next(statement);
    ADD_FAILURE() << "the reader's exception was not thrown";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "input broke");
  }
}

}  // namespace
}  // namespace brevanto
