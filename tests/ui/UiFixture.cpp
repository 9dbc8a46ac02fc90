#include "tests/ui/UiFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "tasks/BackupFileName.h"

namespace brevanto::test {

CTaskItem MakeTask(const std::string& name, ScheduleKind kind, TaskStatus status) {
  CTaskItem task;
  task.TaskName = name;
  task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
  task.Schedule.Kind = static_cast<std::uint8_t>(kind);
  task.SetStatus(status);
  return task;
}

CoreFixture::CoreFixture(Clock& clock)
    : m_core(std::make_unique<CApplicationCore>(m_dir.path(), clock)) {
  m_core->Start();
}

CoreFixture::~CoreFixture() {
  m_core.reset();
}

int CoreFixture::Add(const CTaskItem& task) {
  CTaskItem copy = task;
  copy.CreatedTime = m_core->GetClock().Now();
  copy.LogFileName = MakeLogFileName(copy.TaskName, copy.CreatedTime);
  m_core->TaskLog().AppendEntry(copy.LogFileName, LogLevel::General, "Create task");
  const int index = m_core->Tasks().AddTask(copy);
  // AddTask gives the copy a fresh status of its own choosing: put back the one asked for.
  m_core->Tasks().Update(index, [&task](CTaskItem& t) { t.Status = task.Status; });
  return index;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace brevanto::test
