// The runner half of CTaskList: one worker thread per active task, the common skeleton
// every run follows, and the way a worker is stopped or, when it does not answer,
// abandoned without freeing anything it still uses.

#include <sys/prctl.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/ExpiredCopies.h"
#include "schedule/ProgressTracker.h"
#include "schedule/RunReport.h"
#include "schedule/Schedule.h"
#include "schedule/StopRequests.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskKinds.h"
#include "tasks/TaskList.h"

namespace brevanto {
namespace {

constexpr int kPollMs = 100;
constexpr int kStopWaitMs = 3000;
// Progress calls between two copies into the task's slot: the lock is taken a few
// hundred times a second at most on a fast dump, not once a row.
constexpr int kProgressCallsPerPublish = 64;
constexpr const char* kUserCanceled = "User canceled!";
// Without a saved record of the new copy, deleting the copies it replaces could leave the
// task file listing only files that are gone.
constexpr const char* kCopyNotSaved =
    "Failed to save the task file! The backup copy is not recorded, and no expired copy was "
    "deleted.";
constexpr const char* kTaskFileNotSaved = "Failed to save the task file!";
constexpr const char* kCancelFailed = "The task's server statements could not be cancelled";
// How late a worker's timer may fire. A 100 ms poll does not mind a few milliseconds, and
// the kernel can then serve the timers of many waiting workers with one wake-up.
constexpr unsigned long kTimerSlackNs = 5'000'000;

}  // namespace

// What a worker thread shares with whoever stops it. Owned jointly by the thread and its
// WorkerThread, so it outlives both an abandoned thread and the list slot.
struct WorkerShared {
  std::stop_source Stop;      // the stop request the worker polls
  std::stop_source Finished;  // requested by the worker once it no longer touches its task
  std::mutex Lock;            // guards Abandoned, InRun and CancelHook; held while the hook runs
  bool Abandoned = false;     // set by a stopper that gave up waiting: the worker falls silent
  bool InRun = false;         // between "Running..." and the run's last entry
  std::function<void()> CancelHook;
  // Held by the worker from its Abandoned test to the end of a task-file save, so a
  // stopper that gives up waits for a save already begun: none can start, and snapshot
  // the list, after the stopper has gone on to empty it.
  std::mutex SaveLock;

  // True while the worker may still act on its task.
  bool Alive() {
    std::lock_guard lock(Lock);
    return !Abandoned && !Finished.stop_requested();
  }
};

// The slot's handle on its worker thread. Lives on the list's thread only.
struct WorkerThread {
  std::shared_ptr<WorkerShared> Shared;
  std::thread Thread;
  // Monotonic ms by which a stop asked without waiting must be complete; -1 when none was.
  std::int64_t StopDeadline = -1;

  ~WorkerThread() {
    if (!Thread.joinable()) return;
    if (Shared->Finished.stop_requested()) {
      Thread.join();  // only its last few instructions remain
      return;
    }
    // Still running (its slot was removed without a stop): it keeps what it uses alive
    // through shared ownership and stays silent from now on.
    Shared->Stop.request_stop();
    {
      std::lock_guard lock(Shared->Lock);
      Shared->Abandoned = true;
    }
    { std::lock_guard saving(Shared->SaveLock); }
    Thread.detach();
  }
};

namespace {

// Runs a run's cancel hook. What it throws becomes a Warning in the task's log: on the
// stopper's thread it would abort the stop half-done, on a thread of its own end the
// process. The owner and its log outlive every thread the runner starts.
void CallCancelHook(const std::function<void()>& hook, TaskRunnerOwner* owner,
                    const std::string& logFileName) {
  std::string failure;
  try {
    hook();
    return;
  } catch (const std::exception& e) {
    failure = std::string(kCancelFailed) + ": " + e.what();
  } catch (...) {
    failure = std::string(kCancelFailed) + "!";
  }
  if (owner != nullptr) owner->TaskLog().AppendEntry(logFileName, LogLevel::Warning, failure);
}

// With `inBackground` the hook runs on a thread of its own, so the caller (the UI) never
// waits for the server; without a thread to be had, it runs here rather than not at all.
void CancelInRun(const std::function<void()>& hook, TaskRunnerOwner* owner,
                 const std::string& logFileName, bool inBackground) {
  if (inBackground) {
    try {
      // The hook holds its cancelers by shared ownership: safe on a thread of its own.
      std::thread(CallCancelHook, hook, owner, logFileName).detach();
      return;
    } catch (const std::system_error&) {
    }
  }
  CallCancelHook(hook, owner, logFileName);
}

}  // namespace

// Gives the runner's functions access to the list's slots.
struct RunnerAccess {
  static std::shared_ptr<WorkerThread> WorkerAt(const CTaskList& list, int index) {
    std::lock_guard lock(list.m_slotsLock);
    if (index < 0 || index >= static_cast<int>(list.m_slots.size())) return nullptr;
    return list.m_slots[static_cast<std::size_t>(index)].Worker;
  }
  static void SetWorker(CTaskList& list, int index, std::shared_ptr<WorkerThread> worker) {
    std::shared_ptr<WorkerThread> old;
    {
      std::lock_guard lock(list.m_slotsLock);
      if (index < 0 || index >= static_cast<int>(list.m_slots.size())) return;
      old = std::exchange(list.m_slots[static_cast<std::size_t>(index)].Worker, std::move(worker));
    }
    // `old` is joined or abandoned here, outside the lock.
  }

