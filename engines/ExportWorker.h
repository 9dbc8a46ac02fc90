#pragma once
// The run of an ExportToFiles task: every table and view of the task's list goes into a
// file of its own, as CSV, XML, HTML or TEXT. Runs on the task's worker thread with its
// own connection.

#include <string>

#include "schedule/TaskRoutine.h"

namespace brevanto {

// `applicationFolder` ends in "/"; its "Data" folder is made when missing.
RunOutcome ExportWorker(TaskRunContext& context, const std::string& applicationFolder);

}  // namespace brevanto
