// The headless scheduler's loop over a simulated clock: it runs an interval task on its
// schedule, takes in tasks another program adds to the task file while it runs, and at a
// stop request saves everything it did.

#include "appcore/Scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "logs/TaskLog.h"
#include "tasks/TaskFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

CTaskItem IntervalTask(const std::string& name, int minutes) {
  CTaskItem task;
  task.TaskName = name;
  task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
  task.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::TimeInterval);
  task.Schedule.IntervalMinutes = minutes;
  task.ScriptStatements = {"SELECT 1"};
  task.LogFileName = name + ".log";
  return task;
}

class SchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTaskFile(m_dir.file(kTaskFileName), {IntervalTask("every minute", 1)}));
    m_core.ShareTaskFile();
    m_core.Start();
    TaskRoutineTable routines;
    routines[TaskType::ExecuteScript] = [this](TaskRunContext& run) {
      run.Log(LogLevel::General, "work");
      ++m_runs;
      if (!m_recordWhenStopped.exchange(false)) return RunOutcome::Finished;
      // A run that ends as it is stopped records its copy, as a dump does on its way out.
      m_inGatedRun = true;
      while (!run.StopRequested()) std::this_thread::yield();
      m_stopSeen = true;
      BackupCopy copy;
      copy.BackupTime = {2026, 12, 7, 9, 1, 0};
      copy.CopyFiles = {"/nowhere/copy.sql"};
      (void)run.RecordBackupCopy(copy);
      return RunOutcome::Canceled;
    };
    SchedulerHooks hooks;
    hooks.StopRequested = [this] { return m_stop.load(); };
    hooks.Say = [this](const std::string& text) {
      std::lock_guard lock(m_saidLock);
      m_said.push_back(text);
    };
    m_loop =
        std::thread([this, routines, hooks] {
      m_code = RunScheduler(m_core, routines, hooks);
      m_ended = true;
    });
  }

  void TearDown() override {
    if (m_loop.joinable()) Stop();
  }

  // Moves simulated time on in small steps until `done` or `limitMs` passed.
  template <typename Done>
  bool AdvanceUntil(Done done, std::int64_t limitMs) {
    for (std::int64_t ms = 0; ms < limitMs && !done(); ms += 100) {
      // The loop and the interval task's worker both wait before time moves on.
      if (!m_clock.WaitForSleepers(2)) return false;
      m_clock.Advance(100);
    }
    return done();
  }

  // Moves time on whenever the loop and the worker both sleep, until `done`. Unlike
  // AdvanceUntil it lets a worker stay inside its run, and time stands while one thread
  // works (a stop under way, say). False when nothing moves for 10 s.
  template <typename Done>
  bool AdvanceWhileAsleepUntil(Done done) {
    auto idleSince = std::chrono::steady_clock::now();
    while (!done()) {
      if (m_clock.SleepersAhead() >= 2) {
        m_clock.Advance(100);
        idleSince = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - idleSince > std::chrono::seconds(10)) {
        return false;
      }
      std::this_thread::yield();
    }
    return true;
  }

  // As brevanto-run --import and --delete do it: under the task-file lock, a whole new file.
  template <typename Change>
  void ChangeTheFileAsAnotherProgram(Change change) {
    CApplicationCore other(m_dir.path(), m_clock);
    other.ShareTaskFile();
    CApplicationCore::TaskFileHold hold(other);
    other.Start();
    change(other.Tasks());
    ASSERT_TRUE(other.SaveTasks());
  }

  bool Said(const std::string& text) {
    std::lock_guard lock(m_saidLock);
    return std::find(m_said.begin(), m_said.end(), text) != m_said.end();
  }

  void Stop() {
    m_stop = true;
    // The loop may be between two sleeps when the flag is set: keep waking it until it ends.
    while (!m_ended) {
      m_clock.Advance(1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_loop.join();
  }

  test::TempDir m_dir;
  test::FakeClock m_clock{test::MakeTime(2026, 12, 7, 9, 0, 0)};
  CApplicationCore m_core{m_dir.path(), m_clock};
  std::atomic<int> m_runs{0};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_ended{false};
  std::atomic<int> m_code{-1};
  std::atomic<bool> m_recordWhenStopped{false};
  std::atomic<bool> m_inGatedRun{false};
  std::atomic<bool> m_stopSeen{false};
  std::mutex m_saidLock;  // guards m_said
  std::vector<std::string> m_said;
  std::thread m_loop;
};

TEST_F(SchedulerTest, RunsAnIntervalTaskOnScheduleAndSavesAtStop) {
  ASSERT_TRUE(AdvanceUntil([this] { return m_runs >= 2; }, 3 * 60 * 1000));
  EXPECT_EQ(m_runs, 2);
  Stop();
  EXPECT_EQ(m_code, 0);
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file(kTaskFileName), saved), TaskFileReadResult::Loaded);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_FALSE(saved[0].LastRunTime.IsNever());
  std::vector<CTaskLogEntry> entries;
  m_core.TaskLog().ReadAll("every minute.log", entries);
  int finished = 0;
  for (const CTaskLogEntry& entry : entries) finished += entry.text == "Finished" ? 1 : 0;
  // Stop may let the clock pass another run's time before the loop notices.
  EXPECT_EQ(finished, m_runs.load());
}

