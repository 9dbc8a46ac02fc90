// The runner in simulated time: workers sleep on the FakeClock, so each Advance meets
// them at a known point and nothing depends on how fast the machine is.

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <gtest/gtest.h>

#include "core/Clock.h"
#include "schedule/Calendar.h"
#include "tasks/TaskFile.h"
#include "tests/schedule/RunnerFixture.h"

namespace brevanto {
namespace {

using test::Eventually;
using test::MakeTime;
using Texts = std::vector<std::string>;

class RunnerTest : public test::RunnerFixture {};

TEST_F(RunnerTest, StartAndStopCodes) {
  EXPECT_EQ(m_runner.Stop(), -5003);
  EXPECT_EQ(m_runner.Start(nullptr), -5004);
  Add("daily", ScheduleKind::EveryDay);
  EXPECT_EQ(m_runner.Start(&m_owner), 0);
  EXPECT_EQ(m_runner.Start(&m_owner), -5001);
  EXPECT_TRUE(m_runner.Started());
  EXPECT_EQ(m_runner.Stop(), 0);
  EXPECT_FALSE(m_runner.Started());
  EXPECT_EQ(m_list.Count(), 0);  // stopping also empties the list
  EXPECT_EQ(m_runner.Stop(), -5003);
}

TEST_F(RunnerTest, StartRunnerLaunchesScheduledTasksOnly) {
  Add("manual", ScheduleKind::Manual);
  Add("daily", ScheduleKind::EveryDay);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_TRUE(m_runner.HasWorker(1));
  EXPECT_EQ(StatusOf(0), TaskStatus::Stop);
  EXPECT_EQ(StatusOf(1), TaskStatus::Waiting);
  EXPECT_EQ(m_list.At(1).WorkerStartTime, MakeTime(2024, 3, 5, 8, 0, 0));
  EXPECT_EQ(m_list.At(1).NextRunTime, MakeTime(2024, 3, 5, 23, 0));
}

TEST_F(RunnerTest, RunImmediatelyOnAStoppedManualTaskRunsOnceAndEndsTheThread) {
  Add("manual", ScheduleKind::Manual);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_clock.Advance(61000);
  m_commands.RunImmediately({0});
  ASSERT_EQ(m_questions, Texts{"Do you want to RUN the task (manual) immediately?"});
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(0); }));
  EXPECT_EQ(m_runs, 1);
  const CTaskItem task = m_list.At(0);
  EXPECT_EQ(task.GetStatus(), TaskStatus::Stop);
  EXPECT_EQ(task.RunImmediately, 0);
  EXPECT_EQ(task.LastRunTime, MakeTime(2024, 3, 5, 8, 1, 1));
  EXPECT_EQ(Entries(0), (Texts{"Run task immediately", "Running...", "work", "Finished"}));
  EXPECT_EQ(m_clock.SleepersAhead(), 0);  // it never waited
}

TEST_F(RunnerTest, RunImmediatelyOnAWaitingTaskIsTakenByItsOwnWorker) {
  Add("daily", ScheduleKind::EveryDay);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  const TaskDateTime workerStart = m_list.At(0).WorkerStartTime;
  m_clock.Advance(5000);  // a second thread would stamp a later start
  ASSERT_TRUE(m_clock.WaitForSleepers(1));

  m_commands.RunImmediately({0});
  EXPECT_TRUE(m_runner.HasWorker(0));
  m_clock.Advance(100);
  ASSERT_TRUE(Eventually([&] { return m_runs == 1; }));
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(m_clock.SleepersAhead(), 1);
  const CTaskItem task = m_list.At(0);
  EXPECT_EQ(task.WorkerStartTime, workerStart);
  EXPECT_EQ(task.GetStatus(), TaskStatus::Waiting);
  EXPECT_EQ(task.LastRunTime, MakeTime(2024, 3, 5, 8, 0, 5));
  EXPECT_EQ(task.NextRunTime, MakeTime(2024, 3, 5, 23, 0));  // the schedule is unchanged
  EXPECT_EQ(Entries(0), (Texts{"Run task immediately", "Running...", "work", "Finished"}));
}

