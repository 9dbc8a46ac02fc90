#pragma once
// A TaskRunContext for running engine routines in a test: records log entries, backup
// copies and the cancel hook; stops when told to, or after a number of checkpoints.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "schedule/TaskRoutine.h"

namespace brevanto::test {

class FakeRunContext : public TaskRunContext {
 public:
  explicit FakeRunContext(CTaskItem task, TaskDateTime runStart = {2006, 3, 5, 9, 7, 2, 1})
      : m_task(std::move(task)), m_runStart(runStart) {}

  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return m_runStart; }
  bool StopRequested() override {
    if (m_stop) return true;
    if (m_stopAfterChecks > 0 && ++m_checks >= m_stopAfterChecks) m_stop = true;
    return m_stop;
  }
  void Log(LogLevel level, const std::string& text) override {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      entries.emplace_back(level, text);
    }
    if (onLog) onLog(text);
  }
  void SetCancelHook(std::function<void()> hook) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_hook = std::move(hook);
    if (m_hook) hookInstalled = true;
  }
  Status RecordBackupCopy(const BackupCopy& copy) override {
    copies.push_back(copy);
    return Status::Ok();
  }
  Clock& GetClock() override { return SystemClock(); }

  // Stop at the n-th checkpoint from now on.
  void StopAfterChecks(long n) {
    m_stopAfterChecks = n;
    m_checks = 0;
  }
  void RequestStop() { m_stop = true; }
  void CallCancelHook() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_hook) m_hook();
  }

  std::vector<std::string> Texts(LogLevel level) const {
    std::vector<std::string> out;
    for (const auto& [l, text] : entries) {
      if (l == level) out.push_back(text);
    }
    return out;
  }
  std::string AllText() const {
    std::string out;
    for (const auto& [l, text] : entries)
      out += std::to_string(static_cast<int>(l)) + " " + text + "\n";
    return out;
  }

  std::vector<std::pair<LogLevel, std::string>> entries;
  std::vector<BackupCopy> copies;
  bool hookInstalled = false;
  // Called after every entry, on the routine's thread: lets a test act mid-run.
  std::function<void(const std::string&)> onLog;

 private:
  CTaskItem m_task;
  TaskDateTime m_runStart;
  std::atomic<bool> m_stop{false};
  long m_stopAfterChecks = 0;
  long m_checks = 0;
  std::mutex m_lock;
  std::function<void()> m_hook;
};

}  // namespace brevanto::test
