#pragma once
// Shared pieces of the widget tests: an application core over a temporary folder, tasks
// made to order, and waiting with the event loop running.

#include <functional>
#include <memory>
#include <string>

#include "appcore/ApplicationCore.h"
#include "tasks/TaskItem.h"
#include "tests/support/TempDir.h"

namespace brevanto::test {

CTaskItem MakeTask(const std::string& name, ScheduleKind kind = ScheduleKind::Manual,
                   TaskStatus status = TaskStatus::Stop);

// A core in a fresh folder, loaded (Start) but with its runner not started.
class CoreFixture {
 public:
  explicit CoreFixture(Clock& clock);
  ~CoreFixture();

  CApplicationCore& Core() { return *m_core; }
  const std::string& Folder() const { return m_dir.path(); }
  // Adds a task with its log file (one "Create task" entry); returns its index.
  int Add(const CTaskItem& task);

 private:
  TempDir m_dir;
  std::unique_ptr<CApplicationCore> m_core;
};

// Runs the event loop until `done` or `timeoutMs`; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

}  // namespace brevanto::test
