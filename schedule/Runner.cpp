// The workers of TaskRunner (schedule/TaskRunner.h): the common skeleton every run
// follows, what a worker writes back into its task's slot and tells the owner, and how it
// falls silent once its stopper gave up on it.

#include <sys/prctl.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <utility>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/ExpiredCopies.h"
#include "schedule/LastRunResult.h"
#include "schedule/ProgressTracker.h"
#include "schedule/RunReport.h"
#include "schedule/Schedule.h"
#include "schedule/TaskRunnerOwner.h"
#include "schedule/WorkerThread.h"
#include "tasks/OffsiteRecord.h"
#include "tasks/TaskKinds.h"
#include "tasks/TaskList.h"

namespace brevanto {
namespace {

constexpr int kPollMs = 100;
// Progress calls between two copies into the task's slot: the lock is taken a few
// hundred times a second at most on a fast dump, not once a row.
constexpr int kProgressCallsPerPublish = 64;
// Without a saved record of the new copy, deleting the copies it replaces could leave the
// task file listing only files that are gone.
constexpr const char* kCopyNotSaved =
    "Failed to save the task file! The backup copy is not recorded, and no expired copy was "
    "deleted.";
constexpr const char* kTaskFileNotSaved = "Failed to save the task file!";
constexpr const char* kInternalError = "The task stopped on an internal error";
// How late a worker's timer may fire. A 100 ms poll does not mind a few milliseconds, and
// the kernel can then serve the timers of many waiting workers with one wake-up.
constexpr unsigned long kTimerSlackNs = 5'000'000;

// One worker thread's life: waiting, runs, and its end. Runs on the worker thread only.
class Worker {
 public:
  Worker(std::shared_ptr<TaskSlot> slot, std::shared_ptr<WorkerShared> shared,
         TaskRunnerOwner& owner, Clock& clock)
      : m_slot(std::move(slot)), m_shared(std::move(shared)), m_owner(owner), m_clock(clock) {
    std::lock_guard lock(m_slot->Lock);
    m_logFileName = m_slot->Task.LogFileName;
    const TaskKind* kind = FindTaskKind(m_slot->Task.TaskType);
    m_keepsCopies = kind != nullptr && kind->KeepsCopies;
  }

  void Main();
  // Last resort for an exception outside the routine and the saves (a log or the owner
  // threw): the run under way fails with an Error entry, and the thread ends as after a stop.
  void EndOnInternalError(const std::string& text);

  // Runs `change` on the live task unless the worker was abandoned. False when abandoned.
  template <typename Change>
  bool Touch(Change&& change) {
    std::lock_guard guard(m_shared->Lock);
    if (m_shared->Abandoned) return false;
    std::lock_guard lock(m_slot->Lock);
    change(m_slot->Task);
    return true;
  }

  // Runs `change` on the task's slot (its lock held) unless the worker was abandoned.
  template <typename Change>
  void TouchSlot(Change&& change) {
    std::lock_guard guard(m_shared->Lock);
    if (m_shared->Abandoned) return;
    std::lock_guard lock(m_slot->Lock);
    change(*m_slot);
  }

  void Log(LogLevel level, const std::string& text) {
    std::lock_guard guard(m_shared->Lock);
    if (!m_shared->Abandoned) m_owner.TaskLog().AppendEntry(m_logFileName, level, text);
  }
  void LogAt(LogLevel level, const std::string& text, const TaskDateTime& when) {
    std::lock_guard guard(m_shared->Lock);
    if (!m_shared->Abandoned) {
      m_owner.TaskLog().AppendEntryAt(m_logFileName, static_cast<std::uint8_t>(level), text, when);
    }
  }

  bool StopRequested() const { return m_shared->Stop.stop_requested(); }

  // Saves the task file unless the worker was abandoned. False when the save failed.
  bool SaveTasks() {
    std::lock_guard saving(m_shared->SaveLock);
    {
      std::lock_guard guard(m_shared->Lock);
      if (m_shared->Abandoned) return true;
    }
    std::string failure;
    try {
      return m_owner.SaveTasks();
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
    }
    // Thrown on this thread it would end the process: it is a failed save, and says why.
    Log(LogLevel::Warning, "The task file could not be saved on an internal error" +
                               (failure.empty() ? std::string("!") : ": " + failure));
    return false;
  }

