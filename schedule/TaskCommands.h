#pragma once
// CTaskCommands: the task list's commands as the user gives them (create, edit, copy,
// delete, start, stop, run now), with their questions, log entries and task-file saves.
// The questions go through an AskFunction so the UI shows them and tests answer them.
//
// Threads: the owning (UI) thread only, like the CTaskList's structure.
// REQUIRES: the runner, its list, the log and the owner outlive this object.

#include <functional>
#include <string>
#include <vector>

#include "tasks/TaskItem.h"

namespace brevanto {

class CTaskList;
class CTaskLog;
class TaskRunner;
class TaskRunnerOwner;

enum class QuestionButtons { YesNo, YesNoCancel };
enum class Answer { Yes, No, Cancel };
// Shows `text` as a question (caption "Brevanto", question icon, Yes the default).
using AskFunction = std::function<Answer(const std::string& text, QuestionButtons buttons)>;

// The texts of the questions and warnings, byte for byte.
namespace question {
std::string StopRunningTask(const std::string& taskName);
std::string RunTaskNow(const std::string& taskName);
std::string RunNewTaskNow(const std::string& taskName);
std::string CopyTasks(int count);
inline constexpr const char* kStartAll = "Do you want to START ALL automatization tasks now?";
inline constexpr const char* kStopAll = "Do you want to STOP ALL tasks now?";
inline constexpr const char* kDeleteTasks =
    "Do you want to DELETE the task(s) now?\n\nThe task(s) will be stopped.";
inline constexpr const char* kDeleteAll = "Do you want to DELETE ALL tasks now?";
}  // namespace question
inline constexpr const char* kStopBeforeEdit = "Please STOP the task first, and then EDIT it!";
inline constexpr const char* kTaskListNotSaved =
    "Failed to save the task list! The change is not in the task file yet.";

// One replacement of ApplyEdits: the task at list index `Index` becomes `Task`.
struct TaskEdit {
  int Index = -1;
  CTaskItem Task;
};
enum class EditsResult { Applied, NotStopped, NotSaved };

class CTaskCommands {
 public:
  // Works on the runner's list. Saves go through owner.SaveTasks(); log entries through `log`.
  CTaskCommands(TaskRunner& runner, CTaskLog& log, TaskRunnerOwner& owner, AskFunction ask);

  // `rows` are list indices in row order (first selected to last); indices outside the
  // list are skipped.

  // Wizard Finish on a new task: Status Stop, CreatedTime now, a log file name of its own,
  // the log created with "Create task", added to the list, the task file saved, then the
  // after-create rule (a scheduled task is launched; a manual one is offered a run now).
  // Returns the new index.
  int CreateTask(CTaskItem task);
  // As CreateTask, for a task the user asked to run when they made it: it is launched at
  // once, without the question.
  int CreateTaskAndRun(CTaskItem task);
  // Finish on many new tasks at once, as an import makes them: each as CreateTask makes
  // one, but a task keeps its "Advanced" section or its lack of one, the task file is
  // saved once, and the logs are made only after that save, so that an import cut short
  // leaves no log without its task. Returns the new indices; empty, with no log made, when
  // the task file could not be saved (the tasks stay in the list).
  std::vector<int> CreateTasks(std::vector<CTaskItem> tasks);
  // The edit sheet's OK on a stopped task: replaces it (keeping its key and log file
  // name), saves, logs "Edit task", then launches it when scheduled. False, changing
  // nothing, when the task is not Stop.
  bool ApplyEdit(int index, const CTaskItem& edited);
  // ApplyEdit on many tasks at once, as an import replaces them: the task file is saved
  // once, and only after that save are the edits logged and the tasks launched. NotStopped
  // when an index is outside the list or its task is not Stop, NotSaved when the task file
  // could not be saved; either way the list is as it was.
  EditsResult ApplyEdits(std::vector<TaskEdit> edits);
  // "Copy Task(s)" after the question; returns the new indices (empty when declined).
  std::vector<int> CopyTasks(const std::vector<int>& rows);
  // "Delete Task(s)" and "Delete All" after their questions; false when declined.
  bool DeleteTasks(const std::vector<int>& rows);
  bool DeleteAll();

  // From now on Stop and Stop All return at once, leaving the workers to FinishStops
  // (TaskRunner::FinishStops): for the UI thread, which must never wait for a worker.
  void StopWithoutWaiting() { m_stopWithoutWaiting = true; }
  // Told at once when a change could not be saved to the task file (kTaskListNotSaved);
  // the change stays in the list and the next save takes it along.
  void TellSaveFailures(std::function<void(const std::string& text)> tell) {
    m_tellSaveFailure = std::move(tell);
  }

  void Start(const std::vector<int>& rows);
  void Stop(const std::vector<int>& rows);
  bool StartAll();
  bool StopAll();
  void RunImmediately(const std::vector<int>& rows);

  // Menu states: some task is Stop with a schedule; some task is Waiting or Running.
  bool CanStartAll() const;
  bool CanStopAll() const;

 private:
  // The task's status, counting a worker that has not polled yet as Waiting.
  TaskStatus StatusOf(int index) const;
  void StartOne(int index);
  void StopOne(int index);
  void LaunchAfterCreate(int index);
  // CreateTask up to the after-create rule; returns the new task's index.
  int AddNewTask(CTaskItem task);
  // An applied edit once saved: its "Edit task" entry, then waiting for its schedule or Stop.
  void FinishEdit(int index);
  std::string UniqueLogFileName(const std::string& taskName, const TaskDateTime& created) const;
  // `listed` tells the log file names the list's tasks already have.
  std::string UniqueLogFileName(const std::string& taskName, const TaskDateTime& created,
                                const std::function<bool(const std::string&)>& listed) const;
  // New task defaults every way of creating a task shares.
  void PrepareNewTask(CTaskItem& task, const TaskDateTime& created) const;
  void Log(int index, const char* text);
  void Save();

  TaskRunner& m_runner;
  CTaskList& m_list;
  CTaskLog& m_log;
  TaskRunnerOwner& m_owner;
  AskFunction m_ask;
  bool m_stopWithoutWaiting = false;
  std::function<void(const std::string&)> m_tellSaveFailure;
};

}  // namespace brevanto