  // Asks the slot's worker to stop and waits for it until `deadline` (monotonic ms); a
  // worker that has not ended by then has its connections cancelled and is abandoned,
  // and its run's log gets the "User canceled!" it can no longer write. The task is Stop
  // afterwards. With `hookInBackground` the cancel runs on a thread of its own, so the
  // caller (the UI) never waits for the server.
  static void StopSlot(CTaskList& list, int index, std::int64_t deadline,
                       bool hookInBackground = false) {
    std::shared_ptr<TaskSlot> slot = list.SlotAt(index);
    if (!slot) return;
    if (std::shared_ptr<WorkerThread> worker = WorkerAt(list, index)) {
      WorkerShared& shared = *worker->Shared;
      shared.Stop.request_stop();
      const std::int64_t left = deadline - list.m_clock.MonotonicMs();
      if (left > 0) list.m_clock.SleepUnlessStopped(static_cast<int>(left), shared.Finished.get_token());
      {
        std::lock_guard lock(shared.Lock);
        if (!shared.Finished.stop_requested() && !shared.Abandoned) {
          // No answer in time: release it from the server, then let it go. It keeps its
          // own state alive and writes nothing more.
          std::string logFileName;
          {
            std::lock_guard taskLock(slot->Lock);
            logFileName = slot->Task.LogFileName;
          }
          if (shared.CancelHook) {
            CancelInRun(shared.CancelHook, list.m_owner, logFileName, hookInBackground);
          }
          shared.Abandoned = true;
          if (shared.InRun && list.m_owner != nullptr) {
            list.m_owner->TaskLog().AppendEntry(logFileName, LogLevel::Warning, kUserCanceled);
          }
        }
      }
      { std::lock_guard saving(shared.SaveLock); }
      worker.reset();
      SetWorker(list, index, nullptr);
    }
    std::lock_guard lock(slot->Lock);
    slot->Task.SetStatus(TaskStatus::Stop);
  }
};

namespace {

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
    return m_owner.SaveTasks();
  }

  // Appends a run's copy to the history, saves the task file, then drops expired copies
  // and saves again. False when the first save failed: nothing was deleted.
  bool RecordBackupCopy(const BackupCopy& copy);

  Clock& GetClock() { return m_clock; }
  WorkerShared& Shared() { return *m_shared; }

