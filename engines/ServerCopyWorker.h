#pragma once
// The run of the four copy task types (BackupToServer, BackupToDatabase,
// RestoreFromServer, RestoreFromDatabase): databases and tables go from the task's
// source server into its destination server by SQL statements, with no file between.
// Runs on the task's worker thread and opens its own two connections.

#include "schedule/TaskRoutine.h"

namespace brevanto {

// One run for the task in `context`. The task's first server is the source, the second
// the destination; its type picks the log wording and the destination database names.
RunOutcome ServerCopyWorker(TaskRunContext& context);

}  // namespace brevanto