  // Appends a run's copy to the history, saves the task file, then drops expired copies
  // and saves again. False when the first save failed: nothing was deleted.
  bool RecordBackupCopy(const BackupCopy& copy);
  // As after recording a copy: one that went off-site since may lose its local files.
  void DeleteExpiredCopiesNow();
  // Drops copies that exist nowhere any more from the history and saves the task file.
  Status ForgetBackupCopies(const std::vector<BackupCopy>& copies);

  Clock& GetClock() { return m_clock; }
  WorkerShared& Shared() { return *m_shared; }

 private:
  enum class WaitResult { Due, Stopped };
  WaitResult WaitUntilDue();
  RunOutcome Run(const CTaskItem& task, const TaskDateTime& runStart, RunReport& report);
  void TellRunStarted(const RunReport& report);  // the owner's RunStarted, guarded
  // The run's end as the list shows it, and the owner is told. False when abandoned.
  bool Report(RunReport& report);
  // Deletes what FindExpiredCopies found, outside the task's lock, and saves the task
  // file. Files that stay are warned about and their copies kept; while one stays, the
  // waiting worker (`fromPoll`) leaves the deleting to the next run rather than retrying.
  void DropExpired(ExpiredCopies expired, bool fromPoll);
  // End of thread after a stop or an abandoned run: Stop, and the slot counts as empty.
  void End();

  std::shared_ptr<TaskSlot> m_slot;
  std::shared_ptr<WorkerShared> m_shared;
  TaskRunnerOwner& m_owner;
  Clock& m_clock;
  std::string m_logFileName;  // never changes while the task exists
  bool m_keepsCopies = false;
  std::set<std::string> m_undeletable;  // expired files a deletion failed on
  std::set<std::string> m_waitingSaid;  // copies kept for want of an off-site copy, as logged
};

// What a routine sees of its run. Lives on the worker thread's stack for one run.
class WorkerRun final : public TaskRunContext {
 public:
  WorkerRun(Worker& worker, CTaskItem task, TaskDateTime runStart, RunReport& report)
      : m_worker(worker), m_task(std::move(task)), m_runStart(runStart), m_report(report) {}
  ~WorkerRun() override { SetCancelHook({}); }

  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return m_runStart; }
  bool StopRequested() override { return m_worker.StopRequested(); }
  void Log(LogLevel level, const std::string& text) override {
    Count(level, text);
    m_worker.Log(level, text);
  }
  void LogAt(LogLevel level, const std::string& text, const TaskDateTime& when) override {
    Count(level, text);
    m_worker.LogAt(level, text, when);
  }
  // Waits while a stopper is calling the previous hook, so a routine that clears its hook
  // before closing its connections never has them closed under a running cancel.
  void SetCancelHook(std::function<void()> hook) override {
    std::lock_guard lock(m_worker.Shared().Lock);
    m_worker.Shared().CancelHook = std::move(hook);
  }
  Status RecordBackupCopy(const BackupCopy& copy) override {
    for (const std::string& file : copy.CopyFiles) {
      // Copies recorded by name only lie in the copy's folder.
      const bool hasFolder = file.find('/') != std::string::npos || copy.CopyFolder.empty();
      m_report.FilesWritten.push_back(hasFolder ? file : copy.CopyFolder + file);
    }
    if (!m_worker.RecordBackupCopy(copy)) {
      m_copyNotSaved = true;
      Log(LogLevel::Error, kCopyNotSaved);
      return Status::Error(kCopyNotSaved);
    }
    return Status::Ok();
  }
  void DeleteExpiredCopies() override { m_worker.DeleteExpiredCopiesNow(); }
  Status ForgetBackupCopies(const std::vector<BackupCopy>& copies) override {
    return m_worker.ForgetBackupCopies(copies);
  }
  // True when a copy of this run could not be saved in the task file: the run failed.
  bool CopyNotSaved() const { return m_copyNotSaved; }
  Clock& GetClock() override { return m_worker.GetClock(); }

  void ProgressPlan(std::int64_t totalUnits) override {
    m_progress.Plan(totalUnits);
    PublishProgress();
  }
  void ProgressItem(const std::string& name, std::int64_t estimatedUnits) override {
    m_progress.StartItem(name, estimatedUnits);
    PublishProgress();
  }
  void ProgressAdvance(std::int64_t units, std::int64_t bytesWritten) override {
    const int before = m_progress.Snapshot().Permille;
    m_progress.Advance(units, bytesWritten);
    // Rows come fast and are copied in batches; slow units (a script's statements) would
    // leave the list at 0 % for the whole run, so a new percentage is copied at once.
    if (++m_unpublished >= kProgressCallsPerPublish || m_progress.Snapshot().Permille != before) {
      PublishProgress();
    }
  }
  void RecordFileWritten(const std::string& path) override {
    m_report.FilesWritten.push_back(path);
  }

