#pragma once
// A TaskRunContext for driving one routine run in a test: it records the log, answers
// the stop test "yes" from a chosen checkpoint on, and pins the run's start time.

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "schedule/TaskRoutine.h"

namespace brevanto::test {

struct LogLine {
  LogLevel level;
  std::string text;
  TaskDateTime when{};  // as the task's log would stamp it
};

class RecordingRunContext : public TaskRunContext {
 public:
  explicit RecordingRunContext(CTaskItem task) : m_task(std::move(task)) {}

  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return m_start; }
  bool StopRequested() override {
    ++m_checks;
    return m_stopAtCheck > 0 && m_checks >= m_stopAtCheck;
  }
  void Log(LogLevel level, const std::string& text) override {
    m_log.push_back({level, text, GetClock().Now()});
  }
  void LogAt(LogLevel level, const std::string& text, const TaskDateTime& when) override {
    m_log.push_back({level, text, when});
  }
  void SetCancelHook(std::function<void()> hook) override {
    std::lock_guard<std::mutex> guard(m_hookLock);
    m_hook = std::move(hook);
  }
  Status RecordBackupCopy(const BackupCopy&) override { return Status::Ok(); }
  Clock& GetClock() override { return m_clock != nullptr ? *m_clock : SystemClock(); }

  // The stop test answers true from its `check`-th call on (1-based); 0 never.
  void StopAtCheck(int check) { m_stopAtCheck = check; }
  int Checks() const { return m_checks; }
  void SetRunStart(const TaskDateTime& start) { m_start = start; }
  // The clock the run reads and the entries are stamped by. REQUIRES: outlives the run.
  void SetClock(Clock& clock) { m_clock = &clock; }
  bool HasCancelHook() {
    std::lock_guard<std::mutex> guard(m_hookLock);
    return static_cast<bool>(m_hook);
  }

  const std::vector<LogLine>& Lines() const { return m_log; }
  std::vector<std::string> Texts(LogLevel level) const {
    std::vector<std::string> texts;
    for (const LogLine& line : m_log) {
      if (line.level == level) texts.push_back(line.text);
    }
    return texts;
  }
  std::vector<std::string> Errors() const { return Texts(LogLevel::Error); }
  // The whole log, one entry a line, for failure messages.
  std::string Dump() const {
    std::string all;
    for (const LogLine& line : m_log) {
      all += std::to_string(static_cast<int>(line.level)) + " " + line.text + "\n";
    }
    return all;
  }

 private:
  CTaskItem m_task;
  TaskDateTime m_start{2006, 3, 7, 9, 5, 0, 3};
  int m_stopAtCheck = 0;
  int m_checks = 0;
  std::vector<LogLine> m_log;
  Clock* m_clock = nullptr;
  std::mutex m_hookLock;
  std::function<void()> m_hook;
};

}  // namespace brevanto::test
