#pragma once
// The run of a BackupToFiles task: dumps the resolved selection of the source server
// into SQL files or PHP scripts, records the run's files as a backup copy and lets the
// runner delete expired copies. Runs on the task's worker thread; owns its connection.

#include <string>

#include "schedule/TaskRoutine.h"

namespace brevanto {

// One run. `applicationFolder` ends in "/"; its "Data" folder is created (failure ignored).
RunOutcome RunBackupToFiles(TaskRunContext& context, const std::string& applicationFolder);

}  // namespace brevanto
