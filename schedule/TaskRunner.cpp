// The runner: one worker thread per active task, started, stopped or, when a worker does
// not answer, abandoned without freeing anything it still uses.

#include "schedule/TaskRunner.h"

#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/TaskRunnerOwner.h"
#include "schedule/WorkerThread.h"
#include "tasks/TaskKinds.h"
#include "tasks/TaskList.h"

namespace brevanto {
namespace {

constexpr int kStopWaitMs = 3000;
constexpr const char* kCancelFailed = "The task's server statements could not be cancelled";

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

// True while the worker may act; the test and a worker's last step exclude each other.
bool IsAlive(const std::shared_ptr<WorkerThread>& worker) {
  return worker && worker->Shared->Alive();
}

}  // namespace

TaskRunner::TaskRunner(CTaskList& list) : m_list(list) {}

TaskRunner::~TaskRunner() {
  if (m_started) Stop();
}

std::shared_ptr<WorkerThread> TaskRunner::WorkerAt(int index) const {
  std::shared_ptr<TaskSlot> slot = m_list.SlotAt(index);
  if (!slot) return nullptr;
  std::lock_guard lock(m_workersLock);
  auto found = m_workers.find(slot);
  return found == m_workers.end() ? nullptr : found->second;
}

void TaskRunner::SetWorker(const std::shared_ptr<TaskSlot>& slot,
                           std::shared_ptr<WorkerThread> worker) {
  std::shared_ptr<WorkerThread> old;
  {
    std::lock_guard lock(m_workersLock);
    auto found = m_workers.find(slot);
    if (found != m_workers.end()) {
      old = std::exchange(found->second, std::move(worker));
      if (!found->second) m_workers.erase(found);
    } else if (worker) {
      m_workers.emplace(slot, std::move(worker));
    }
  }
  // `old` is joined or abandoned here, outside the lock.
}

void TaskRunner::ReleaseRemoved() {
  const std::vector<std::shared_ptr<TaskSlot>> listed = m_list.Slots();
  const std::set<std::shared_ptr<TaskSlot>> live(listed.begin(), listed.end());
  std::vector<std::shared_ptr<WorkerThread>> released;
  {
    std::lock_guard lock(m_workersLock);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      if (live.contains(it->first)) {
        ++it;
        continue;
      }
      released.push_back(std::move(it->second));
      it = m_workers.erase(it);
    }
  }
  // Joined or abandoned here, outside the lock.
}

bool TaskRunner::HasWorker(int index) const {
  return IsAlive(WorkerAt(index));
}

// Asks the slot's worker to stop and waits for it until `deadline` (monotonic ms); a
// worker that has not ended by then has its connections cancelled and is abandoned,
// and its run's log gets the "User canceled!" it can no longer write. The task is Stop
// afterwards. With `hookInBackground` the cancel runs on a thread of its own, so the
// caller (the UI) never waits for the server.
void TaskRunner::StopSlot(int index, std::int64_t deadline, bool hookInBackground) {
  std::shared_ptr<TaskSlot> slot = m_list.SlotAt(index);
  if (!slot) return;
  Clock& clock = m_list.GetClock();
  if (std::shared_ptr<WorkerThread> worker = WorkerAt(index)) {
    WorkerShared& shared = *worker->Shared;
    shared.Stop.request_stop();
    const std::int64_t left = deadline - clock.MonotonicMs();
    if (left > 0) clock.SleepUnlessStopped(static_cast<int>(left), shared.Finished.get_token());
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
          CancelInRun(shared.CancelHook, m_owner, logFileName, hookInBackground);
        }
        shared.Abandoned = true;
        if (shared.InRun && m_owner != nullptr) {
          m_owner->TaskLog().AppendEntry(logFileName, LogLevel::Warning, kUserCanceled);
        }
      }
    }
    { std::lock_guard saving(shared.SaveLock); }
    worker.reset();
    SetWorker(slot, nullptr);
  }
  std::lock_guard lock(slot->Lock);
  slot->Task.SetStatus(TaskStatus::Stop);
}

