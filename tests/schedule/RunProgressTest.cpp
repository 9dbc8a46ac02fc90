// A run's progress and outcome as the task list sees them: the tracker's percentage, the
// runner's copies into the task's slot, and the last result read back from the log.

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "schedule/LastRunResult.h"
#include "schedule/ProgressTracker.h"
#include "schedule/RunStatusText.h"
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

// Two lane keys, as two threads of a run that are alive at once have.
std::pair<CProgressTracker::Lane, CProgressTracker::Lane> TwoLanes() {
  std::thread first([] {}), second([] {});
  const auto lanes = std::make_pair(first.get_id(), second.get_id());
  first.join();
  second.join();
  return lanes;
}

TEST(ProgressTrackerTest, TablesGoingTwoAtATimeCountEachLaneAgainstThePlan) {
  const auto [a, b] = TwoLanes();
  CProgressTracker tracker;
  tracker.Plan(400);  // four tables of 100 rows
  tracker.StartItem("db.t1", 100, a);
  tracker.StartItem("db.t2", 100, b);  // t1 is still under way on its own lane
  tracker.Advance(10, 0, a);
  tracker.Advance(10, 0, b);
  EXPECT_EQ(tracker.Snapshot().Permille, 50);
  EXPECT_EQ(tracker.Snapshot().Item, "db.t2");
  EXPECT_EQ(tracker.Snapshot().ItemDone, 10);

  // Lane a finishes t1 and takes t3; t2's rows keep counting as t2's.
  tracker.Advance(90, 0, a);
  tracker.StartItem("db.t3", 100, a);
  tracker.Advance(40, 0, b);
  EXPECT_EQ(tracker.Snapshot().Permille, 375);
  EXPECT_EQ(tracker.Snapshot().Item, "db.t3");
  EXPECT_EQ(tracker.Snapshot().ItemDone, 0);
  tracker.StartItem("db.t4", 100, b);
  tracker.Advance(100, 0, a);
  tracker.Advance(99, 0, b);
  EXPECT_EQ(tracker.Snapshot().Permille, 997);
  EXPECT_EQ(tracker.Snapshot().RowsDone, 349);
  tracker.Complete();
  EXPECT_EQ(tracker.Snapshot().Permille, 1000);
}

TEST(ProgressTrackerTest, ARunWithoutPlanShowsNothingUntilItCompletes) {
  CProgressTracker tracker;
  tracker.StartItem("a", 10);
  tracker.Advance(10, 0);
  EXPECT_EQ(tracker.Snapshot().Permille, 0);
  tracker.Complete();
  EXPECT_EQ(tracker.Snapshot().Permille, 1000);
}

// Columns as a terminal counts them: UTF-8 continuation bytes take none.
std::size_t Columns(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return columns;
}

TaskProgress Running(int permille, std::int64_t units, std::int64_t bytes, std::string item) {
  return {true, std::move(item), 0, 0, units, bytes, permille};
}

TEST(ProgressBarLineTest, NamesTheTaskItsFiguresAndTheTimeLeft) {
  TaskProgress progress = Running(250, 12345, 1572864, "db.orders");
  EXPECT_EQ(ProgressBarLine("Nightly", TaskType::BackupToFiles, progress, 60, 200),
            "Nightly  [#####...............]  25 %, 3 min left  12345 rows  1.5 MB  db.orders");

  // Copies write nothing to files; restores count the bytes they read, scripts statements.
  progress.BytesWritten = 0;
  progress.Item.clear();
  EXPECT_EQ(ProgressBarLine("Copy", TaskType::BackupToServer, progress, 3, 200),
            "Copy  [#####...............]  25 %  12345 rows");
  progress.RowsDone = 3 * 1024 * 1024 / 2;
  EXPECT_EQ(ProgressBarLine("R", TaskType::RestoreFromFiles, progress, 3, 200),
            "R  [#####...............]  25 %  1.5 MB read");
  progress.RowsDone = 7;
  EXPECT_EQ(ProgressBarLine("S", TaskType::ExecuteScript, progress, 3, 200),
            "S  [#####...............]  25 %  7 statements");
  progress.Permille = 1000;
  EXPECT_EQ(ProgressBarLine("S", TaskType::ExecuteScript, progress, 3, 200),
            "S  [####################]  100 %  7 statements");

  EXPECT_EQ(ByteCountText(0), "0 B");
  EXPECT_EQ(ByteCountText(2047), "1 KB");
  EXPECT_EQ(ByteCountText(5LL << 40), "5.0 TB");
}

