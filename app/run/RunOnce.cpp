// --run NAME: one task once, now, through the same runner and engines as the windowed
// program. Prints each log entry as it is written, writes the task's log and saves the
// task file at exit as the program does; at the end lists the files the run wrote and the
// expired copies it deleted.

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/run/Commands.h"
#include "app/run/FolderAccess.h"
#include "app/run/LogFollower.h"
#include "app/run/Output.h"
#include "app/run/OwnerRun.h"
#include "appcore/ApplicationCore.h"
#include "core/Clock.h"
#include "engines/Routines.h"
#include "logs/TaskLog.h"
#include "schedule/RunStatusText.h"
#include "schedule/TaskRunner.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskKinds.h"
#include "tasks/TaskList.h"

namespace brevanto::run {

namespace {

constexpr int kPollMs = 100;

std::atomic<bool> g_stopRequested{false};

void OnTerminationSignal(int) {
  g_stopRequested = true;
}

// The runner owner of a run-once list holding a copy of one task: logs, options and the
// task file are the application core's; whatever the run changes in its copy (last run,
// backup history) is written back to the core's task before each save.
class RunOnceOwner final : public TaskRunnerOwner {
 public:
  RunOnceOwner(CApplicationCore& core, const std::string& folder, int coreIndex)
      : m_core(core), m_routines(MakeRoutineTable(folder)), m_coreIndex(coreIndex) {}

  void SetRunList(CTaskList* runList) { m_runList = runList; }
  std::mutex& Lock() { return m_lock; }

  CTaskLog& TaskLog() override { return m_core.TaskLog(); }
  bool LimitLogSize() override { return m_core.LimitLogSize(); }
  std::int64_t MaxLogSizeKB() override { return m_core.MaxLogSizeKB(); }
  bool SaveTasks() override {
    std::lock_guard<std::mutex> guard(m_lock);
    WriteBack();
    return m_core.SaveTasks();
  }
  const TaskRoutine* RoutineFor(TaskType type) override {
    auto it = m_routines.find(type);
    return it == m_routines.end() ? nullptr : &it->second;
  }
  // The run copy keeps the task's key, so the core finds the task's own notification
  // settings and sends what the windowed program would.
  void RunStarted(const RunReport& report) override { m_core.RunStarted(report); }
  void RunEnded(const RunReport& report) override {
    // Taken from the run itself, before the notifications are sent: their Warnings come
    // after "Finished" and change no outcome.
    m_succeeded = report.Outcome == RunOutcome::Finished && !report.Failed();
    m_core.RunEnded(report);
  }
  bool Succeeded() const { return m_succeeded; }

  void WriteBack() {
    if (m_runList == nullptr || m_runList->Count() == 0) return;
    const CTaskItem ran = m_runList->At(0);
    m_core.Tasks().Update(m_coreIndex, [&](CTaskItem& task) {
      task.LastRunTime = ran.LastRunTime;
      task.BackupHistory = ran.BackupHistory;
    });
  }