TEST_F(RunnerTest, ScheduledRunHappensOnceInItsMinute) {
  Add("daily", ScheduleKind::EveryDay, TaskType::BackupToServer, 8, 30);
  m_clock.SetNow(MakeTime(2024, 3, 5, 8, 29, 59));
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  for (int poll = 0; poll < 600; ++poll) {  // one simulated minute, poll by poll
    ASSERT_TRUE(m_clock.WaitForSleepers(1));
    m_clock.Advance(100);
  }
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(m_runs, 1);
  EXPECT_EQ(m_list.At(0).LastRunTime, MakeTime(2024, 3, 5, 8, 30, 0));
  EXPECT_EQ(m_list.At(0).NextRunTime, MakeTime(2024, 3, 5, 8, 30));  // until the minute ends
  m_clock.Advance(1000);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(m_list.At(0).NextRunTime, MakeTime(2024, 3, 6, 8, 30));
  EXPECT_EQ(Entries(0), (Texts{"Running...", "work", "Finished"}));
}

TEST_F(RunnerTest, StoppingAWaitingTaskNeedsNoTimeAndLogsOnlyTheStop) {
  Add("daily", ScheduleKind::EveryDay);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  const std::int64_t before = m_clock.MonotonicMs();
  m_commands.Stop({0});
  EXPECT_EQ(m_clock.MonotonicMs(), before);  // woken at once, not after its 100 ms poll
  EXPECT_TRUE(m_questions.empty());
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_EQ(StatusOf(0), TaskStatus::Stop);
  EXPECT_EQ(Entries(0), Texts{"Stop task"});
}

TEST_F(RunnerTest, StoppingARunningTaskAsksAndTheWorkerCancels) {
  Add("restore", ScheduleKind::Manual, TaskType::RestoreFromServer);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0});
  m_running.Wait();
  ASSERT_TRUE(Eventually([&] { return StatusOf(0) == TaskStatus::Running; }));

  m_answer = Answer::No;
  m_commands.Stop({0});
  EXPECT_TRUE(m_runner.HasWorker(0));
  EXPECT_EQ(StatusOf(0), TaskStatus::Running);

  m_answer = Answer::Yes;
  m_commands.Stop({0});
  EXPECT_EQ(m_questions.back(), "Do you want to STOP the task (restore -- Running) now?");
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_EQ(StatusOf(0), TaskStatus::Stop);
  EXPECT_EQ(Entries(0), (Texts{"Run task immediately", "Running...", "Stop task", "User canceled!"}));
}

TEST_F(RunnerTest, AWorkerThatIgnoresTheStopIsCancelledAbandonedAndTheLogSaysSo) {
  Add("stuck", ScheduleKind::EveryDay, TaskType::RestoreFromDatabase);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  m_commands.RunImmediately({0});
  m_clock.Advance(100);
  m_running.Wait();
  // The stopper waits its 3000 ms on the simulated clock; this thread lets them pass.
  std::thread deadline([&] {
    if (m_clock.WaitForSleepers(1)) m_clock.Advance(3000);
  });
  m_commands.Stop({0});
  deadline.join();
  EXPECT_TRUE(m_cancelled.IsOpen());  // its connections were cancelled
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_EQ(StatusOf(0), TaskStatus::Stop);

  // The abandoned thread still holds its slot; removing the task frees nothing it uses.
  std::weak_ptr<TaskSlot> slot = m_list.SlotAt(0);
  const std::string logFile = m_list.At(0).LogFileName;
  m_list.RemoveAt(0);
  ASSERT_TRUE(Eventually([&] { return slot.expired(); }));
  EXPECT_TRUE(m_returned.IsOpen());
  std::vector<CTaskLogEntry> entries;
  m_log.ReadAll(logFile, entries);
  // The outcome is plain though the worker can no longer write: no "Finished".
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1].text, "Running...");
  EXPECT_EQ(entries[2].text, "Stop task");
  EXPECT_EQ(entries[3].text, "User canceled!");
}

