#pragma once
// When a task runs: the due test its worker repeats while waiting, and the next run
// time shown in the task list. Both are pure functions of the task's fields and the
// local wall-clock time passed in, with a resolution of one minute; neither reads the
// other's result. Safe from any thread on a task the caller holds (under its lock).

#include "core/DateTime.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// True when the worker is to start a run at `now`: a RunImmediately request of a
// stopped or waiting task, or a waiting task's schedule matching the minute of `now`
// (at most one run per minute: never in the minute of LastRunTime).
bool IsDue(const CTaskItem& task, const TaskDateTime& now);

// The next moment the schedule names, at or after the minute of `now`; all zero when
// there is none. TimeInterval counts from LastRunTime (or, before any run, the worker's
// start) and keeps the task's current NextRunTime while neither is set; a run it missed
// shows its time in the past and is due at once.
TaskDateTime ComputeNextRunTime(const CTaskItem& task, const TaskDateTime& now);

// task.NextRunTime = ComputeNextRunTime(task, now).
void UpdateNextRunTime(CTaskItem& task, const TaskDateTime& now);

// After a run: true when the worker goes back to waiting (the status is not Stop and the
// schedule is not Manual), false when its thread ends.
bool ShouldKeepWaiting(const CTaskItem& task);

}  // namespace brevanto
