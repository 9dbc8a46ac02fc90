#include "schedule/TaskCommands.h"

#include <unordered_set>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/TaskRunner.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/BackupFileName.h"
#include "tasks/TaskList.h"

namespace brevanto {
namespace {

// Written over the key of a task about to be deleted; generated keys are all digits.
constexpr const char* kDeletionMarker = "~!@#$%^&*()_+|-=";

bool IsScheduled(const CTaskItem& task) { return task.GetScheduleKind() != ScheduleKind::Manual; }

}  // namespace

namespace question {
std::string StopRunningTask(const std::string& taskName) {
  return "Do you want to STOP the task (" + taskName + " -- Running) now?";
}
std::string RunTaskNow(const std::string& taskName) {
  return "Do you want to RUN the task (" + taskName + ") immediately?";
}
std::string RunNewTaskNow(const std::string& taskName) {
  return "Do you want to RUN the task (" + taskName + ") immediatelly?";
}
std::string CopyTasks(int count) {
  return "Do you want to create " + std::to_string(count) + " task(s) by copies?";
}
}  // namespace question

CTaskCommands::CTaskCommands(TaskRunner& runner, CTaskLog& log, TaskRunnerOwner& owner,
                             AskFunction ask)
    : m_runner(runner), m_list(runner.List()), m_log(log), m_owner(owner), m_ask(std::move(ask)) {}

TaskStatus CTaskCommands::StatusOf(int index) const {
  // A worker just launched has not yet set Waiting at its first poll; it is active all
  // the same, and Stop or Stop All must not pass it over.
  const TaskStatus status = m_list.At(index).GetStatus();
  return status == TaskStatus::Stop && m_runner.HasWorker(index) ? TaskStatus::Waiting : status;
}

void CTaskCommands::Log(int index, const char* text) {
  m_log.AppendEntry(m_list.At(index).LogFileName, LogLevel::General, text);
}

void CTaskCommands::Save() {
  if (!m_owner.SaveTasks() && m_tellSaveFailure) m_tellSaveFailure(kTaskListNotSaved);
}

std::string CTaskCommands::UniqueLogFileName(const std::string& taskName,
                                             const TaskDateTime& created) const {
  const std::vector<CTaskItem> tasks = m_list.Snapshot();
  return UniqueLogFileName(taskName, created, [&](const std::string& candidate) {
    for (const CTaskItem& task : tasks) {
      if (task.LogFileName == candidate) return true;
    }
    return false;
  });
}

std::string CTaskCommands::UniqueLogFileName(
    const std::string& taskName, const TaskDateTime& created,
    const std::function<bool(const std::string&)>& listed) const {
  // The stamp has no separators, so two moments (or two copies in one second) can give
  // one name; a second task must never write into, or delete, another task's log.
  const std::string name = MakeLogFileName(taskName, created);
  auto taken = [&](const std::string& candidate) {
    return m_log.Exists(candidate) || listed(candidate);
  };
  if (!taken(name)) return name;
  const std::string stem = name.substr(0, name.size() - 4);  // without ".log"
  for (int n = 2;; ++n) {
    std::string candidate = stem + "_" + std::to_string(n) + ".log";
    if (!taken(candidate)) return candidate;
  }
}

void CTaskCommands::PrepareNewTask(CTaskItem& task, const TaskDateTime& created) const {
  task.SetStatus(TaskStatus::Stop);
  task.CreatedTime = created;
}

int CTaskCommands::CreateTask(CTaskItem task) {
  const int index = AddNewTask(std::move(task));
  LaunchAfterCreate(index);
  return index;
}

int CTaskCommands::CreateTaskAndRun(CTaskItem task) {
  const int index = AddNewTask(std::move(task));
  m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 1; });
  m_runner.LaunchTask(index);
  return index;
}

int CTaskCommands::AddNewTask(CTaskItem task) {
  PrepareNewTask(task, m_list.GetClock().Now());
  // A new task starts with the advanced defaults; tasks made before them keep their
  // old behaviour because they have no such section.
  if (!FindAdvancedOptions(task)) SetAdvancedOptions(task, CAdvancedOptions());
  task.LogFileName = UniqueLogFileName(task.TaskName, task.CreatedTime);
  m_log.AppendEntry(task.LogFileName, LogLevel::General, "");
  m_log.AppendEntry(task.LogFileName, LogLevel::General, "Create task");
  const int index = m_list.AddTask(task);
  Save();
  return index;
}

