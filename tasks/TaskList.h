#pragma once
// CTaskList: the ordered list of tasks the application owns, each in a slot shared with
// the worker that runs it (the runner, schedule/TaskRunner.h, owns the workers).
//
// Threads: the list structure (adding, removing, reordering slots) changes only on the
// thread that owns the list (the UI thread, or the headless runner's main thread).
// Workers reach their own task through the slot's shared TaskSlot, never by index.
// Every read or write of a task's fields takes that task's lock, held only while copying,
// so the UI never blocks on a running task.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskRunState.h"

namespace brevanto {

class Clock;

// The state a worker shares with the UI. Shared ownership: an abandoned worker keeps
// its slot alive even after the task was removed from the list.
struct TaskSlot {
  mutable std::mutex Lock;  // guards Task, Progress and LastResult
  CTaskItem Task;
  TaskProgress Progress;     // written by the worker during a run
  TaskRunResult LastResult;  // written by the worker at a run's end, or at load
};

class CTaskList {
 public:
  explicit CTaskList(Clock& clock);
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
  // Sets the last result's Overdue mark alone, so a run ending meanwhile keeps its result.
  void SetOverdue(int index, bool overdue);
  // Copies of every task, in list order (each taken under its own lock).
  std::vector<CTaskItem> Snapshot() const;
  // The slot itself, for the runner and for workers. Null outside the range.
  std::shared_ptr<TaskSlot> SlotAt(int index) const;
  // The slots themselves, in list order.
  std::vector<std::shared_ptr<TaskSlot>> Slots() const;

  // Task file (tasks/TaskFile.h). Saves from any thread are serialised process-wide.
  bool SaveTaskFile(const std::string& path) const;
  // Only over the file with the stamp `expected` (tasks/TaskFile.h).
  ReplaceResult SaveTaskFileIfUnchanged(const std::string& path, const FileStamp& expected,
                                        FileStamp* written) const;
  // Replaces the list from a task file, every task with a fresh key. False, keeping the
  // list, when the file cannot be read or holds a damaged record; a file without tasks
  // keeps the list too, and loaded fine. A started runner loads through
  // TaskRunner::LoadTaskFile, which stops and restarts its workers around the change.
  bool LoadTaskFile(const std::string& path);
  // LoadTaskFile in two steps, for a caller that acts between them: the tasks the file
  // gives, or none when the list is to stay (`*loaded` then says whether the load
  // counts as done), and the replacement of the whole list by them.
  static std::optional<std::vector<CTaskItem>> ReadTasksToLoad(const std::string& path,
                                                               bool* loaded);
  void ReplaceAll(const std::vector<CTaskItem>& tasks);

  Clock& GetClock() const { return m_clock; }

  // Makes the "%d%d%d%d%d%d%d" key from the clock and the current count.
  std::string MakeTaskKey() const;

 private:
  Clock& m_clock;
  mutable std::mutex m_slotsLock;  // guards m_slots' structure against cross-thread snapshots
  std::vector<std::shared_ptr<TaskSlot>> m_slots;
};

}  // namespace brevanto