 private:
  enum class WaitResult { Due, Stopped };
  WaitResult WaitUntilDue();
  RunOutcome Run(const CTaskItem& task, const TaskDateTime& runStart, RunReport& report);
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
  void RecordBackupCopy(const BackupCopy& copy) override {
    for (const std::string& file : copy.CopyFiles) {
      // Copies recorded by name only lie in the copy's folder.
      const bool hasFolder = file.find('/') != std::string::npos || copy.CopyFolder.empty();
      m_report.FilesWritten.push_back(hasFolder ? file : copy.CopyFolder + file);
    }
    if (!m_worker.RecordBackupCopy(copy)) {
      m_copyNotSaved = true;
      Log(LogLevel::Error, kCopyNotSaved);
    }
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
    if (!expired.empty()) DropExpired(std::move(expired), true);
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

bool Worker::Report(RunReport& report) {
  report.End = m_clock.Now();
  TaskRunResult result;
  result.Kind = report.Failed()     ? RunResultKind::Failed
                : report.Canceled() ? RunResultKind::Canceled
                                    : RunResultKind::Ok;
  result.Errors = report.ErrorCount;
  result.Warnings = report.WarningCount;
  bool alive = false;
  TouchSlot([&](TaskSlot& slot) {
    slot.LastResult = result;
    slot.Progress.Active = false;
    alive = true;
  });
  if (alive) m_owner.RunEnded(report);
  return alive;
}

void Worker::DropExpired(ExpiredCopies expired, bool fromPoll) {
  if (fromPoll && std::any_of(expired.Files.begin(), expired.Files.end(),
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
  if (!Touch([&](CTaskItem& task) { dropped = DropCopies(task.BackupHistory, expired); })) return;
  if (dropped == 0) return;
  if (!SaveTasks()) {
    Log(LogLevel::Warning, kTaskFileNotSaved);
    return;
  }
  Log(LogLevel::General, kExpiredCopiesDeleted);
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

void WorkerMain(std::shared_ptr<TaskSlot> slot, std::shared_ptr<WorkerShared> shared,
                TaskRunnerOwner& owner, Clock& clock) {
  ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
  Worker worker(std::move(slot), shared, owner, clock);
  worker.Main();
  // An abandoned worker never sets Finished; nobody waits for it any more.
}

// True while the worker may act; the test and a worker's last step exclude each other.
bool IsAlive(const std::shared_ptr<WorkerThread>& worker) {
  return worker && worker->Shared->Alive();
}

}  // namespace

CTaskList::~CTaskList() {
  if (m_started) StopRunner();
  RemoveAll();
}

bool CTaskList::HasWorker(int index) const { return IsAlive(RunnerAccess::WorkerAt(*this, index)); }

int CTaskList::StartRunner(TaskRunnerOwner* owner) {
  if (owner == nullptr) return -5004;
  if (m_started) return -5001;
  m_owner = owner;
  const int count = Count();
  for (int i = 0; i < count; ++i) LaunchTask(i);
  m_started = true;
  return 0;
}

int CTaskList::StopRunner() {
  if (!m_started) return -5003;
  const int count = Count();
  // Every worker is asked first and all share one deadline, so workers that do not answer
  // cost 3000 ms together rather than 3000 ms each.
  for (int i = 0; i < count; ++i) {
    if (auto worker = RunnerAccess::WorkerAt(*this, i)) worker->Shared->Stop.request_stop();
  }
  const std::int64_t deadline = m_clock.MonotonicMs() + kStopWaitMs;
  for (int i = 0; i < count; ++i) RunnerAccess::StopSlot(*this, i, deadline);
  m_started = false;
  m_owner = nullptr;
  RemoveAll();
  return 0;
}

void CTaskList::LaunchTask(int index) {
  std::shared_ptr<TaskSlot> slot = SlotAt(index);
  if (!slot || m_owner == nullptr) return;
  if (IsAlive(RunnerAccess::WorkerAt(*this, index))) return;
  {
    std::lock_guard lock(slot->Lock);
    const CTaskItem& task = slot->Task;
    if (task.GetScheduleKind() == ScheduleKind::Manual && task.RunImmediately == 0) return;
    if (FindTaskKind(task.TaskType) == nullptr) return;  // a type this program cannot run
  }
  auto worker = std::make_shared<WorkerThread>();
  worker->Shared = std::make_shared<WorkerShared>();
  try {
    worker->Thread = std::thread(WorkerMain, slot, worker->Shared, std::ref(*m_owner), std::ref(m_clock));
  } catch (const std::system_error&) {
    std::string logFileName;
    {
      std::lock_guard lock(slot->Lock);
      slot->Task.RunImmediately = 0;
      slot->Task.SetStatus(TaskStatus::Stop);
      logFileName = slot->Task.LogFileName;
    }
    m_owner->TaskLog().AppendEntry(logFileName, LogLevel::Error, "Failed to create thread!");
    RunnerAccess::SetWorker(*this, index, nullptr);
    return;
  }
  RunnerAccess::SetWorker(*this, index, std::move(worker));
}

void CTaskList::StopTask(int index) {
  RunnerAccess::StopSlot(*this, index, m_clock.MonotonicMs() + kStopWaitMs);
}

void RequestStop(CTaskList& list, int index) {
  std::shared_ptr<WorkerThread> worker = RunnerAccess::WorkerAt(list, index);
  if (!IsAlive(worker)) {
    RunnerAccess::StopSlot(list, index, 0);  // nothing to wait for
    return;
  }
  worker->Shared->Stop.request_stop();
  if (worker->StopDeadline < 0) {
    worker->StopDeadline = list.GetClock().MonotonicMs() + kStopWaitMs;
  }
}

bool IsStopping(const CTaskList& list, int index) {
  std::shared_ptr<WorkerThread> worker = RunnerAccess::WorkerAt(list, index);
  return worker && worker->StopDeadline >= 0 && IsAlive(worker);
}

void FinishStops(CTaskList& list) {
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<WorkerThread> worker = RunnerAccess::WorkerAt(list, i);
    if (!worker || worker->StopDeadline < 0) continue;
    if (IsAlive(worker) && list.GetClock().MonotonicMs() < worker->StopDeadline) continue;
    RunnerAccess::StopSlot(list, i, 0, true);
  }
}

}  // namespace brevanto
