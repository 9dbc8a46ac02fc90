#include "appcore/ApplicationCore.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "appcore/OverdueCheck.h"
#include "appcore/RunMetrics.h"
#include "appcore/TaskJson.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "logs/TaskLog.h"
#include "notify/DesktopNotification.h"
#include "notify/NotificationText.h"
#include "notify/Notifier.h"
#include "notify/TaskNotificationsSection.h"
#include "notify/TaskPingSection.h"
#include "schedule/LastRunResult.h"
#include "schedule/TaskRunner.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {

namespace {

// The list's copy of a task: the run's copy may be a stand-in.
std::optional<CTaskItem> TaskWithKey(const CTaskList& list, const std::string& key) {
  for (CTaskItem& task : list.Snapshot()) {
    if (task.TaskKey == key) return std::move(task);
  }
  return std::nullopt;
}

}  // namespace

CApplicationCore::CApplicationCore(std::string applicationFolder, Clock& clock)
    : m_folder(std::move(applicationFolder)),
      m_clock(clock),
      m_servers(m_folder),
      m_taskLog(std::make_unique<CTaskLog>(m_folder + "Logs/", clock)),
      m_notifier(std::make_unique<CNotifier>(
          [log = m_taskLog.get()](const std::string& logFileName, const std::string& text) {
            log->AppendEntry(logFileName, LogLevel::Warning, text);
          })),
      m_tasks(std::make_unique<CTaskList>(clock)),
      m_runner(std::make_unique<TaskRunner>(*m_tasks)) {
  PublishOptions();
}

CApplicationCore::~CApplicationCore() {
  // The workers use this object through the owner interface: stop them first.
  if (m_runner->Started()) m_runner->Stop();
}

void CApplicationCore::Start() {
  MakeFolder(DataFolder());
  MakeFolder(LogsFolder());

  LoadOptions(m_folder, m_options);
  ApplyDefaultBackupFolder(m_folder, m_options);
  PublishOptions();

  LoadNotificationSettings(m_folder, m_notificationSettings);
  PublishOptions();

  m_servers.Load();
  LoadTasks();
  UpgradeLogsOnce();
  ReadLastResults();
}

void CApplicationCore::ReadLastResults() {
  const int count = m_tasks->Count();
  for (int i = 0; i < count; ++i) {
    m_tasks->SetLastResult(i, ReadLastRunResult(*m_taskLog, m_tasks->At(i).LogFileName));
  }
}

void CApplicationCore::LoadTasks() {
  TaskFileHold hold(*this);
  const std::string path = TaskFilePath();
  // Stamped before reading: a file replaced meanwhile is read again by ReloadTaskFile.
  m_knownTaskFile = StampOf(path);
  m_runner->LoadTaskFile(path);
  if (m_tasks->Count() > 0 || !FileExists(path)) return;

  // Nothing was loaded from an existing file. An empty list is saved as no file at all,
  // so an unreadable or damaged file would be deleted by the next save: move it aside.
  std::vector<CTaskItem> ignored;
  std::string problem;
  ReadTaskFile(path, ignored, &problem);
  if (problem.empty()) return;  // a readable file that holds no tasks
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string aside = path + ".damaged" + (attempt == 0 ? "" : "." + std::to_string(attempt));
    if (FileExists(aside)) continue;
    if (std::rename(path.c_str(), aside.c_str()) == 0) {
      m_setAsideTaskFile = aside;
      // Its options go with it; the next save would drop the entries of its tasks.
      std::rename(TaskOptionsPathFor(path).c_str(), TaskOptionsPathFor(aside).c_str());
    }
    m_knownTaskFile = StampOf(path);
    return;
  }
}

void CApplicationCore::UpgradeLogsOnce() {
  std::vector<std::string> names;
  for (const CTaskItem& task : m_tasks->Snapshot()) names.push_back(task.LogFileName);
  m_taskLog->ConvertLegacyLogs(names);
}

int CApplicationCore::StartRunner(TaskRoutineTable routines) {
  // Workers read the table without a lock, so it changes only while none runs.
  if (m_runner->Started()) return -5001;
  m_routines = std::move(routines);
  return m_runner->Start(this);
}

