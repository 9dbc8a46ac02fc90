#pragma once
// CApplicationCore: the program's live state without any window. It owns the options,
// the saved servers, the task list and the task log for the whole life of the process,
// loads them at start and saves them at exit. The windowed program and the headless
// runner each own one; tests build one over a temporary folder and a fake clock.
//
// Threads: every member function runs on the owning (UI or main) thread. Workers reach
// the core only through the runner-owner interface, whose calls are thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/ApplicationFolder.h"
#include "core/Options.h"
#include "core/ServerList.h"
#include "schedule/TaskRoutine.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskList.h"

namespace brevanto {

class Clock;
class CTaskLog;

// The routine of each task type; a type without an entry cannot run.
using TaskRoutineTable = std::map<TaskType, TaskRoutine>;

class CApplicationCore final : public TaskRunnerOwner {
 public:
  // `applicationFolder` ends in "/" (see ApplicationFolder()); `clock` must outlive the core.
  CApplicationCore(std::string applicationFolder, Clock& clock);
  ~CApplicationCore() override;  // stops the runner if it is still started; saves nothing
  CApplicationCore(const CApplicationCore&) = delete;
  CApplicationCore& operator=(const CApplicationCore&) = delete;

  // Loading at start, in order: the "Data" and "Logs" folders, the options (with the
  // default backup folder), the saved servers (upgrading an older file), the task list,
  // and the one-time log upgrade. Never fails: missing or bad files leave defaults.
  void Start();

  // Starts the runner with this core as its owner. Returns the runner's code
  // (0 ok, -5001 already started, -5004 no owner).
  int StartRunner(TaskRoutineTable routines);

  // Exit: saves the options, then the task file, then stops every task.
  void SaveAtExit();
  // Stops every task and empties the list (StopRunner). Returns the runner's code.
  int Shutdown();

  // True when at least one task's schedule is not Manual (the program then starts hidden).
  bool HasScheduledTask() const;
  // True when at least one task is Running.
  bool HasRunningTask() const;

  // The Options dialog's OK: takes `options`, fills an empty default backup folder,
  // saves the file. Autorun and the hot key are the UI's.
  bool ApplyOptions(const CSystemOptions& options);
  // Saves the live options after the UI changed them in place (the autorun question,
  // the Tip of the Day) and publishes them to the workers.
  bool SaveOptions();

  // TaskRunnerOwner; callable from any thread.
  CTaskLog& TaskLog() override { return *m_taskLog; }
  bool LimitLogSize() override;
  std::int64_t MaxLogSizeKB() override;
  // Saves the task list to the application's task file.
  bool SaveTasks() override;
  const TaskRoutine* RoutineFor(TaskType type) override;

  // The live state (owning thread only).
  CSystemOptions& Options() { return m_options; }
  const CSystemOptions& Options() const { return m_options; }
  // A copy of the options as last loaded or saved; any thread.
  CSystemOptions OptionsSnapshot() const;
  CServerList& Servers() { return m_servers; }
  CTaskList& Tasks() { return *m_tasks; }
  const CTaskList& Tasks() const { return *m_tasks; }
  Clock& GetClock() { return m_clock; }
  const TaskRoutineTable& Routines() const { return m_routines; }

  // Paths, all inside the application folder.
  const std::string& Folder() const { return m_folder; }
  std::string DataFolder() const { return m_folder + "Data/"; }
  std::string LogsFolder() const { return m_folder + "Logs/"; }
  std::string TaskFilePath() const { return m_folder + kTaskFileName; }
  // Set by Start() when the task file could not be read and was moved aside so that the
  // next save does not destroy it; empty otherwise.
  const std::string& SetAsideTaskFile() const { return m_setAsideTaskFile; }

 private:
  void LoadTasks();
  void UpgradeLogsOnce();
  void PublishOptions();

  const std::string m_folder;
  Clock& m_clock;
  CSystemOptions m_options;
  mutable std::mutex m_publishedLock;  // guards m_published
  CSystemOptions m_published;
  CServerList m_servers;
  std::unique_ptr<CTaskLog> m_taskLog;
  TaskRoutineTable m_routines;
  std::unique_ptr<CTaskList> m_tasks;  // declared last: its runner stops first
  std::string m_setAsideTaskFile;
};

}  // namespace brevanto
