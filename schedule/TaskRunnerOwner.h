#pragma once
// TaskRunnerOwner: what the runner of a CTaskList (schedule/TaskRunner.h) needs from the
// application that owns it (the application core, or a test fixture). Workers call it from their
// own threads, so every member function must be thread-safe.
//
// REQUIRES: the owner, its CTaskLog and the routines it hands out outlive every worker
// thread, including workers abandoned after ignoring a stop request (they keep running
// detached until they return). In practice they live for the whole process.

#include <cstdint>

#include "schedule/RunReport.h"
#include "schedule/TaskRoutine.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class CTaskLog;

class TaskRunnerOwner {
 public:
  virtual ~TaskRunnerOwner() = default;

  // The log writer every worker entry goes through.
  virtual CTaskLog& TaskLog() = 0;

  // The options' "Maximum size of each task log file": on/off and the size in KB.
  virtual bool LimitLogSize() = 0;
  virtual std::int64_t MaxLogSizeKB() = 0;

  // Saves the whole task list to the application's task file. Called by workers after
  // their backup history changed; saves never interleave (CTaskList::SaveTaskFile).
  virtual bool SaveTasks() = 0;

  // The routine that does the work of one task type, or null when the type has none
  // (its runs then end with an Error entry). The pointer stays valid as long as the owner.
  virtual const TaskRoutine* RoutineFor(TaskType type) = 0;

  // Told at the start of every run, after its "Running..." entry, on the worker thread,
  // with the report's task fields and Start filled. Must return soon: the run waits.
  virtual void RunStarted(const RunReport& report) {}

  // Told once at the end of every run (finished, failed or canceled) after its last log
  // entry, on the worker thread; not for a worker abandoned mid-run. Must return soon:
  // the worker waits for it before the task goes back to waiting.
  virtual void RunEnded(const RunReport& report) {}
};

}  // namespace brevanto