bool CApplicationCore::SaveAtExit() {
  const bool options = SaveOptions();
  // Saved before the workers stop, so the file holds each task's state at exit.
  const bool tasks = SaveTasks();
  Shutdown();
  return options && tasks;
}

int CApplicationCore::Shutdown() {
  if (!m_runner->Started()) {
    m_tasks->RemoveAll();
    return -5003;
  }
  return m_runner->Stop();
}

bool CApplicationCore::HasScheduledTask() const {
  for (const CTaskItem& task : m_tasks->Snapshot()) {
    if (task.GetScheduleKind() != ScheduleKind::Manual) return true;
  }
  return false;
}

bool CApplicationCore::HasRunningTask() const {
  for (const CTaskItem& task : m_tasks->Snapshot()) {
    if (task.GetStatus() == TaskStatus::Running) return true;
  }
  return false;
}

bool CApplicationCore::ApplyOptions(const CSystemOptions& options) {
  m_options = options;
  ApplyDefaultBackupFolder(m_folder, m_options);
  return SaveOptions();
}

bool CApplicationCore::SaveOptions() {
  // The file never keeps a password without a user name; neither does the live record.
  if (m_options.LoginUserName.empty()) m_options.LoginPassword.clear();
  PublishOptions();
  return ::brevanto::SaveOptions(m_folder, m_options);
}

void CApplicationCore::PublishOptions() {
  std::lock_guard<std::mutex> lock(m_publishedLock);
  m_published = m_options;
  m_publishedNotifications = m_notificationSettings;
}

bool CApplicationCore::ApplyNotificationSettings(const CNotificationSettings& settings) {
  m_notificationSettings = settings;
  PublishOptions();
  return SaveNotificationSettings(m_folder, m_notificationSettings);
}

void CApplicationCore::SetRunListener(RunListener listener) {
  std::lock_guard<std::mutex> lock(m_runListenerLock);
  m_runListener = std::move(listener);
}

void CApplicationCore::RunEnded(const RunReport& report) {
  RunListener listener;
  {
    std::lock_guard<std::mutex> lock(m_runListenerLock);
    listener = m_runListener;
  }
  if (report.Canceled()) {
    if (listener) listener(report, false);
    return;
  }
  RecordRunMetrics(report);
  CNotificationSettings settings;
  {
    std::lock_guard<std::mutex> lock(m_publishedLock);
    settings = m_publishedNotifications;
  }
  const std::optional<CTaskItem> task = TaskWithKey(*m_tasks, report.TaskKey);
  const TaskNotifications own = task ? FindTaskNotifications(*task) : TaskNotifications();
  if (const TaskPing ping = task ? FindTaskPing(*task) : TaskPing(); !ping.Empty()) {
    m_notifier->Ping(report.LogFileName,
                     PingUrlFor(ping, report.Failed() ? PingEvent::Failure : PingEvent::Success));
  }
  const NotificationChoice choice = ChooseNotifications(settings, own, report.Failed());
  m_notifier->Submit(report, choice, settings);
  if (listener) listener(report, choice.Desktop);
}

void CApplicationCore::RunStarted(const RunReport& report) {
  const std::optional<CTaskItem> task = TaskWithKey(*m_tasks, report.TaskKey);
  if (!task) return;
  if (const TaskPing ping = FindTaskPing(*task); !ping.Empty() && ping.OnStart) {
    m_notifier->Ping(report.LogFileName, PingUrlFor(ping, PingEvent::Start));
  }
}

void CApplicationCore::SetMetricsFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_metricsLock);
  m_metricsFile = path;
}

void CApplicationCore::RecordRunMetrics(const RunReport& report) {
  std::string metricsFile = OptionsSnapshot().MetricsFile;
  std::lock_guard<std::mutex> lock(m_metricsLock);
  if (!m_metricsFile.empty()) metricsFile = m_metricsFile;
  const std::string recordsPath = DataFolder() + kRunRecordsFileName;
  RunRecords records = ReadRunRecords(recordsPath);
  records[report.TaskName] = NextRunRecord(records[report.TaskName], report);
  if (const Status saved = SaveRunRecords(recordsPath, records); !saved.ok()) {
    m_taskLog->AppendEntry(report.LogFileName, LogLevel::Warning, saved.message());
  }
  if (metricsFile.empty()) return;
  const Status written =
      WriteMetricsFile(metricsFile, CollectTaskMetrics(m_tasks->Snapshot(), records));
  if (!written.ok())
    m_taskLog->AppendEntry(report.LogFileName, LogLevel::Warning, written.message());
}

