#include "appcore/RunRequests.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "appcore/ApplicationCore.h"
#include "core/AtomicFile.h"
#include "schedule/LastRunResult.h"
#include "schedule/TaskRunner.h"

namespace brevanto {

namespace {

constexpr const char* kRequestSuffix = ".run";

// The request's task, or -1 when the list no longer holds it.
int IndexOfKey(const CTaskList& tasks, const std::string& key) {
  for (int i = 0; i < tasks.Count(); ++i) {
    if (tasks.At(i).TaskKey == key) return i;
  }
  return -1;
}

// The worker leaves Running a moment before it logs "Finished": the log has the last word.
bool RunOver(const CTaskItem& task, const CTaskLog& log) {
  return task.RunImmediately == 0 && task.GetStatus() != TaskStatus::Running &&
         !ReadLastRunUnderWay(log, task.LogFileName);
}

}  // namespace

std::string RunRequestsFolder(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + "Requests/";
}

std::string RunRequestEndPath(const std::string& requestPath) {
  return requestPath + ".end";
}

Status PostRunRequest(const std::string& folder, const std::string& taskName,
                      std::string& requestPath) {
  static std::atomic<int> counter{0};
  const std::string requests = RunRequestsFolder(folder);
  if (!MakeFolder(requests)) return Status::Error("cannot create the folder " + requests);
  requestPath = requests + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
                kRequestSuffix;
  return WriteFileAtomically(requestPath, taskName);
}

std::vector<std::string> RunRequestDesk::Poll() {
  std::vector<std::string> said;
  CTaskList& tasks = m_core.Tasks();
  for (auto it = m_taken.begin(); it != m_taken.end();) {
    const int index = IndexOfKey(tasks, it->second);
    if (index >= 0 && !RunOver(tasks.At(index), m_core.TaskLog())) {
      ++it;
      continue;
    }
    const Status written = WriteFileAtomically(RunRequestEndPath(it->first), "");
    if (!written.ok()) said.push_back(written.message());
    it = m_taken.erase(it);
  }

  const std::string requests = RunRequestsFolder(m_core.Folder());
  std::error_code error;
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(requests, error)) {
    const std::string path = entry.path().string();
    if (path.ends_with(kRequestSuffix)) found.push_back(path);
  }
  for (const std::string& path : found) {
    std::string name;
    const bool read = ReadFileBytes(path, name, 4096);
    // Deleted first: a request that cannot be deleted would be taken again on every look.
    if (!RemoveFileIfExists(path)) {
      said.push_back("cannot delete the run request " + path);
      continue;
    }
    if (!read) {
      said.push_back("cannot read the run request " + path);
      continue;
    }
    const int index = tasks.FindByName(name);
    if (index < 0) {
      said.push_back("a run was asked of a task the list does not hold: " + path);
      // The asker is told at once rather than left waiting for a run that never comes.
      const Status written =
          WriteFileAtomically(RunRequestEndPath(path), "the task is no longer in the list");
      if (!written.ok()) said.push_back(written.message());
      continue;
    }
    const CTaskItem task = tasks.At(index);
    m_taken[path] = task.TaskKey;
    if (task.GetStatus() == TaskStatus::Running) continue;
    tasks.Update(index, [](CTaskItem& t) { t.RunImmediately = 1; });
    m_core.Runner().LaunchTask(index);
    said.push_back("running \"" + name + "\" as brevanto-run asked");
  }
  return said;
}

}  // namespace brevanto
