// CTaskList::LoadTaskFile lives here because replacing the list stops and restarts the
// runner around it.

#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskList.h"

namespace brevanto {

bool CTaskList::LoadTaskFile(const std::string& path) {
  std::vector<CTaskItem> loaded;
  std::string problem;
  switch (ReadTaskFile(path, loaded, &problem)) {
    case TaskFileReadResult::Failure:
      return false;
    case TaskFileReadResult::NothingToLoad:
      // Either way the current list stays. A file with no tasks loaded fine; a damaged
      // record is a failed load, so Load From never tells the user it succeeded.
      return problem.empty();
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