std::vector<int> CTaskCommands::CreateTasks(std::vector<CTaskItem> tasks) {
  // One look at the list and sets after it keep this linear in the number of tasks.
  std::unordered_set<std::string> logNames;
  for (const CTaskItem& task : m_list.Snapshot()) logNames.insert(task.LogFileName);
  const auto listed = [&logNames](const std::string& name) { return logNames.contains(name); };
  const TaskDateTime created = m_list.GetClock().Now();
  std::vector<int> added;
  added.reserve(tasks.size());
  for (CTaskItem& task : tasks) {
    PrepareNewTask(task, created);
    task.LogFileName = UniqueLogFileName(task.TaskName, created, listed);
    logNames.insert(task.LogFileName);
    added.push_back(m_list.AddTask(task));
  }
  if (!m_owner.SaveTasks()) return {};
  for (const int index : added) {
    const std::string logFileName = m_list.At(index).LogFileName;
    m_log.AppendEntry(logFileName, LogLevel::General, "");
    m_log.AppendEntry(logFileName, LogLevel::General, "Create task");
  }
  for (const int index : added) LaunchAfterCreate(index);
  return added;
}

void CTaskCommands::LaunchAfterCreate(int index) {
  const CTaskItem task = m_list.At(index);
  if (IsScheduled(task)) {
    m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 0; });
    m_runner.LaunchTask(index);
  } else if (m_ask(question::RunNewTaskNow(task.TaskName), QuestionButtons::YesNo) == Answer::Yes) {
    m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 1; });
    m_runner.LaunchTask(index);
  } else {
    m_list.Update(index, [](CTaskItem& t) { t.SetStatus(TaskStatus::Stop); });
  }
}

bool CTaskCommands::ApplyEdit(int index, const CTaskItem& edited) {
  if (index < 0 || index >= m_list.Count()) return false;
  const CTaskItem live = m_list.At(index);
  if (StatusOf(index) != TaskStatus::Stop) return false;
  CTaskItem task = edited;
  task.LogFileName = live.LogFileName;  // an edit never moves the log
  m_list.Replace(index, task);
  Save();
  FinishEdit(index);
  return true;
}

EditsResult CTaskCommands::ApplyEdits(std::vector<TaskEdit> edits) {
  const int count = m_list.Count();
  for (const TaskEdit& edit : edits) {
    if (edit.Index < 0 || edit.Index >= count || StatusOf(edit.Index) != TaskStatus::Stop) {
      return EditsResult::NotStopped;
    }
  }
  std::vector<CTaskItem> before;
  before.reserve(edits.size());
  for (TaskEdit& edit : edits) {
    before.push_back(m_list.At(edit.Index));
    edit.Task.LogFileName = before.back().LogFileName;  // an edit never moves the log
    m_list.Replace(edit.Index, edit.Task);
  }
  if (!m_owner.SaveTasks()) {
    // Undone, last first, so the list again holds what the unchanged task file holds.
    for (std::size_t i = edits.size(); i-- > 0;) m_list.Replace(edits[i].Index, before[i]);
    return EditsResult::NotSaved;
  }
  for (const TaskEdit& edit : edits) FinishEdit(edit.Index);
  return EditsResult::Applied;
}

void CTaskCommands::FinishEdit(int index) {
  Log(index, "Edit task");
  if (IsScheduled(m_list.At(index))) {
    m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 0; });
    m_runner.LaunchTask(index);
  } else {
    m_list.Update(index, [](CTaskItem& t) { t.SetStatus(TaskStatus::Stop); });
  }
}

std::vector<int> CTaskCommands::CopyTasks(const std::vector<int>& rows) {
  std::vector<int> sources;
  for (int row : rows) {
    if (row >= 0 && row < m_list.Count()) sources.push_back(row);
  }
  std::vector<int> added;
  if (sources.empty() ||
      m_ask(question::CopyTasks(static_cast<int>(sources.size())), QuestionButtons::YesNoCancel) !=
          Answer::Yes) {
    return added;
  }
  for (int row : sources) {
    CTaskItem copy = m_list.At(row);
    copy.TaskName += "_Copy";
    copy.CreatedTime = m_list.GetClock().Now();
    copy.LogFileName = UniqueLogFileName(copy.TaskName, copy.CreatedTime);
    // The original's backups stay the original's: a copy deleting them as its own
    // expired copies would remove files the original still counts on.
    copy.BackupHistory.clear();
    m_log.AppendEntry(copy.LogFileName, LogLevel::General, "");
    const int index = m_list.AddTask(copy);
    m_list.Update(index, [](CTaskItem& t) {
      t.RunImmediately = 0;
      t.SetStatus(TaskStatus::Stop);
    });
    Log(index, "Create task by Copy");
    added.push_back(index);
  }
  Save();
  return added;
}

