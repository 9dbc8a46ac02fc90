#pragma once
// CApplicationCore: the program's live state without any window. It owns the options,
// the saved servers, the task list and the task log for the whole life of the process,
// loads them at start and saves them at exit. The windowed program and the headless
// runner each own one; tests build one over a temporary folder and a fake clock.
//
// Threads: every member function runs on the owning (UI or main) thread. Workers reach
// the core only through the runner-owner interface, whose calls are thread-safe.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

#include "core/ApplicationFolder.h"
#include "core/Options.h"
#include "core/ServerList.h"
#include "notify/NotificationSettings.h"
#include "schedule/TaskRoutine.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskItem.h"
#include "tasks/TaskList.h"

namespace brevanto {

class Clock;
class CNotifier;
class CTaskLog;
class InstanceLock;
class TaskRunner;

// What tells one version of a file from the next: every save renames a new file in.

// What ReloadTaskFile changed; `Problem` says why a changed file was not taken in.
struct TaskReloadSummary {
  bool Reloaded = false;
  int Added = 0;
  int Removed = 0;
  int Changed = 0;
  std::string Problem;
  bool SaveFailed = false;  // taken in, but the merged list could not be saved after
};

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

  // Exit: saves the options, then the task file, then stops every task. False when a
  // save failed.
  bool SaveAtExit();
  // Stops every task and empties the list (TaskRunner::Stop). Returns the runner's code.
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
  // Pings the task's monitor at the start (on the notifier's thread).
  void RunStarted(const RunReport& report) override;
  // Sends the run's ping, e-mail and webhook (on the notifier's thread) and tells the
  // run listener.
  void RunEnded(const RunReport& report) override;

  // The metrics file every run's end writes for this process, over the options' one
  // (brevanto-run --metrics-file); any thread.
  void SetMetricsFile(const std::string& path);

  // Sends the failure notification of every task that became overdue (OverdueCheck.h),
  // once for each last good run, with a Warning in its log. Returns the tasks' names.
  std::vector<std::string> CheckOverdue();

  // Notifications. The settings are the owning thread's; applying them saves the file.
  const CNotificationSettings& NotificationSettings() const { return m_notificationSettings; }
  bool ApplyNotificationSettings(const CNotificationSettings& settings);
  // Told on the worker's thread after every run, with whether the run asks for a desktop
  // notification. Any thread; an empty function removes it.
  using RunListener = std::function<void(const RunReport& report, bool desktopNotification)>;
  void SetRunListener(RunListener listener);
  // For programs without a window: desktop notifications go straight over the session
  // bus (when there is one), with the e-mails. Call before the runner starts.
  void SendDesktopNotificationsOverBus();
  // Waits until the e-mails and webhooks of the runs ended so far have been sent or
  // have failed (the headless runner, before it exits).
  void WaitForNotifications();
  // The same for at most `limitMs`; returns the runs whose sending had not ended (a
  // stopping service must not outwait its manager's stop time-out).
  std::size_t WaitForNotifications(int limitMs);

  // The live state (owning thread only).
  CSystemOptions& Options() { return m_options; }
  const CSystemOptions& Options() const { return m_options; }
  // A copy of the options as last loaded or saved; any thread.
  CSystemOptions OptionsSnapshot() const;
  CServerList& Servers() { return m_servers; }
  CTaskList& Tasks() { return *m_tasks; }
  const CTaskList& Tasks() const { return *m_tasks; }
  TaskRunner& Runner() { return *m_runner; }
  const TaskRunner& Runner() const { return *m_runner; }
  Clock& GetClock() { return m_clock; }
  const TaskRoutineTable& Routines() const { return m_routines; }

  // Paths, all inside the application folder.
  const std::string& Folder() const { return m_folder; }
  std::string DataFolder() const { return m_folder + "Data/"; }
  std::string LogsFolder() const { return m_folder + "Logs/"; }
  std::string TaskFilePath() const { return m_folder + kTaskFileName; }
  // Sharing the task file. The headless scheduler lets brevanto-run add and delete tasks
  // while it runs: each changes the file under the folder's task-file lock, and the
  // scheduler takes the change in. A sharing core never saves over a file another program
  // wrote since it last read or wrote it; ReloadTaskFile merges that file in first.
  void ShareTaskFile() { m_shared = true; }
  // Holds the task-file lock (sharing cores only) and this core's task-file mutex until it
  // goes; re-entrant, so saves inside a hold do not wait for themselves.
  class TaskFileHold {
   public:
    explicit TaskFileHold(CApplicationCore& core);
    ~TaskFileHold();
    TaskFileHold(const TaskFileHold&) = delete;
    TaskFileHold& operator=(const TaskFileHold&) = delete;

   private:
    CApplicationCore& m_core;
  };
  // True when the task file on disk is not the one this core last read or wrote.
  bool TaskFileChangedOnDisk();
  // Takes a changed task file in, task by task (matched by name): a task the file lost is
  // stopped and removed, a changed one stopped, replaced and started again, a new one
  // added and started; the others keep running untouched. Then saves.
  TaskReloadSummary ReloadTaskFile();

  // Set by Start() when the task file could not be read and was moved aside so that the
  // next save does not destroy it; empty otherwise.
  const std::string& SetAsideTaskFile() const { return m_setAsideTaskFile; }

 private:
  void LoadTasks();
  void UpgradeLogsOnce();
  void PublishOptions();
  void ReadLastResults();
  // Notes the run in the run records and writes the metrics file; failures are Warnings.
  void RecordRunMetrics(const RunReport& report);

  const std::string m_folder;
  Clock& m_clock;
  CSystemOptions m_options;
  mutable std::mutex m_publishedLock;  // guards m_published
  CSystemOptions m_published;
  CServerList m_servers;
  std::unique_ptr<CTaskLog> m_taskLog;
  CNotificationSettings m_notificationSettings;
  CNotificationSettings m_publishedNotifications;  // guarded by m_publishedLock
  std::mutex m_runListenerLock;                    // guards m_runListener
  RunListener m_runListener;
  std::unique_ptr<CNotifier> m_notifier;  // uses m_taskLog; outlives the workers
  std::mutex m_metricsLock;               // guards m_metricsFile and the files it names
  std::string m_metricsFile;
  TaskRoutineTable m_routines;
  bool m_shared = false;
  std::recursive_mutex m_taskFileMutex;  // guards the three below
  int m_holdDepth = 0;
  std::unique_ptr<InstanceLock> m_taskFileLock;
  FileStamp m_knownTaskFile;
  std::unique_ptr<CTaskList> m_tasks;
  std::unique_ptr<TaskRunner> m_runner;  // declared last: it stops first
  std::string m_setAsideTaskFile;
};

}  // namespace brevanto