TEST_F(SchedulerTest, TakesInTasksAnotherProgramWritesAndKeepsThemAtStop) {
  ASSERT_TRUE(AdvanceUntil([this] { return m_core.Tasks().Count() == 1; }, 1000));
  {
    // As brevanto-run --import does it: under the task-file lock, a whole new file.
    CApplicationCore other(m_dir.path(), m_clock);
    other.ShareTaskFile();
    CApplicationCore::TaskFileHold hold(other);
    other.Start();
    CTaskItem added = IntervalTask("added", 60);
    added.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::Manual);
    other.Tasks().AddTask(added);
    ASSERT_TRUE(other.SaveTasks());
  }
  ASSERT_TRUE(AdvanceUntil([this] { return m_core.Tasks().Count() == 2; }, 5000));
  // The running schedule was left alone.
  ASSERT_TRUE(AdvanceUntil([this] { return m_runs >= 1; }, 2 * 60 * 1000));
  Stop();
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file(kTaskFileName), saved), TaskFileReadResult::Loaded);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].TaskName, "every minute");
  EXPECT_FALSE(saved[0].LastRunTime.IsNever());
  EXPECT_EQ(saved[1].TaskName, "added");
}

// Taking in another program's change ends with a save; one that fails (a full disk) is
// said then, not left unsaid until the exit.
TEST_F(SchedulerTest, SaysWhenTheListItTookInCannotBeSaved) {
  ASSERT_TRUE(AdvanceUntil([this] { return m_core.Tasks().Count() == 1; }, 1000));
  ASSERT_TRUE(m_clock.WaitForSleepers(2));  // the loop looks again only once time moves
  ChangeTheFileAsAnotherProgram([](CTaskList& tasks) {
    CTaskItem added = IntervalTask("added", 60);
    added.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::Manual);
    tasks.AddTask(added);
  });
  const std::string notSaved = "the task file " + m_core.TaskFilePath() + " could not be saved";
  {
    const test::FileSizeLimit full(16);
    EXPECT_TRUE(AdvanceUntil([&] { return Said(notSaved); }, 5000));
  }
  EXPECT_EQ(m_core.Tasks().Count(), 2);
  Stop();
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(m_dir.file(kTaskFileName), saved), TaskFileReadResult::Loaded);
  EXPECT_EQ(saved.size(), 2u);  // the save at exit, with room again, kept it
}

// A worker's save after its run must not land on a file the scheduler has not read yet.
TEST_F(SchedulerTest, NeverSavesOverATaskFileItCannotRead) {
  ASSERT_TRUE(AdvanceUntil([this] { return m_core.Tasks().Count() == 1; }, 1000));
  ASSERT_TRUE(test::WriteWholeFile(m_dir.file("damaged"), "not a task file"));
  ASSERT_EQ(std::rename(m_dir.file("damaged").c_str(), m_dir.file(kTaskFileName).c_str()), 0);
  ASSERT_TRUE(AdvanceUntil([this] { return m_runs >= 1; }, 2 * 60 * 1000));
  Stop();
  EXPECT_EQ(test::ReadWholeFile(m_dir.file(kTaskFileName)), "not a task file");
}

// Taking in a file that replaces or deletes a running task stops that task while its
// worker saves the copy it just recorded: the stop must not wait under the task-file
// hold that save needs, or the loop never looks again and never stops.
TEST_F(SchedulerTest, TakesInAReplacedOrDeletedRunningTaskWhileItsRunRecordsACopy) {
  for (const bool replace : {true, false}) {
    SCOPED_TRACE(replace ? "replaced" : "deleted");
    m_inGatedRun = false;
    m_stopSeen = false;
    m_recordWhenStopped = true;
    ASSERT_TRUE(AdvanceWhileAsleepUntil([this] { return m_inGatedRun.load(); }));
    ChangeTheFileAsAnotherProgram([replace](CTaskList& tasks) {
      const int index = tasks.FindByName("every minute");
      if (!replace) return tasks.RemoveAt(index);
      CTaskItem edited = tasks.At(index);
      edited.Schedule.IntervalMinutes = 2;
      tasks.Replace(index, edited);
    });
    // The loop's next look finds the change and stops the run; no time passes until the
    // run has seen the stop, so the stop's deadline cannot.
    ASSERT_TRUE(m_clock.WaitForSleepers(1));
    m_clock.Advance(500);
    ASSERT_TRUE(AdvanceWhileAsleepUntil([this] { return m_stopSeen.load(); }));
    ASSERT_TRUE(AdvanceWhileAsleepUntil([this, replace] {
      const int index = m_core.Tasks().FindByName("every minute");
      return replace ? m_core.Tasks().At(index).Schedule.IntervalMinutes == 2 : index < 0;
    }));
    // The copy the stopped run recorded stays the replaced task's.
    if (replace) {
      EXPECT_EQ(m_core.Tasks().At(0).BackupHistory.size(), 1u);
    }
  }
  Stop();
  EXPECT_FALSE(FileExists(m_dir.file(kTaskFileName)));  // an empty list is saved as no file
}

}  // namespace
}  // namespace brevanto