TEST_F(RunnerTest, StoppingWithoutWaitingNeverBlocksAndFinishesLater) {
  m_commands.StopWithoutWaiting();
  Add("restore", ScheduleKind::Manual, TaskType::RestoreFromServer);
  Add("stuck", ScheduleKind::Manual, TaskType::RestoreFromDatabase);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0, 1});
  ASSERT_TRUE(Eventually(
      [&] { return StatusOf(0) == TaskStatus::Running && StatusOf(1) == TaskStatus::Running; }));

  const std::int64_t before = m_clock.MonotonicMs();
  m_commands.Stop({0, 1});
  EXPECT_EQ(m_clock.MonotonicMs(), before);  // nothing waited
  EXPECT_TRUE(m_runner.IsStopping(1));
  // The answering worker ends by itself; the deaf one is cancelled once its time is up.
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(0); }));
  m_runner.FinishStops();
  EXPECT_FALSE(m_runner.IsStopping(0));
  EXPECT_TRUE(m_runner.IsStopping(1));
  EXPECT_FALSE(m_cancelled.IsOpen());
  m_clock.Advance(3000);
  m_runner.FinishStops();
  EXPECT_FALSE(m_runner.IsStopping(1));
  EXPECT_FALSE(m_runner.HasWorker(1));
  m_cancelled.Wait();  // on a thread of its own
  for (int i : {0, 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(StatusOf(i), TaskStatus::Stop);
    EXPECT_EQ(Entries(i).back(), "User canceled!");
  }
}

// A cancel hook that throws, stopped both waiting (on the stopper's thread) and without
// waiting (on a thread of its own): the stop completes and the log says why the server
// side may still be busy, instead of the process ending.
TEST_F(RunnerTest, ACancelHookThatThrowsIsAWarningWhereverItRuns) {
  m_owner.SetRoutine(TaskType::ExecuteScript, [&](TaskRunContext& run) {
    run.SetCancelHook([] { throw std::runtime_error("socket gone"); });
    m_running.Open();
    m_cancelled.Wait();  // deaf to stop requests
    return RunOutcome::Finished;
  });
  Add("waited", ScheduleKind::Manual, TaskType::ExecuteScript);
  Add("background", ScheduleKind::Manual, TaskType::ExecuteScript);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0, 1});
  ASSERT_TRUE(Eventually(
      [&] { return StatusOf(0) == TaskStatus::Running && StatusOf(1) == TaskStatus::Running; }));

  std::thread deadline([&] {
    if (m_clock.WaitForSleepers(1)) m_clock.Advance(3000);
  });
  m_runner.StopTask(0);
  deadline.join();

  m_runner.RequestStop(1);
  m_clock.Advance(3000);
  m_runner.FinishStops();
  const std::string warning = "The task's server statements could not be cancelled: socket gone";
  ASSERT_TRUE(Eventually([&] { return Entries(1).size() == 4; }));
  for (int i : {0, 1}) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(m_runner.HasWorker(i));
    EXPECT_EQ(StatusOf(i), TaskStatus::Stop);
    const std::vector<std::string> entries = Entries(i);
    EXPECT_NE(std::find(entries.begin(), entries.end(), warning), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "User canceled!"), entries.end());
  }
}

TEST_F(RunnerTest, StoppingTheRunnerGivesUnansweringWorkersOneCommonDeadline) {
  test::Gate release;
  m_owner.SetRoutine(TaskType::ExecuteScript, [&](TaskRunContext&) {
    m_running.Open();
    release.Wait();  // deaf to stop requests
    return RunOutcome::Finished;
  });
  std::vector<std::weak_ptr<TaskSlot>> slots;
  for (const char* name : {"one", "two"}) {
    const int index = Add(name, ScheduleKind::Manual, TaskType::ExecuteScript);
    m_list.Update(index, [](CTaskItem& task) { task.RunImmediately = 1; });
    slots.push_back(m_list.SlotAt(index));
  }
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(Eventually([&] { return StatusOf(0) == TaskStatus::Running && StatusOf(1) == TaskStatus::Running; }));
  bool secondWait = false;
  std::thread deadline([&] {
    if (m_clock.WaitForSleepers(1)) m_clock.Advance(3000);
    secondWait = m_clock.WaitForSleepers(1, std::chrono::milliseconds(300));
    if (secondWait) m_clock.Advance(3000);
  });
  EXPECT_EQ(m_runner.Stop(), 0);
  deadline.join();
  EXPECT_FALSE(secondWait);
  release.Open();
  for (auto& slot : slots) EXPECT_TRUE(Eventually([&] { return slot.expired(); }));
}