  // The run ended: 100 % unless it was cut short, and the list sees it no longer running.
  void EndProgress(RunOutcome outcome) {
    if (outcome != RunOutcome::Canceled) m_progress.Complete();
    m_unpublished = 0;
    TaskProgress last = m_progress.Snapshot();
    last.Active = false;
    m_worker.TouchSlot([&](TaskSlot& slot) { slot.Progress = std::move(last); });
  }

 private:
  void Count(LogLevel level, const std::string& text) {
    NoteOffsiteEntry(m_report.Offsite, static_cast<std::uint8_t>(level), text);
    if (level == LogLevel::Error) {
      if (m_report.Errors.size() < kMaxReportedErrors) m_report.Errors.push_back(text);
      ++m_report.ErrorCount;
    } else if (level == LogLevel::Warning) {
      ++m_report.WarningCount;
    }
  }
  void PublishProgress() {
    m_unpublished = 0;
    m_worker.TouchSlot([&](TaskSlot& slot) { slot.Progress = m_progress.Snapshot(); });
  }

  Worker& m_worker;
  const CTaskItem m_task;
  const TaskDateTime m_runStart;
  RunReport& m_report;
  CProgressTracker m_progress;
  int m_unpublished = 0;  // progress calls since the last copy into the slot
  bool m_copyNotSaved = false;
};

void Worker::Main() {
  const TaskDateTime started = m_clock.Now();
  if (!Touch([&](CTaskItem& task) { task.WorkerStartTime = started; })) return;
  for (;;) {
    if (WaitUntilDue() == WaitResult::Stopped) return End();

    // Run start.
    const TaskDateTime runStart = m_clock.Now();
    CTaskItem task;
    bool started = false;
    TouchSlot([&](TaskSlot& slot) {
      CTaskItem& live = slot.Task;
      live.RunImmediately = 0;
      live.SetStatus(TaskStatus::Running);
      live.LastRunTime = runStart;
      task = live;
      slot.Progress = TaskProgress{};
      slot.Progress.Active = true;
      m_shared->InRun = true;  // under the shared lock, as TouchSlot holds it
      started = true;
    });
    if (!started) return;
    {
      std::lock_guard guard(m_shared->Lock);
      if (m_shared->Abandoned) return;
      m_owner.TaskLog().ApplySizeLimit(m_logFileName, m_owner.LimitLogSize(),
                                       m_owner.MaxLogSizeKB());
    }
    Log(LogLevel::General, "Running...");

    RunReport report;
    report.TaskKey = task.TaskKey;
    report.TaskName = task.TaskName;
    report.LogFileName = task.LogFileName;
    report.TaskType = task.TaskType;
    report.Start = runStart;
    TellRunStarted(report);
    RunOutcome outcome = RunOutcome::Canceled;
    if (!StopRequested()) outcome = Run(task, runStart, report);
    report.Outcome = outcome;
    {
      // The run's last entry and the end of InRun are one step for a stopper that gives
      // up now: exactly one of the two writes "User canceled!".
      std::lock_guard guard(m_shared->Lock);
      if (outcome == RunOutcome::Canceled && !m_shared->Abandoned) {
        m_owner.TaskLog().AppendEntry(m_logFileName, LogLevel::Warning, kUserCanceled);
        ++report.WarningCount;
      }
      m_shared->InRun = false;
    }
    if (outcome == RunOutcome::Canceled) {
      if (!Report(report)) return;
      return End();
    }

    // Run end: back to waiting when scheduled, else the thread ends.
    bool keepWaiting = false;
    if (!Touch([&](CTaskItem& live) {
          live.RunImmediately = 0;
          live.ResetStatusFromSchedule();
          keepWaiting = ShouldKeepWaiting(live);
        })) {
      return;
    }
    if (outcome == RunOutcome::Finished) Log(LogLevel::General, "Finished");
    if (!Report(report)) return;
    if (keepWaiting) continue;

    // A run requested while this one ended is taken by this thread: the list sees it
    // alive until Finished is set under the same lock its launch test takes.
    std::lock_guard guard(m_shared->Lock);
    if (m_shared->Abandoned) return;
    std::lock_guard lock(m_slot->Lock);
    if (m_slot->Task.RunImmediately != 0 && !StopRequested()) continue;
    m_slot->Task.SetStatus(TaskStatus::Stop);
    m_shared->Finished.request_stop();
    return;
  }
}

Worker::WaitResult Worker::WaitUntilDue() {
  const std::stop_token stop = m_shared->Stop.get_token();
  for (;;) {
    const TaskDateTime now = m_clock.Now();
    bool due = false;
    ExpiredCopies expired;
    if (!Touch([&](CTaskItem& task) {
          due = IsDue(task, now);
          if (due) return;
          task.SetStatus(TaskStatus::Waiting);
          if (stop.stop_requested()) return;
          UpdateNextRunTime(task, now);
          if (m_keepsCopies) expired = FindExpiredCopies(task, now);
        })) {
      return WaitResult::Stopped;
    }
    if (due) return WaitResult::Due;
    if (stop.stop_requested()) return WaitResult::Stopped;
    if (!expired.empty() || !expired.Waiting.empty()) DropExpired(std::move(expired), true);
    // Polls fall on a common 100 ms grid: the waiting workers wake together, so the
    // system takes one timer wake-up per poll for all of them instead of one each.
    const int untilNextPoll = kPollMs - static_cast<int>(m_clock.MonotonicMs() % kPollMs);
    if (!m_clock.SleepUnlessStopped(untilNextPoll, stop)) return WaitResult::Stopped;
  }
}

RunOutcome Worker::Run(const CTaskItem& task, const TaskDateTime& runStart, RunReport& report) {
  WorkerRun run(*this, task, runStart, report);
  RunOutcome outcome = RunOutcome::Failed;
  const TaskRoutine* routine = m_owner.RoutineFor(task.GetType());
  if (routine == nullptr || !*routine) {
    run.Log(LogLevel::Error, "This task type cannot be run: no worker routine is installed!");
  } else {
    try {
      outcome = (*routine)(run);
    } catch (const std::exception& e) {
      // A programming error or memory exhaustion inside one run must not end the process.
      run.Log(LogLevel::Error, std::string("The task stopped on an internal error: ") + e.what());
    } catch (...) {
      // Anything else thrown would end the whole process from this thread.
      run.Log(LogLevel::Error, "The task stopped on an internal error!");
    }
  }
  if (run.CopyNotSaved() && outcome == RunOutcome::Finished) outcome = RunOutcome::Failed;
  run.EndProgress(outcome);
  return outcome;
}

void Worker::TellRunStarted(const RunReport& report) {
  try {
    m_owner.RunStarted(report);
  } catch (const std::exception& e) {
    // The run goes ahead; only the telling of its start went wrong.
    Log(LogLevel::Warning, std::string("The run's start could not be reported: ") + e.what());
  } catch (...) {
    Log(LogLevel::Warning, "The run's start could not be reported!");
  }
}

bool Worker::Report(RunReport& report) {
  report.End = m_clock.Now();
  TaskRunResult result;
  result.Kind = report.Failed()     ? RunResultKind::Failed
                : report.Canceled() ? RunResultKind::Canceled
                                    : RunResultKind::Ok;
  result.Errors = report.ErrorCount;
  result.Warnings = report.WarningCount;
  result.Offsite = report.Offsite;
  bool alive = false;
  TouchSlot([&](TaskSlot& slot) {
    slot.LastResult = result;
    slot.Progress.Active = false;
    alive = true;
  });
  if (!alive) return false;
  try {
    m_owner.RunEnded(report);
  } catch (const std::exception& e) {
    // The run's outcome stands; only the telling of it went wrong.
    Log(LogLevel::Warning, std::string("The run's end could not be reported: ") + e.what());
  } catch (...) {
    Log(LogLevel::Warning, "The run's end could not be reported!");
  }
  return true;
}

void Worker::DropExpired(ExpiredCopies expired, bool fromPoll) {
  for (const BackupCopy& copy : expired.Waiting) {
    if (m_waitingSaid.insert(WaitingCopyText(copy)).second) {
      Log(LogLevel::General, WaitingCopyText(copy));
    }
  }
  if (expired.empty()) return;
  const std::vector<std::string> paths = ExpiredPaths(expired);
  if (fromPoll && std::any_of(paths.begin(), paths.end(),
                              [&](const std::string& f) { return m_undeletable.contains(f); })) {
    return;
  }
  // A run retries every file and says again which ones stay.
  if (!fromPoll) m_undeletable.clear();
  for (const CopyFileFailure& failure : DeleteCopyFiles(expired)) {
    if (m_undeletable.insert(failure.Path).second) {
      Log(LogLevel::Warning, CopyFileFailureText(failure));
    }
  }
  std::size_t dropped = 0;
  std::size_t localOnly = 0;
  if (!Touch([&](CTaskItem& task) {
        dropped = DropCopies(task.BackupHistory, expired, &localOnly);
      })) {
    return;
  }
  if (dropped == 0) return;
  if (!SaveTasks()) {
    Log(LogLevel::Warning, kTaskFileNotSaved);
    return;
  }
  if (dropped > localOnly) Log(LogLevel::General, kExpiredCopiesDeleted);
  if (localOnly > 0) Log(LogLevel::General, LocalFilesDeletedText(localOnly));
}

void Worker::DeleteExpiredCopiesNow() {
  ExpiredCopies expired;
  const TaskDateTime now = m_clock.Now();
  if (!Touch([&](CTaskItem& task) { expired = FindExpiredCopies(task, now); })) return;
  if (!expired.empty() || !expired.Waiting.empty()) DropExpired(std::move(expired), false);
}

Status Worker::ForgetBackupCopies(const std::vector<BackupCopy>& copies) {
  std::size_t forgotten = 0;
  if (!Touch([&](CTaskItem& task) {
        for (const BackupCopy& copy : copies) {
          const auto it = std::find_if(task.BackupHistory.begin(), task.BackupHistory.end(),
                                       [&](const BackupCopy& c) { return SameCopy(c, copy); });
          if (it == task.BackupHistory.end()) continue;
          task.BackupHistory.erase(it);
          ++forgotten;
        }
      })) {
    return Status::Ok();
  }
  if (forgotten > 0 && !SaveTasks()) {
    Log(LogLevel::Warning, kTaskFileNotSaved);
    return Status::Error(kTaskFileNotSaved);
  }
  return Status::Ok();
}

bool Worker::RecordBackupCopy(const BackupCopy& copy) {
  ExpiredCopies expired;
  const TaskDateTime now = m_clock.Now();
  if (!Touch([&](CTaskItem& task) {
        task.BackupHistory.push_back(copy);
        expired = FindExpiredCopies(task, now);
      })) {
    return true;
  }
  // Saved before anything is deleted, so a crash never forgets the files the run wrote
  // while the copies they replace are already gone.
  if (!SaveTasks()) {
    // Unrecorded on disk, the copy must not count in memory either: a waiting worker would
    // otherwise delete the copies the task file still lists to make room for it.
    Touch([&](CTaskItem& task) {
      auto it = std::find(task.BackupHistory.rbegin(), task.BackupHistory.rend(), copy);
      if (it != task.BackupHistory.rend()) task.BackupHistory.erase(std::next(it).base());
    });
    return false;
  }
  if (!expired.empty()) DropExpired(std::move(expired), false);
  return true;
}

void Worker::EndOnInternalError(const std::string& text) {
  try {
    bool inRun = false;
    {
      std::lock_guard guard(m_shared->Lock);
      if (m_shared->Abandoned) return;
      inRun = std::exchange(m_shared->InRun, false);
      m_owner.TaskLog().AppendEntry(m_logFileName, LogLevel::Error, text);
    }
    TouchSlot([&](TaskSlot& slot) {
      slot.Progress.Active = false;
      if (inRun) slot.LastResult = TaskRunResult{RunResultKind::Failed, 1, 0, {}};
    });
    End();
  } catch (...) {
    // Nothing more can be said; a stop of the task lets the thread go.
  }
}

void Worker::End() {
  std::lock_guard guard(m_shared->Lock);
  if (m_shared->Abandoned) return;
  {
    std::lock_guard lock(m_slot->Lock);
    m_slot->Task.RunImmediately = 0;
    m_slot->Task.SetStatus(TaskStatus::Stop);
  }
  m_shared->Finished.request_stop();
}

}  // namespace

void WorkerMain(std::shared_ptr<TaskSlot> slot, std::shared_ptr<WorkerShared> shared,
                TaskRunnerOwner& owner, Clock& clock) {
  ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
  Worker worker(std::move(slot), shared, owner, clock);
  try {
    worker.Main();
  } catch (const std::exception& e) {
    worker.EndOnInternalError(std::string(kInternalError) + ": " + e.what());
  } catch (...) {
    worker.EndOnInternalError(std::string(kInternalError) + "!");
  }
  // An abandoned worker never sets Finished; nobody waits for it any more.
}

}  // namespace brevanto
