#pragma once
// CErrorCountingContext: a run's context that counts the Error entries passing through
// it, so a run can tell whether a file, a table or the whole run stayed clean. Every call
// is serialised under one lock, so the workers of a parallel run may share it: each log
// entry stays whole and the counters exact. Borrows the inner context.

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "schedule/TaskRoutine.h"

namespace brevanto {

class CErrorCountingContext final : public TaskRunContext {
 public:
  explicit CErrorCountingContext(TaskRunContext& inner) : m_inner(inner) {}

  const CTaskItem& Task() const override { return m_inner.Task(); }
  TaskDateTime RunStartTime() const override { return m_inner.RunStartTime(); }
  bool StopRequested() override {
    std::lock_guard lock(m_lock);
    return m_inner.StopRequested();
  }
  void Log(LogLevel level, const std::string& text) override {
    std::lock_guard lock(m_lock);
    if (level == LogLevel::Error) ++m_errors;
    m_lastLevel = level;
    m_inner.Log(level, text);
  }
  void LogAt(LogLevel level, const std::string& text, const TaskDateTime& when) override {
    std::lock_guard lock(m_lock);
    if (level == LogLevel::Error) ++m_errors;
    m_lastLevel = level;
    m_inner.LogAt(level, text, when);
  }
  void SetCancelHook(std::function<void()> hook) override {
    // Not under the lock: clearing waits for a hook call in progress.
    m_inner.SetCancelHook(std::move(hook));
  }
  Status RecordBackupCopy(const BackupCopy& copy) override {
    std::lock_guard lock(m_lock);
    return m_inner.RecordBackupCopy(copy);
  }
  void DeleteExpiredCopies() override {
    std::lock_guard lock(m_lock);
    m_inner.DeleteExpiredCopies();
  }
  Status ForgetBackupCopies(const std::vector<BackupCopy>& copies) override {
    std::lock_guard lock(m_lock);
    return m_inner.ForgetBackupCopies(copies);
  }
  Clock& GetClock() override { return m_inner.GetClock(); }
  void ProgressPlan(std::int64_t totalUnits) override {
    std::lock_guard lock(m_lock);
    m_inner.ProgressPlan(totalUnits);
  }
  void ProgressItem(const std::string& name, std::int64_t estimatedUnits) override {
    std::lock_guard lock(m_lock);
    m_inner.ProgressItem(name, estimatedUnits);
  }
  void ProgressAdvance(std::int64_t units, std::int64_t bytesWritten) override {
    std::lock_guard lock(m_lock);
    m_inner.ProgressAdvance(units, bytesWritten);
  }
  void RecordFileWritten(const std::string& path) override {
    std::lock_guard lock(m_lock);
    m_inner.RecordFileWritten(path);
  }

  int Errors() const {
    std::lock_guard lock(m_lock);
    return m_errors;
  }
  LogLevel LastLevel() const {
    std::lock_guard lock(m_lock);
    return m_lastLevel;
  }

 private:
  TaskRunContext& m_inner;
  mutable std::mutex m_lock;
  int m_errors = 0;
  LogLevel m_lastLevel = LogLevel::General;
};

}  // namespace brevanto