std::vector<std::string> CApplicationCore::CheckOverdue() {
  CNotificationSettings settings;
  {
    std::lock_guard<std::mutex> lock(m_publishedLock);
    settings = m_publishedNotifications;
  }
  const TaskDateTime now = m_clock.Now();
  std::vector<std::string> alarmed;
  std::lock_guard<std::mutex> lock(m_metricsLock);
  const std::string recordsPath = DataFolder() + kRunRecordsFileName;
  RunRecords records = ReadRunRecords(recordsPath);
  std::string lastLog;
  const std::vector<CTaskItem> tasks = m_tasks->Snapshot();
  for (int index = 0; index < static_cast<int>(tasks.size()); ++index) {
    const CTaskItem& task = tasks[index];
    const std::optional<int> grace = FindOverdueGrace(task);
    const auto it = records.find(task.TaskName);
    const bool overdue = grace && it != records.end() &&
                         OverdueFrom(task, it->second.LastSuccess, *grace, now).has_value();
    // The list shows it for as long as it lasts; a run's end clears it until the next look.
    if (m_tasks->LastResultAt(index).Overdue != overdue) m_tasks->SetOverdue(index, overdue);
    if (!overdue) continue;
    TaskRunRecord& record = it->second;
    if (record.OverdueAlarmFor == record.LastSuccess) continue;
    record.OverdueAlarmFor = record.LastSuccess;
    RunReport report;
    report.TaskKey = task.TaskKey;
    report.TaskName = task.TaskName;
    report.LogFileName = task.LogFileName;
    report.TaskType = task.TaskType;
    report.Outcome = RunOutcome::Failed;
    report.Start = report.End = now;
    report.ErrorCount = 1;
    report.Errors = {OverdueText(task.TaskName, record.LastSuccess)};
    m_taskLog->AppendEntry(task.LogFileName, LogLevel::Warning, report.Errors.front());
    m_notifier->Submit(report, ChooseNotifications(settings, FindTaskNotifications(task), true),
                       settings);
    alarmed.push_back(task.TaskName);
    lastLog = task.LogFileName;
  }
  if (alarmed.empty()) return alarmed;
  // Unsaved, the alarms would go out again at the next look: the log says why.
  if (const Status saved = SaveRunRecords(recordsPath, records); !saved.ok()) {
    m_taskLog->AppendEntry(lastLog, LogLevel::Warning, saved.message());
  }
  return alarmed;
}

void CApplicationCore::SendDesktopNotificationsOverBus() {
  m_notifier->SetDesktopSender([](const RunReport& report) {
    SendDesktopNotification(MakeNotificationTitle(report), MakeNotificationBody(report),
                            report.Failed());
  });
}

void CApplicationCore::WaitForNotifications() {
  m_notifier->WaitUntilIdle();
}

std::size_t CApplicationCore::WaitForNotifications(int limitMs) {
  return m_notifier->WaitUntilIdle(m_clock, limitMs);
}

CSystemOptions CApplicationCore::OptionsSnapshot() const {
  std::lock_guard<std::mutex> lock(m_publishedLock);
  return m_published;
}

bool CApplicationCore::LimitLogSize() {
  std::lock_guard<std::mutex> lock(m_publishedLock);
  return m_published.LimitLogSize != 0;
}

std::int64_t CApplicationCore::MaxLogSizeKB() {
  std::lock_guard<std::mutex> lock(m_publishedLock);
  return m_published.MaxLogSizeKB;
}

bool CApplicationCore::SaveTasks() {
  TaskFileHold hold(*this);
  const std::string path = TaskFilePath();
  if (!m_shared) {
    const bool saved = m_tasks->SaveTaskFile(path);
    m_knownTaskFile = StampOf(path);
    return saved;
  }
  // Never over a file another program wrote since: its change is merged in first
  // (ReloadTaskFile), which saves again. The check is repeated just before the rename.
  switch (m_tasks->SaveTaskFileIfUnchanged(path, m_knownTaskFile, &m_knownTaskFile)) {
    case ReplaceResult::Replaced:
    case ReplaceResult::ChangedOnDisk:
      return true;
    case ReplaceResult::Failed:
      return false;
  }
  return false;
}