bool CTaskCommands::DeleteTasks(const std::vector<int>& rows) {
  if (m_ask(question::kDeleteTasks, QuestionButtons::YesNoCancel) != Answer::Yes) return false;
  // Two passes: marking first, so removing one slot never shifts one still to be visited.
  for (int row : rows) {
    if (row < 0 || row >= m_list.Count()) continue;
    if (StatusOf(row) != TaskStatus::Stop) m_runner.StopTask(row);
    m_list.Update(row, [](CTaskItem& t) {
      t.SetStatus(TaskStatus::Stop);
      t.TaskKey = kDeletionMarker;
    });
  }
  for (int i = 0; i < m_list.Count();) {
    const CTaskItem task = m_list.At(i);
    if (task.TaskKey != kDeletionMarker) {
      ++i;
      continue;
    }
    m_log.DeleteLogIfWritable(task.LogFileName);
    m_runner.RemoveTask(i);
  }
  Save();
  return true;
}

bool CTaskCommands::DeleteAll() {
  if (m_ask(question::kDeleteAll, QuestionButtons::YesNoCancel) != Answer::Yes) return false;
  while (m_list.Count() > 0) {
    if (StatusOf(0) != TaskStatus::Stop) m_runner.StopTask(0);
    m_log.DeleteLogIfWritable(m_list.At(0).LogFileName);
    m_runner.RemoveTask(0);
  }
  Save();
  return true;
}

void CTaskCommands::StartOne(int index) {
  Log(index, "Start task");
  m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 0; });
  m_runner.LaunchTask(index);
}

void CTaskCommands::StopOne(int index) {
  m_list.Update(index, [](CTaskItem& t) { t.RunImmediately = 0; });
  if (m_stopWithoutWaiting) {
    m_runner.RequestStop(index);
  } else {
    m_runner.StopTask(index);
  }
  m_list.Update(index, [](CTaskItem& t) { t.SetStatus(TaskStatus::Stop); });
}

void CTaskCommands::Start(const std::vector<int>& rows) {
  for (int row : rows) {
    if (row < 0 || row >= m_list.Count()) continue;
    if (StatusOf(row) == TaskStatus::Stop && IsScheduled(m_list.At(row))) StartOne(row);
  }
}

void CTaskCommands::Stop(const std::vector<int>& rows) {
  for (int row : rows) {
    if (row < 0 || row >= m_list.Count()) continue;
    const TaskStatus status = StatusOf(row);
    if (status == TaskStatus::Running) {
      const std::string name = m_list.At(row).TaskName;
      if (m_ask(question::StopRunningTask(name), QuestionButtons::YesNo) != Answer::Yes) continue;
    } else if (status != TaskStatus::Waiting) {
      continue;
    }
    Log(row, "Stop task");
    StopOne(row);
  }
}

bool CTaskCommands::StartAll() {
  if (m_ask(question::kStartAll, QuestionButtons::YesNoCancel) != Answer::Yes) return false;
  for (int i = 0; i < m_list.Count(); ++i) {
    if (StatusOf(i) == TaskStatus::Stop && IsScheduled(m_list.At(i))) StartOne(i);
  }
  return true;
}

bool CTaskCommands::StopAll() {
  if (m_ask(question::kStopAll, QuestionButtons::YesNoCancel) != Answer::Yes) return false;
  for (int i = 0; i < m_list.Count(); ++i) {
    if (StatusOf(i) == TaskStatus::Stop) continue;
    StopOne(i);
    Log(i, "Stop task");
  }
  return true;
}

void CTaskCommands::RunImmediately(const std::vector<int>& rows) {
  for (int row : rows) {
    if (row < 0 || row >= m_list.Count()) continue;
    const CTaskItem task = m_list.At(row);
    if (task.GetStatus() == TaskStatus::Running) continue;
    if (m_ask(question::RunTaskNow(task.TaskName), QuestionButtons::YesNo) == Answer::Yes) {
      Log(row, "Run task immediately");
      m_list.Update(row, [](CTaskItem& t) { t.RunImmediately = 1; });
      m_runner.LaunchTask(row);
    } else {
      m_list.Update(row, [](CTaskItem& t) { t.RunImmediately = 0; });
    }
  }
}

bool CTaskCommands::CanStartAll() const {
  for (int i = 0; i < m_list.Count(); ++i) {
    if (StatusOf(i) == TaskStatus::Stop && IsScheduled(m_list.At(i))) return true;
  }
  return false;
}

bool CTaskCommands::CanStopAll() const {
  for (int i = 0; i < m_list.Count(); ++i) {
    if (StatusOf(i) != TaskStatus::Stop) return true;
  }
  return false;
}

}  // namespace brevanto
