#include "appcore/ApplicationCore.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "logs/TaskLog.h"
#include "tasks/TaskFile.h"

namespace brevanto {

CApplicationCore::CApplicationCore(std::string applicationFolder, Clock& clock)
    : m_folder(std::move(applicationFolder)),
      m_clock(clock),
      m_servers(m_folder),
      m_taskLog(std::make_unique<CTaskLog>(m_folder + "Logs/", clock)),
      m_tasks(std::make_unique<CTaskList>(clock)) {
  PublishOptions();
}

CApplicationCore::~CApplicationCore() {
  // The workers use this object through the owner interface: stop them first.
  if (m_tasks->Started()) m_tasks->StopRunner();
}

void CApplicationCore::Start() {
  MakeFolder(DataFolder());
  MakeFolder(LogsFolder());

  LoadOptions(m_folder, m_options);
  ApplyDefaultBackupFolder(m_folder, m_options);
  PublishOptions();

  m_servers.Load();
  LoadTasks();
  UpgradeLogsOnce();
}

void CApplicationCore::LoadTasks() {
  const std::string path = TaskFilePath();
  m_tasks->LoadTaskFile(path);
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
    if (std::rename(path.c_str(), aside.c_str()) == 0) m_setAsideTaskFile = aside;
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
  if (m_tasks->Started()) return -5001;
  m_routines = std::move(routines);
  return m_tasks->StartRunner(this);
}

void CApplicationCore::SaveAtExit() {
  SaveOptions();
  // Saved before the workers stop, so the file holds each task's state at exit.
  SaveTasks();
  Shutdown();
}

int CApplicationCore::Shutdown() {
  if (!m_tasks->Started()) {
    m_tasks->RemoveAll();
    return -5003;
  }
  return m_tasks->StopRunner();
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
  return m_tasks->SaveTaskFile(TaskFilePath());
}

const TaskRoutine* CApplicationCore::RoutineFor(TaskType type) {
  auto it = m_routines.find(type);
  return it == m_routines.end() ? nullptr : &it->second;
}

}  // namespace brevanto
