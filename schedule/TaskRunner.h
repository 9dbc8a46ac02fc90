#pragma once
// TaskRunner: gives every active task of a CTaskList its worker thread, and stops,
// joins or abandons those workers. The workers themselves (the common skeleton every run
// follows, and what they write back into their task's slot) live in schedule/Runner.cpp.
//
// Threads: every member function runs on the thread that owns the list (the UI thread,
// or the headless runner's main thread). Stop requests without waiting (RequestStop,
// FinishStops) never wait for a worker or a server, so the UI never blocks on a run.
// REQUIRES: the list outlives the runner; the owner given to Start and the list's clock
// outlive every worker thread, including workers abandoned after ignoring a stop (see
// schedule/TaskRunnerOwner.h).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace brevanto {

class CTaskList;
class TaskRunnerOwner;
struct TaskSlot;
struct WorkerThread;  // schedule/WorkerThread.h

class TaskRunner {
 public:
  explicit TaskRunner(CTaskList& list);
  ~TaskRunner();  // stops the runner if it is still started
  TaskRunner(const TaskRunner&) = delete;
  TaskRunner& operator=(const TaskRunner&) = delete;

  CTaskList& List() const { return m_list; }

  // Codes: 0 ok, -5001 already started, -5003 not started, -5004 no owner.
  // Sets the owner and launches every task that needs a worker.
  int Start(TaskRunnerOwner* owner);
  // Stops every worker (one common 3000 ms deadline for all), clears the owner and
  // removes every task from the list.
  int Stop();
  bool Started() const { return m_started; }
  TaskRunnerOwner* Owner() const { return m_owner; }

  // Starts the slot's worker unless it has a live one, the task is Manual without
  // RunImmediately, or the runner is not started.
  void LaunchTask(int index);
  // Asks the slot's worker to stop and waits up to 3000 ms; a worker still running then
  // has its cancel hook called and is abandoned (it keeps its slot alive and writes
  // nothing more). The task is Stop afterwards.
  void StopTask(int index);
  // True while the slot's worker thread is alive (not yet ended or abandoned).
  bool HasWorker(int index) const;
  // Removes the task from the list with its worker: an ended worker is joined, a live one
  // (not stopped first) is abandoned and falls silent at once.
  void RemoveTask(int index);

  // Stopping without waiting, for the UI thread: the request returns at once, and a
  // regular call (the window's one-second timer) completes the stops whose workers ended,
  // or cancels and abandons those that did not answer within 3000 ms. The task's row
  // shows "Stopping..." meanwhile.
  // Asks the slot's worker to stop. A slot without a live worker is Stop at once.
  void RequestStop(int index);
  // Completes the requested stops that are due; never waits for a worker or a server.
  void FinishStops();
  // True from RequestStop until the worker has ended or was abandoned.
  bool IsStopping(int index) const;

  // Load From: replaces the list from a task file (CTaskList::LoadTaskFile), stopping the
  // runner before and starting it again after when it is started. A file that is not to
  // be taken in leaves the list and its workers alone.
  bool LoadTaskFile(const std::string& path);

 private:
  std::shared_ptr<WorkerThread> WorkerAt(int index) const;
  void SetWorker(const std::shared_ptr<TaskSlot>& slot, std::shared_ptr<WorkerThread> worker);
  void StopSlot(int index, std::int64_t deadline, bool hookInBackground = false);
  // Lets go of the workers of slots no longer in the list (removed without RemoveTask).
  void ReleaseRemoved();

  CTaskList& m_list;
  // The worker of each slot that has had one since its last stop, by slot. The key keeps
  // the slot alive, so its address is never reused while listed here.
  std::map<std::shared_ptr<TaskSlot>, std::shared_ptr<WorkerThread>> m_workers;
  mutable std::mutex m_workersLock;  // guards m_workers; never held while a worker is let go
  TaskRunnerOwner* m_owner = nullptr;
  bool m_started = false;
};

}  // namespace brevanto
