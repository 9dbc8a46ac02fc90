// CTaskList::LoadTaskFile lives here because replacing the list stops and restarts the
// runner around it.

#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskList.h"

namespace brevanto {

bool CTaskList::LoadTaskFile(const std::string& path) {
  std::vector<CTaskItem> loaded;
  switch (ReadTaskFile(path, loaded)) {
    case TaskFileReadResult::Failure:
      return false;
    case TaskFileReadResult::NothingToLoad:
      return true;  // an empty or damaged file leaves the current list as it is
    case TaskFileReadResult::Loaded:
      break;
  }
  const bool wasStarted = m_started;
  TaskRunnerOwner* owner = m_owner;
  if (wasStarted) {
    if (StopRunner() != 0) return false;  // StopRunner also empties the list
  } else {
    RemoveAll();
  }
  // AddTask gives every task a fresh key.
  for (const CTaskItem& task : loaded) AddTask(task);
  return !wasStarted || StartRunner(owner) == 0;
}

}  // namespace brevanto