// The runner keeps its workers apart from the list: removing a task must still join an
// ended worker at once and silence a running one, as deleting a task always did.
TEST_F(RunnerTest, RemovingATaskLetsGoOfItsWorkerWhateverItIsDoing) {
  Add("ended", ScheduleKind::Manual);
  Add("restore", ScheduleKind::Manual, TaskType::RestoreFromServer);
  Add("direct", ScheduleKind::Manual);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0, 1, 2});
  ASSERT_TRUE(
      Eventually([&] { return m_runs == 2 && !m_runner.HasWorker(0) && !m_runner.HasWorker(2); }));
  m_running.Wait();

  std::weak_ptr<TaskSlot> ended = m_list.SlotAt(0);
  m_runner.RemoveTask(0);
  EXPECT_TRUE(ended.expired());  // joined, not waiting for the next start

  std::weak_ptr<TaskSlot> running = m_list.SlotAt(0);
  const std::string logFile = m_list.At(0).LogFileName;
  m_runner.RemoveTask(0);
  EXPECT_EQ(m_list.Count(), 1);
  ASSERT_TRUE(Eventually([&] { return running.expired(); }));  // asked to stop, it returned
  std::vector<CTaskLogEntry> entries;
  m_log.ReadAll(logFile, entries);
  ASSERT_EQ(entries.size(), 2u);  // abandoned: not even its "User canceled!"
  EXPECT_EQ(entries[1].text, "Running...");

  // Removed behind the runner's back: let go of at its next look.
  std::weak_ptr<TaskSlot> direct = m_list.SlotAt(0);
  m_list.RemoveAt(0);
  EXPECT_FALSE(direct.expired());
  m_runner.FinishStops();
  EXPECT_TRUE(direct.expired());
}

TEST_F(RunnerTest, ARunWithoutARoutineOrThatThrowsFailsVisibly) {
  m_owner.SetRoutine(TaskType::ExecuteScript,
                     [](TaskRunContext&) -> RunOutcome { throw std::runtime_error("boom"); });
  m_owner.SetRoutine(TaskType::RestoreFromFiles, [](TaskRunContext&) -> RunOutcome { throw 42; });
  const char* names[] = {"export", "script", "restore"};
  Add(names[0], ScheduleKind::Manual, TaskType::ExportToFiles);  // no routine installed
  Add(names[1], ScheduleKind::Manual, TaskType::ExecuteScript);
  Add(names[2], ScheduleKind::Manual, TaskType::RestoreFromFiles);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0, 1, 2});
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(i); }));
    std::vector<CTaskLogEntry> entries;
    m_log.ReadAll(std::string(names[i]) + ".log", entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].text, "Running...");
    EXPECT_EQ(entries[2].level, static_cast<std::uint8_t>(LogLevel::Error));
    EXPECT_EQ(StatusOf(i), TaskStatus::Stop);
  }
}

// What the owner throws on a worker's thread would end the whole process. Thrown while
// telling a run's end, it is a Warning after the run's outcome; thrown as a run starts,
// the run fails with an Error and the task stops.
TEST_F(RunnerTest, AnOwnerThatThrowsOnAWorkersThreadNeverEndsTheProcess) {
  m_owner.OnRunEnded = [](const RunReport&) { throw std::runtime_error("mail gone"); };
  Add("told", ScheduleKind::Manual);
  Add("started", ScheduleKind::Manual);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({0});
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(0); }));
  EXPECT_EQ(Entries(0), (Texts{"Run task immediately", "Running...", "work", "Finished",
                               "The run's end could not be reported: mail gone"}));
  EXPECT_EQ(m_list.LastResultAt(0).Kind, RunResultKind::Ok);
  EXPECT_EQ(StatusOf(0), TaskStatus::Stop);

  m_owner.ThrowAtRunStart = true;
  m_commands.RunImmediately({1});
  ASSERT_TRUE(Eventually([&] { return !m_runner.HasWorker(1); }));
  EXPECT_EQ(Entries(1),
            (Texts{"Run task immediately", "The task stopped on an internal error: options gone"}));
  EXPECT_EQ(m_list.LastResultAt(1).Kind, RunResultKind::Failed);
  EXPECT_EQ(StatusOf(1), TaskStatus::Stop);
  EXPECT_EQ(m_runs, 1);
}

