#include "engines/Routines.h"

#include "engines/BackupToFilesRoutine.h"
#include "engines/ExportWorker.h"
#include "engines/MySqlConnection.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/ScriptWorker.h"
#include "engines/ServerCopyWorker.h"
#include "tasks/TaskKinds.h"

namespace brevanto {

TaskRoutine MakeRoutine(KindRoutine routine, const std::string& applicationFolder) {
  InitMySqlLibrary();  // before any worker thread connects
  switch (routine) {
    case KindRoutine::BackupToFiles:
      return [applicationFolder](TaskRunContext& context) {
        return RunBackupToFiles(context, applicationFolder);
      };
    case KindRoutine::ServerCopy: return ServerCopyWorker;
    case KindRoutine::Export:
      return [applicationFolder](TaskRunContext& context) {
        return ExportTables(context, applicationFolder, ExportRequestOf(context.Task()));
      };
    case KindRoutine::Script:
      return [](TaskRunContext& context) {
        return ExecuteScript(context, ScriptRequestOf(context.Task()));
      };
    case KindRoutine::RestoreFiles:
      return [](TaskRunContext& context) {
        return RestoreFromFiles(context, RestoreFilesRequestOf(context.Task()));
      };
  }
  return {};
}

TaskRoutine RoutineFor(TaskType type, const std::string& applicationFolder) {
  const TaskKind* kind = FindTaskKind(type);
  return kind ? MakeRoutine(kind->Routine, applicationFolder) : TaskRoutine{};
}

std::map<TaskType, TaskRoutine> MakeRoutineTable(const std::string& applicationFolder) {
  std::map<TaskType, TaskRoutine> table;
  for (const TaskKind& kind : TaskKinds()) {
    TaskRoutine routine = MakeRoutine(kind.Routine, applicationFolder);
    if (routine) table.emplace(kind.Type, std::move(routine));
  }
  return table;
}

}  // namespace brevanto
