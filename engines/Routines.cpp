#include "engines/Routines.h"

#include "engines/BackupToFilesRoutine.h"
#include "engines/MySqlConnection.h"

namespace brevanto {

TaskRoutine RoutineFor(TaskType type, const std::string& applicationFolder) {
  InitMySqlLibrary();  // before any worker thread connects
  switch (type) {
    case TaskType::BackupToFiles:
      return [applicationFolder](TaskRunContext& context) {
        return RunBackupToFiles(context, applicationFolder);
      };
    default:
      return {};
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