TEST_F(RunnerTest, ATypeWithoutAKindIsNeverRunEvenWithARoutine) {
  // A task file from a newer program may hold a type this one has no kind for: it is kept,
  // and never handed to a routine, even one installed for its value.
  const auto unknown = static_cast<TaskType>(200);
  m_owner.SetRoutine(unknown, [this](TaskRunContext&) {
    ++m_runs;
    return RunOutcome::Finished;
  });
  Add("scheduled", ScheduleKind::EveryDay, unknown);
  Add("manual", ScheduleKind::Manual, unknown);
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  m_commands.RunImmediately({1});
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_FALSE(m_runner.HasWorker(1));
  m_clock.Advance(24 * 3600 * 1000);
  EXPECT_EQ(m_runs, 0);
  EXPECT_EQ(Entries(1), (Texts{"Run task immediately"}));
}

TEST_F(RunnerTest, LoadingATaskFileRestartsTheRunnerWithFreshKeys) {
  Add("daily", ScheduleKind::EveryDay);
  Add("manual", ScheduleKind::Manual);
  ASSERT_TRUE(m_list.SaveTaskFile(m_dir.file("saved.tsk")));
  ASSERT_TRUE(WriteTaskFile(m_dir.file("empty.tsk"), {}));  // no file at all
  ASSERT_EQ(m_runner.Start(&m_owner), 0);
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  m_clock.Advance(2000);

  EXPECT_FALSE(m_runner.LoadTaskFile(m_dir.file("empty.tsk")));
  EXPECT_EQ(m_list.Count(), 2);
  // A damaged record is a failed load, not a success that silently kept the old list.
  std::filesystem::copy_file(m_dir.file("saved.tsk"), m_dir.file("damaged.tsk"));
  std::filesystem::resize_file(m_dir.file("damaged.tsk"),
                               std::filesystem::file_size(m_dir.file("saved.tsk")) - 3);
  EXPECT_FALSE(m_runner.LoadTaskFile(m_dir.file("damaged.tsk")));
  EXPECT_EQ(m_list.Count(), 2);
  ASSERT_TRUE(m_runner.LoadTaskFile(m_dir.file("saved.tsk")));
  EXPECT_TRUE(m_runner.Started());
  ASSERT_EQ(m_list.Count(), 2);
  EXPECT_EQ(m_list.At(0).TaskKey, "202435802" "0");
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_TRUE(m_runner.HasWorker(0));
  EXPECT_FALSE(m_runner.HasWorker(1));
  EXPECT_EQ(StatusOf(0), TaskStatus::Waiting);
}

// Real time: a waiting worker sleeps on a stop-aware wait, so Stop does not wait out its poll.
TEST(RunnerRealTimeTest, StopOfAWaitingTaskReturnsWellWithinAPoll) {
  test::TempDir dir;
  CTaskLog log(dir.path() + "Logs/", SystemClock());
  test::FakeOwner owner(log, dir.file("tasks_se.tsk"));
  CTaskList list(SystemClock());
  TaskRunner runner(list);
  CTaskItem task;
  task.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::EveryWeek);
  list.AddTask(task);
  ASSERT_EQ(runner.Start(&owner), 0);
  ASSERT_TRUE(Eventually([&] { return list.At(0).GetStatus() == TaskStatus::Waiting; }));
  const auto start = std::chrono::steady_clock::now();
  runner.StopTask(0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::milliseconds(100));
  EXPECT_FALSE(runner.HasWorker(0));
  EXPECT_EQ(runner.Stop(), 0);
}

}  // namespace
}  // namespace brevanto