TEST(ProgressBarLineTest, NarrowTerminalsKeepThePercentageAndWholeCharacters) {
  const TaskProgress progress = Running(420, 99, 4096, "shop.customers");
  const std::string name = "Sauvegarde \xc3\xa9t\xc3\xa9 quotidienne";
  const std::string full = ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, 500);
  EXPECT_EQ(full, name + "  [########............]  42 %  99 rows  4 KB  shop.customers");

  // The item goes first, then the bar narrows, then it goes, then the name shrinks.
  EXPECT_EQ(ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, Columns(full) - 1),
            name + "  [########............]  42 %  99 rows  4 KB");
  EXPECT_EQ(ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, 61),
            name + "  [####......]  42 %  99 rows  4 KB");
  EXPECT_EQ(ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, 50),
            name + "  42 %  99 rows  4 KB");
  EXPECT_EQ(ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, 34),
            "Sauvegarde \xc3\xa9~  42 %  99 rows  4 KB");

  for (std::size_t width = 0; width <= Columns(full); ++width) {
    SCOPED_TRACE("width " + std::to_string(width));
    const std::string line = ProgressBarLine(name, TaskType::BackupToFiles, progress, 3, width);
    EXPECT_LE(Columns(line), width);
    if (width >= 4) {
      EXPECT_NE(line.find("42"), std::string::npos);
    }
    // Never half a character: "é" is two bytes, both kept or both cut.
    for (std::size_t at = line.find('\xc3'); at != std::string::npos;
         at = line.find('\xc3', at + 1)) {
      ASSERT_LT(at + 1, line.size());
      EXPECT_EQ(line[at + 1], '\xa9');
    }
  }
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
      {"unknown level counts as Error",
       {start, Entry(LogLevel(7), "x")},
       {RunResultKind::Failed, 1, 0},
       1},
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
      // Few units, each slow (a script's statements): every step must show at once.
      run.ProgressPlan(4);
      run.ProgressItem("db.t", 4);
      for (int i = 0; i < 2; ++i) run.ProgressAdvance(1, 3200);
      m_halfway.Open();
      m_goOn.Wait();
      for (int i = 0; i < 2; ++i) run.ProgressAdvance(1, 3200);
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
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({index});
  m_halfway.Wait();
  TaskProgress progress = m_list.ProgressAt(index);
  EXPECT_TRUE(progress.Active);
  EXPECT_EQ(progress.Permille, 500);
  EXPECT_EQ(progress.Item, "db.t");
  EXPECT_EQ(progress.BytesWritten, 6400);

  m_goOn.Open();
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(index); }));
  progress = m_list.ProgressAt(index);
  EXPECT_FALSE(progress.Active);
  EXPECT_EQ(progress.Permille, 1000);
  EXPECT_EQ(m_list.LastResultAt(index), (TaskRunResult{RunResultKind::Failed, 1, 0}));

  // The same outcome read back from the log, as after a restart.
  EXPECT_EQ(ReadLastRunResult(m_log, "export.log"), m_list.LastResultAt(index));
}

TEST_F(RunProgressTest, LanesOfARunEachCountTheirOwnTable) {
  // Two lanes, each on a thread of its own with its calls serialised as an engine does,
  // each halfway through a table of four planned.
  m_owner.SetRoutine(TaskType::ExportToFiles, [this](TaskRunContext& run) {
    run.ProgressPlan(400);
    std::mutex serial;
    Gate bothStarted;
    std::atomic<int> started{0};
    auto lane = [&](const std::string& table) {
      {
        std::lock_guard lock(serial);
        run.ProgressItem(table, 100);
      }
      if (++started == 2) bothStarted.Open();
      bothStarted.Wait();
      for (int i = 0; i < 50; ++i) {
        std::lock_guard lock(serial);
        run.ProgressAdvance(1, 0);
      }
    };
    std::thread first(lane, "db.t1"), second(lane, "db.t2");
    first.join();
    second.join();
    m_halfway.Open();
    m_goOn.Wait();
    return RunOutcome::Finished;
  });
  const int index = Add("export", ScheduleKind::Manual, TaskType::ExportToFiles);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({index});
  m_halfway.Wait();
  EXPECT_EQ(m_list.ProgressAt(index).Permille, 250);  // 100 rows of 400
  m_goOn.Open();
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(index); }));
  EXPECT_EQ(m_list.ProgressAt(index).Permille, 1000);
}

}  // namespace
}  // namespace brevanto
