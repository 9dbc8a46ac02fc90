// What the benchmarks share: a run context with no runner behind it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "core/Clock.h"
#include "schedule/TaskRoutine.h"

namespace brevanto {

// Prints errors and never stops; a benchmark run must end "Finished".
class BenchRunContext : public TaskRunContext {
 public:
  explicit BenchRunContext(CTaskItem task) : m_task(std::move(task)) {}
  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return {2006, 3, 7, 9, 5, 0, 3}; }
  bool StopRequested() override { return false; }
  void Log(LogLevel level, const std::string& text) override {
    if (level == LogLevel::Error) std::fprintf(stderr, "error: %s\n", text.c_str());
  }
  void SetCancelHook(std::function<void()>) override {}
  void RecordBackupCopy(const BackupCopy&) override {}
  Clock& GetClock() override { return SystemClock(); }

 private:
  CTaskItem m_task;
};

}  // namespace brevanto