int TaskRunner::Start(TaskRunnerOwner* owner) {
  if (owner == nullptr) return -5004;
  if (m_started) return -5001;
  ReleaseRemoved();
  m_owner = owner;
  const int count = m_list.Count();
  for (int i = 0; i < count; ++i) LaunchTask(i);
  m_started = true;
  return 0;
}

int TaskRunner::Stop() {
  if (!m_started) return -5003;
  ReleaseRemoved();
  const int count = m_list.Count();
  // Every worker is asked first and all share one deadline, so workers that do not answer
  // cost 3000 ms together rather than 3000 ms each.
  for (int i = 0; i < count; ++i) {
    if (auto worker = WorkerAt(i)) worker->Shared->Stop.request_stop();
  }
  const std::int64_t deadline = m_list.GetClock().MonotonicMs() + kStopWaitMs;
  for (int i = 0; i < count; ++i) StopSlot(i, deadline);
  m_started = false;
  m_owner = nullptr;
  m_list.RemoveAll();
  return 0;
}

void TaskRunner::LaunchTask(int index) {
  std::shared_ptr<TaskSlot> slot = m_list.SlotAt(index);
  if (!slot || m_owner == nullptr) return;
  if (IsAlive(WorkerAt(index))) return;
  {
    std::lock_guard lock(slot->Lock);
    const CTaskItem& task = slot->Task;
    if (task.GetScheduleKind() == ScheduleKind::Manual && task.RunImmediately == 0) return;
    if (FindTaskKind(task.TaskType) == nullptr) return;  // a type this program cannot run
  }
  auto worker = std::make_shared<WorkerThread>();
  worker->Shared = std::make_shared<WorkerShared>();
  try {
    worker->Thread = std::thread(WorkerMain, slot, worker->Shared, std::ref(*m_owner),
                                 std::ref(m_list.GetClock()));
  } catch (const std::system_error&) {
    std::string logFileName;
    {
      std::lock_guard lock(slot->Lock);
      slot->Task.RunImmediately = 0;
      slot->Task.SetStatus(TaskStatus::Stop);
      logFileName = slot->Task.LogFileName;
    }
    m_owner->TaskLog().AppendEntry(logFileName, LogLevel::Error, "Failed to create thread!");
    SetWorker(slot, nullptr);
    return;
  }
  SetWorker(slot, std::move(worker));
}

void TaskRunner::StopTask(int index) {
  StopSlot(index, m_list.GetClock().MonotonicMs() + kStopWaitMs);
}

void TaskRunner::RemoveTask(int index) {
  std::shared_ptr<TaskSlot> slot = m_list.SlotAt(index);
  if (!slot) return;
  SetWorker(slot, nullptr);
  m_list.RemoveAt(index);
}

void TaskRunner::RequestStop(int index) {
  std::shared_ptr<WorkerThread> worker = WorkerAt(index);
  if (!IsAlive(worker)) {
    StopSlot(index, 0);  // nothing to wait for
    return;
  }
  worker->Shared->Stop.request_stop();
  if (worker->StopDeadline < 0) {
    worker->StopDeadline = m_list.GetClock().MonotonicMs() + kStopWaitMs;
  }
}

bool TaskRunner::IsStopping(int index) const {
  std::shared_ptr<WorkerThread> worker = WorkerAt(index);
  return worker && worker->StopDeadline >= 0 && IsAlive(worker);
}

void TaskRunner::FinishStops() {
  ReleaseRemoved();
  const int count = m_list.Count();
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<WorkerThread> worker = WorkerAt(i);
    if (!worker || worker->StopDeadline < 0) continue;
    if (IsAlive(worker) && m_list.GetClock().MonotonicMs() < worker->StopDeadline) continue;
    StopSlot(i, 0, true);
  }
}

bool TaskRunner::LoadTaskFile(const std::string& path) {
  if (!m_started) return m_list.LoadTaskFile(path);
  bool loaded = false;
  const std::optional<std::vector<CTaskItem>> tasks = CTaskList::ReadTasksToLoad(path, &loaded);
  if (!tasks) return loaded;
  TaskRunnerOwner* owner = m_owner;
  if (Stop() != 0) return false;  // Stop also empties the list
  m_list.ReplaceAll(*tasks);
  return Start(owner) == 0;
}

}  // namespace brevanto