 private:
  CApplicationCore& m_core;
  const std::map<TaskType, TaskRoutine> m_routines;
  const int m_coreIndex;
  CTaskList* m_runList = nullptr;
  std::atomic<bool> m_succeeded{false};  // the run ended with "Finished" and no Error
  std::mutex m_lock;  // guards m_runList; serialises write-back and saves across threads
};

std::set<std::string> CopyFiles(const std::vector<BackupCopy>& history) {
  std::set<std::string> files;
  for (const BackupCopy& copy : history) files.insert(copy.CopyFiles.begin(), copy.CopyFiles.end());
  return files;
}

// The progress line of the run in hand, while the run list still has its task.
void DrawProgress(const CTaskList& runList, const std::string& taskName, TaskType type) {
  if (!ProgressLineShown() || runList.Count() == 0) return;
  const TaskProgress progress = runList.ProgressAt(0);
  if (!progress.Active) return;
  const std::int64_t elapsed = SecondsBetween(runList.At(0).LastRunTime, runList.GetClock().Now());
  // One column spare: writing the last one makes some terminals wrap at once.
  ShowProgressLine(ProgressBarLine(taskName, type, progress, elapsed, TerminalColumns() - 1));
}

// The files of the backup copy the run added, and those of the expired copies it deleted.
void SayFiles(const std::vector<BackupCopy>& before, const std::vector<BackupCopy>& after) {
  for (const BackupCopy& copy : after) {
    if (std::find(before.begin(), before.end(), copy) != before.end()) continue;
    for (const std::string& file : copy.CopyFiles) Say("written: " + Escaped(file));
  }
  const std::set<std::string> kept = CopyFiles(after);
  for (const std::string& file : CopyFiles(before)) {
    if (!kept.contains(file)) Say("deleted: " + Escaped(file));
  }
}

}  // namespace

int RunTask(const std::string& folder, const CommandLine& line) {
  const std::string& name = line.names.front();
  // A manual run needs no scheduler stopped: the folder's owner makes it.
  if (const std::optional<int> code = RunThroughOwner(folder, name)) return *code;
  // The windowed program holds this lock while it runs; both would write the task file.
  const FolderAccess access =
      TakeFolder(folder, kHolderRun, line.waitSeconds, false, SystemClock());
  if (!access.granted) return kExitFolderInUse;
  CApplicationCore core(folder, SystemClock());
  core.Start();
  if (!line.metricsFile.empty()) core.SetMetricsFile(line.metricsFile);
  core.SendDesktopNotificationsOverBus();
  if (!core.SetAsideTaskFile().empty()) {
    // As the windowed program says it: the user's tasks were moved, not lost.
    Error("the task list could not be read; it was kept as " + core.SetAsideTaskFile());
    return kExitFailed;
  }
  const int index = core.Tasks().FindByName(name);
  if (index < 0) {
    Error("no task named \"" + Escaped(name) + "\" in " + core.TaskFilePath());
    return kExitUsage;
  }

  if (FindTaskKind(core.Tasks().At(index).TaskType) == nullptr) {
    // A task file from a newer program may hold a kind this one cannot run.
    Error("the task \"" + Escaped(name) + "\" is of type " +
          std::to_string(core.Tasks().At(index).TaskType) + ", which this program cannot run");
    return kExitFailed;
  }

  // A copy in a list of its own, run once: the other tasks stay untouched and nothing
  // keeps waiting for a next scheduled run.
  CTaskItem once = core.Tasks().At(index);
  const std::string logFileName = once.LogFileName;
  const std::vector<BackupCopy> historyBefore = once.BackupHistory;
  once.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::Manual);
  RunOnceOwner owner(core, folder, index);
  CTaskList runList(SystemClock());
  TaskRunner runner(runList);
  runList.AddTask(once);
  runList.Update(0, [&](CTaskItem& task) {
    task.TaskKey = once.TaskKey;
    task.RunImmediately = 1;
  });
  owner.SetRunList(&runList);

  LogFollower follower(core.TaskLog(), logFileName, PrintRunEntry);
  std::signal(SIGINT, OnTerminationSignal);
  std::signal(SIGTERM, OnTerminationSignal);
  std::signal(SIGHUP, OnTerminationSignal);
  runner.Start(&owner);
  while (runner.HasWorker(0)) {
    if (g_stopRequested) {
      runner.StopTask(0);  // waits for the worker, then releases it from the server
      break;
    }
    follower.PrintNew();
    DrawProgress(runList, Escaped(name), once.GetType());
    SystemClock().SleepMs(kPollMs);
  }
  ClearProgressLine();
  {
    // The run list empties when its runner stops, so its task is taken over before.
    std::lock_guard<std::mutex> guard(owner.Lock());
    owner.WriteBack();
    owner.SetRunList(nullptr);
  }
  runner.Stop();
  follower.PrintNew();
  const bool succeeded = owner.Succeeded() && !logFileName.empty();
  if (logFileName.empty()) Error("the task has no log file; its outcome is unknown");
  SayFiles(historyBefore, core.Tasks().At(index).BackupHistory);
  // The run's e-mail and webhook, bounded by the senders' time-outs; a sending that failed
  // left a Warning in the log.
  core.WaitForNotifications();
  follower.PrintNew();
  const bool saved = core.SaveAtExit();
  if (!saved) Error("the task list or the options could not be saved");
  if (g_stopRequested) {
    // A worker that did not answer in time was abandoned and may still hold the core and
    // the owner: leave without destroying anything under it.
    std::fflush(nullptr);
    std::_Exit(kExitFailed);
  }
  return succeeded && saved ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
