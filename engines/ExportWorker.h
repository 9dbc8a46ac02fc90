#pragma once
// The run of an ExportToFiles task: every table and view of the task's list goes into a
// file of its own, as CSV, XML, HTML or TEXT. Runs on the task's worker thread with its
// own connection.

#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "schedule/TaskRoutine.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// What an export run is asked to do: which tables and views of which server, into which
// files.
struct ExportRequest {
  CServerInfo Server;
  std::vector<TableItem> Tables;  // each into a file of its own, in this order
  ExportSettings Settings;
  CAdvancedOptions Advanced;
  // Whose run it is (a task's log file name, else its name): tags its temporary files.
  std::string RunName;
  // age public keys ("age1..."): each file is encrypted to them. Empty: plain files.
  std::vector<std::string> Recipients;
};

// The request of an ExportToFiles task.
ExportRequest ExportRequestOf(const CTaskItem& task);

// `applicationFolder` ends in "/"; its "Data" folder is made when missing.
RunOutcome ExportTables(TaskRunContext& context, const std::string& applicationFolder,
                        const ExportRequest& request);

// The task's routine: ExportTables with the task's own request.
RunOutcome ExportWorker(TaskRunContext& context, const std::string& applicationFolder);

}  // namespace brevanto