CApplicationCore::TaskFileHold::TaskFileHold(CApplicationCore& core) : m_core(core) {
  m_core.m_taskFileMutex.lock();
  if (m_core.m_holdDepth++ == 0 && m_core.m_shared) {
    m_core.m_taskFileLock = InstanceLock::LockTaskFile(m_core.m_folder);
  }
}

CApplicationCore::TaskFileHold::~TaskFileHold() {
  if (--m_core.m_holdDepth == 0) m_core.m_taskFileLock.reset();
  m_core.m_taskFileMutex.unlock();
}

bool CApplicationCore::TaskFileChangedOnDisk() {
  std::lock_guard<std::recursive_mutex> guard(m_taskFileMutex);
  return StampOf(TaskFilePath()) != m_knownTaskFile;
}

namespace {

// One live task's fate in a reload, found under the task-file hold and carried out after it.
struct ReloadStep {
  std::string TaskKey;                   // the live task
  std::optional<CTaskItem> Replacement;  // empty: the file lost the task
};

int IndexOfKey(const CTaskList& list, const std::string& key) {
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    if (list.At(i).TaskKey == key) return i;
  }
  return -1;
}

}  // namespace

TaskReloadSummary CApplicationCore::ReloadTaskFile() {
  TaskReloadSummary summary;
  std::vector<ReloadStep> steps;
  std::vector<CTaskItem> added;
  FileStamp onDisk;
  {
    TaskFileHold hold(*this);
    const std::string path = TaskFilePath();
    onDisk = StampOf(path);
    if (onDisk == m_knownTaskFile) return summary;
    if (onDisk.Exists) {
      const TaskFileReadResult result = ReadTaskFile(path, added, &summary.Problem);
      if (result == TaskFileReadResult::Failure && summary.Problem.empty()) {
        summary.Problem = "the task file cannot be read";
      }
      // Saves stay held back until a readable file replaces this one.
      if (!summary.Problem.empty()) return summary;
    }
    const TaskJsonOptions everything{.WithPasswords = true};
    for (const CTaskItem& live : m_tasks->Snapshot()) {
      const auto same = std::find_if(added.begin(), added.end(), [&](const CTaskItem& t) {
        return t.TaskName == live.TaskName;
      });
      if (same == added.end()) {
        steps.push_back({live.TaskKey, std::nullopt});
      } else {
        if (TaskToJson(*same, everything) != TaskToJson(live, everything)) {
          steps.push_back({live.TaskKey, *same});
        }
        added.erase(same);
      }
    }
  }
  // Stopping waits for the task's worker, and a worker recording its copy saves the task
  // file under the hold: so the stops, and all that follows them, come after it. Until the
  // file is taken in, those saves find it changed on disk and leave it alone.
  summary.Reloaded = true;
  const bool started = m_runner->Started();
  for (ReloadStep& step : steps) {
    int index = IndexOfKey(*m_tasks, step.TaskKey);
    if (index < 0) continue;
    if (started) m_runner->StopTask(index);
    index = IndexOfKey(*m_tasks, step.TaskKey);
    if (!step.Replacement) {
      m_runner->RemoveTask(index);
      ++summary.Removed;
      continue;
    }
    CTaskItem replacement = *step.Replacement;
    // The copies on disk are this program's record, newer than any other program's.
    replacement.BackupHistory = m_tasks->At(index).BackupHistory;
    replacement.ResetStatusFromSchedule();
    m_tasks->Replace(index, replacement);
    if (started) m_runner->LaunchTask(index);
    ++summary.Changed;
  }
  for (CTaskItem& task : added) {
    task.ResetStatusFromSchedule();
    const int index = m_tasks->AddTask(task);
    if (started) m_runner->LaunchTask(index);
    ++summary.Added;
  }
  TaskFileHold hold(*this);
  // A file changed again meanwhile stays unsaved over and is taken in at the next look.
  m_knownTaskFile = onDisk;
  summary.SaveFailed = !SaveTasks();
  return summary;
}

const TaskRoutine* CApplicationCore::RoutineFor(TaskType type) {
  auto it = m_routines.find(type);
  return it == m_routines.end() ? nullptr : &it->second;
}

}  // namespace brevanto
