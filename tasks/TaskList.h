#pragma once
// CTaskList: the ordered list of tasks the application owns, and the runner that gives
// every active task its worker thread (the runner half lives in schedule/Runner.cpp).
//
// Threads: the list structure (adding, removing, reordering slots) changes only on the
// thread that owns the list (the UI thread, or the headless runner's main thread).
// Workers reach their own task through the slot's shared TaskSlot, never by index.
// Every read or write of a task's fields takes that task's lock, held only while copying,
// so the UI never blocks on a running task.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskRunState.h"

namespace brevanto {

class Clock;
class CTaskList;
class TaskRunnerOwner;  // schedule/TaskRunnerOwner.h
struct WorkerThread;    // schedule/Runner.cpp

// The state a worker shares with the UI. Shared ownership: an abandoned worker keeps
// its slot alive even after the task was removed from the list.
struct TaskSlot {
  mutable std::mutex Lock;  // guards Task, Progress and LastResult
  CTaskItem Task;
  TaskProgress Progress;     // written by the worker during a run
  TaskRunResult LastResult;  // written by the worker at a run's end, or at load
};

struct CTaskThreadInfo {
  std::shared_ptr<TaskSlot> Slot;
  std::shared_ptr<WorkerThread> Worker;  // empty when the task has no thread
  CTaskList* Owner = nullptr;
};

class CTaskList {
 public:
  explicit CTaskList(Clock& clock);
  ~CTaskList();  // stops the runner if it is still started
  CTaskList(const CTaskList&) = delete;
  CTaskList& operator=(const CTaskList&) = delete;

  int Count() const;
  // A copy of the task at `index`, taken under its lock; the default task outside the range.
  CTaskItem At(int index) const;
  CTaskItem CopyAt(int index) const { return At(index); }
  // Runs `change` on the live task under its lock. Outside the range: nothing.
  void Update(int index, const std::function<void(CTaskItem&)>& change);
  // Replaces the task's fields, keeping its TaskKey. Outside the range: nothing.
  void Replace(int index, const CTaskItem& task);
  // Appends a copy with a fresh TaskKey and RunImmediately cleared; returns its index.
  int AddTask(const CTaskItem& task);
  void RemoveAt(int index);
  void RemoveAll();
  int FindByName(const std::string& name) const;
  // "Task %d" with Count() + 1.
  std::string ProposeTaskName() const;
  // The progress of the task's run and its last outcome, copied under its lock.
  // Outside the range: empty values.
  TaskProgress ProgressAt(int index) const;
  TaskRunResult LastResultAt(int index) const;
  void SetLastResult(int index, const TaskRunResult& result);
  // Copies of every task, in list order (each taken under its own lock).
  std::vector<CTaskItem> Snapshot() const;
  // The slot itself, for the runner and for workers. Null outside the range.
  std::shared_ptr<TaskSlot> SlotAt(int index) const;

  // Task file (tasks/TaskFile.h). Saves from any thread are serialised process-wide.
  bool SaveTaskFile(const std::string& path) const;
  // Only over the file with the stamp `expected` (tasks/TaskFile.h).
  ReplaceResult SaveTaskFileIfUnchanged(const std::string& path, const FileStamp& expected,
                                        FileStamp* written) const;
  // Replaces the list from a task file; stops and restarts the runner around it when started.
  // Defined in schedule/ because it drives the runner.
  bool LoadTaskFile(const std::string& path);

  // Runner (schedule/Runner.cpp). Codes: 0 ok, -5001 already started, -5003 not started,
  // -5004 no owner. Owning thread only.
  // Sets the owner and launches every task that needs a worker.
  // REQUIRES: `owner` and this list's clock outlive every worker thread, including workers
  // abandoned after ignoring a stop (see schedule/TaskRunnerOwner.h).
  int StartRunner(TaskRunnerOwner* owner);
  // Stops every worker (one common 3000 ms deadline for all), clears the owner and
  // removes every task.
  int StopRunner();
  // Starts the slot's worker unless it has a live one, the task is Manual without
  // RunImmediately, or the runner is not started.
  void LaunchTask(int index);
  // Asks the slot's worker to stop and waits up to 3000 ms; a worker still running then
  // has its cancel hook called and is abandoned (it keeps its slot alive and writes
  // nothing more). The task is Stop afterwards.
  void StopTask(int index);
  bool Started() const { return m_started; }
  // True while the slot's worker thread is alive (not yet ended or abandoned).
  bool HasWorker(int index) const;
  TaskRunnerOwner* Owner() const { return m_owner; }
  Clock& GetClock() const { return m_clock; }

  // Makes the "%d%d%d%d%d%d%d" key from the clock and the current count.
  std::string MakeTaskKey() const;

 private:
  friend struct RunnerAccess;  // schedule/Runner.cpp reaches the slots through it

  Clock& m_clock;
  mutable std::mutex m_slotsLock;  // guards m_slots' structure against cross-thread snapshots
  std::vector<CTaskThreadInfo> m_slots;
  TaskRunnerOwner* m_owner = nullptr;
  bool m_started = false;
};

}  // namespace brevanto
