#pragma once
// The engines' routines, one per routine of the task kinds (tasks/TaskKinds.h), for the
// application to plug into the runner by task type. A type whose engine is not built has
// no routine: the runner then ends its runs with an Error entry instead of reporting a
// success.

#include <map>
#include <string>

#include "schedule/TaskRoutine.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskKinds.h"

namespace brevanto {

// The engines' routine of a kind's KindRoutine, or an empty function when there is none.
TaskRoutine MakeRoutine(KindRoutine routine, const std::string& applicationFolder);

// The routine of `type`'s kind, or an empty function when there is none.
// `applicationFolder` ends in "/"; the routines may be called from several worker threads
// at once.
TaskRoutine RoutineFor(TaskType type, const std::string& applicationFolder);

// Every routine there is, keyed by task type.
std::map<TaskType, TaskRoutine> MakeRoutineTable(const std::string& applicationFolder);

}  // namespace brevanto
