#pragma once
// The run of a RestoreFromFiles task: each SQL file of the task's list is read statement
// by statement and executed against the task's destination server as it is read, so
// memory does not grow with the file. Runs on the task's worker thread.

#include "schedule/TaskRoutine.h"

namespace brevanto {

RunOutcome RestoreFilesWorker(TaskRunContext& context);

}  // namespace brevanto
