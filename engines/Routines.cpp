#include "engines/Routines.h"

#include "engines/BackupToFilesRoutine.h"
#include "engines/ExportWorker.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ScriptWorker.h"
#include "engines/ServerCopyWorker.h"

namespace brevanto {

TaskRoutine RoutineFor(TaskType type, const std::string& applicationFolder) {
  InitMySqlLibrary();  // before any worker thread connects
  switch (type) {
    case TaskType::BackupToFiles:
      return [applicationFolder](TaskRunContext& context) {
        return RunBackupToFiles(context, applicationFolder);
      };
    case TaskType::BackupToServer:
    case TaskType::BackupToDatabase:
    case TaskType::RestoreFromServer:
    case TaskType::RestoreFromDatabase: return ServerCopyWorker;
    case TaskType::ExportToFiles:
      return [applicationFolder](TaskRunContext& context) {
        return ExportTables(context, applicationFolder, ExportRequestOf(context.Task()));
      };
    case TaskType::ExecuteScript:
      return [](TaskRunContext& context) {
        return ExecuteScript(context, ScriptRequestOf(context.Task()));
      };
    case TaskType::RestoreFromFiles:
      return [](TaskRunContext& context) {
        return RestoreFromFiles(context, RestoreFilesRequestOf(context.Task()));
      };
    default: return {};
  }
}

std::map<TaskType, TaskRoutine> MakeRoutineTable(const std::string& applicationFolder) {
  std::map<TaskType, TaskRoutine> table;
  for (int type = 1; type <= 8; ++type) {
    TaskRoutine routine = RoutineFor(static_cast<TaskType>(type), applicationFolder);
    if (routine) table.emplace(static_cast<TaskType>(type), std::move(routine));
  }
  return table;
}

}  // namespace brevanto
