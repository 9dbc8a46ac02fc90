#pragma once
// What the runner (schedule/TaskRunner.cpp) and its worker threads (schedule/Runner.cpp)
// share: the state a worker shares with whoever stops it, the runner's handle on the
// thread, and the thread's entry point. Internal to schedule/.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace brevanto {

class Clock;
class TaskRunnerOwner;
struct TaskSlot;

inline constexpr const char* kUserCanceled = "User canceled!";

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

// The runner's handle on a slot's worker thread. Lives on the list's thread only.
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

// The body of a worker thread: waiting, runs, and its end (schedule/Runner.cpp).
void WorkerMain(std::shared_ptr<TaskSlot> slot, std::shared_ptr<WorkerShared> shared,
                TaskRunnerOwner& owner, Clock& clock);

}  // namespace brevanto
