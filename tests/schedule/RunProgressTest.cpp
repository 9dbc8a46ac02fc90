// A run's progress and outcome as the task list sees them: the tracker's percentage, the
// runner's copies into the task's slot, and the last result read back from the log.

#include <gtest/gtest.h>

#include "schedule/LastRunResult.h"
#include "schedule/ProgressTracker.h"
#include "tests/schedule/RunnerFixture.h"

namespace brevanto {
namespace {

using test::Eventually;
using test::Gate;

TEST(ProgressTrackerTest, EstimatesThatAreWrongNeitherGoBackNorClaimTheEndEarly) {
  CProgressTracker tracker;
  std::vector<int> seen;
  auto note = [&] { seen.push_back(tracker.Snapshot().Permille); };
  // Three tables estimated at 100, 0 (a view) and 50 rows: shares 100 + 1 + 50.
  tracker.Plan(151);
  tracker.StartItem("db.big", 100);
  for (int i = 0; i < 250; ++i) {  // the statistics were far too low
    tracker.Advance(1, 10);
    note();
  }
  EXPECT_LT(tracker.Snapshot().Permille, 1000);
  tracker.StartItem("db.view", 0);
  note();
  tracker.StartItem("db.small", 50);
  tracker.Advance(5, 10);  // far too high: the table had 5 rows
  note();
  tracker.FinishItem();
  note();

  for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_GE(seen[i], seen[i - 1]) << "at " << i;
  EXPECT_EQ(seen.back(), 1000);
  EXPECT_EQ(tracker.Snapshot().RowsDone, 255);
  EXPECT_EQ(tracker.Snapshot().BytesWritten, 2510);
  EXPECT_EQ(tracker.Snapshot().Item, "db.small");
}

TEST(ProgressTrackerTest, ARunWithoutPlanShowsNothingUntilItCompletes) {
  CProgressTracker tracker;
  tracker.StartItem("a", 10);
  tracker.Advance(10, 0);
  EXPECT_EQ(tracker.Snapshot().Permille, 0);
  tracker.Complete();
  EXPECT_EQ(tracker.Snapshot().Permille, 1000);
}

CTaskLogEntry Entry(LogLevel level, const std::string& text) {
  CTaskLogEntry entry;
  entry.level = static_cast<std::uint8_t>(level);
  entry.text = text;
  return entry;
}

TEST(LastRunResultTest, ReadsTheLastRunOnly) {
  const CTaskLogEntry start = Entry(LogLevel::General, "Running...");
  const CTaskLogEntry finished = Entry(LogLevel::General, "Finished");
  const CTaskLogEntry error = Entry(LogLevel::Error, "Failed to use database a");
  const CTaskLogEntry canceled = Entry(LogLevel::Warning, "User canceled!");
  struct Case {
    const char* name;
    std::vector<CTaskLogEntry> entries;
    TaskRunResult expected;
    int firstError;
  } cases[] = {
      {"no run yet", {}, {}, -1},
      {"finished", {start, finished}, {RunResultKind::Ok, 0, 0}, -1},
      {"errors, then finished", {start, error, error, finished}, {RunResultKind::Failed, 2, 0}, 1},
      {"canceled", {start, canceled}, {RunResultKind::Canceled, 0, 1}, -1},
      {"failed earlier, fine now", {start, error, start, finished}, {RunResultKind::Ok, 0, 0}, -1},
      {"cut short by a crash", {start, Entry(LogLevel::General, "work")}, {}, -1},
      {"unknown level counts as Error", {start, Entry(LogLevel(7), "x")}, {RunResultKind::Failed, 1, 0}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LastRunResultOf(c.entries), c.expected);
    EXPECT_EQ(FindLastRunFirstError(c.entries), c.firstError);
  }
}

class RunProgressTest : public test::RunnerFixture {
 protected:
  int AddReporting() {
    m_owner.SetRoutine(TaskType::ExportToFiles, [this](TaskRunContext& run) {
      run.ProgressPlan(128);
      run.ProgressItem("db.t", 128);
      for (int i = 0; i < 64; ++i) run.ProgressAdvance(1, 100);
      m_halfway.Open();
      m_goOn.Wait();
      for (int i = 0; i < 64; ++i) run.ProgressAdvance(1, 100);
      if (m_fail) run.Log(LogLevel::Error, "broken");
      return RunOutcome::Finished;
    });
    return Add("export", ScheduleKind::Manual, TaskType::ExportToFiles);
  }

  Gate m_halfway, m_goOn;
  bool m_fail = false;
};

TEST_F(RunProgressTest, TheListSeesTheRunGoAndItsOutcomeStay) {
  const int index = AddReporting();
  m_fail = true;
  ASSERT_EQ(m_list.StartRunner(&m_owner), 0);
  m_commands.RunImmediately({index});
  m_halfway.Wait();
  TaskProgress progress = m_list.ProgressAt(index);
  EXPECT_TRUE(progress.Active);
  EXPECT_EQ(progress.Permille, 500);
  EXPECT_EQ(progress.Item, "db.t");
  EXPECT_EQ(progress.BytesWritten, 6400);

  m_goOn.Open();
  ASSERT_TRUE(Eventually([&] { return !m_list.HasWorker(index); }));
  progress = m_list.ProgressAt(index);
  EXPECT_FALSE(progress.Active);
  EXPECT_EQ(progress.Permille, 1000);
  EXPECT_EQ(m_list.LastResultAt(index), (TaskRunResult{RunResultKind::Failed, 1, 0}));

  // The same outcome read back from the log, as after a restart.
  EXPECT_EQ(ReadLastRunResult(m_log, "export.log"), m_list.LastResultAt(index));
}

}  // namespace
}  // namespace brevanto
