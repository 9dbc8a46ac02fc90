#include "ui/RunMonitor.h"

#include <algorithm>

#include <QApplication>
#include <QPointer>

#include "appcore/ApplicationCore.h"
#include "core/Clock.h"
#include "notify/NotificationText.h"
#include "schedule/RunReport.h"
#include "schedule/RunStatusText.h"
#include "tasks/TaskList.h"
#include "ui/DesktopNotifications.h"
#include "ui/Product.h"
#include "ui/Text.h"
#include "ui/TrayIcon.h"

namespace brevanto::ui {

namespace {

int RowOfTask(const CTaskList& tasks, const QString& taskKey) {
  const std::string key = FromQt(taskKey);
  const int count = tasks.Count();
  for (int row = 0; row < count; ++row) {
    if (tasks.At(row).TaskKey == key) return row;
  }
  return -1;
}

}  // namespace

RunMonitor::RunMonitor(CApplicationCore& core, TrayIcon& tray, QObject* parent)
    : QObject(parent), m_core(core), m_tray(tray), m_desktop(new DesktopNotifications(this)) {
  QPointer<RunMonitor> self(this);
  m_core.SetRunListener([self](const RunReport& report, bool desktop) {
    // A worker thread: the report travels by value to the GUI thread, where the monitor
    // may already be gone.
    QMetaObject::invokeMethod(
        qApp,
        [self, report, desktop] {
          if (self) self->RunEnded(report, desktop);
        },
        Qt::QueuedConnection);
  });
  connect(m_desktop, &DesktopNotifications::openLogRequested, this, [this](const QString& key) {
    const int row = RowOfTask(m_core.Tasks(), key);
    if (row >= 0) emit openLogRequested(row);
  });
}

RunMonitor::~RunMonitor() {
  m_core.SetRunListener({});
}

void RunMonitor::RunEnded(const RunReport& report, bool desktopNotification) {
  if (report.Failed()) m_unseenFailures.insert(ToQt(report.TaskKey));
  if (desktopNotification) {
    m_desktop->Notify(ToQt(MakeNotificationTitle(report)), ToQt(MakeNotificationBody(report)),
                      ToQt(report.TaskKey), report.Failed());
  }
  Refresh();
}

void RunMonitor::Refresh() {
  CTaskList& tasks = m_core.Tasks();
  const TaskDateTime now = tasks.GetClock().Now();
  QString tip = QString::fromLatin1(kWindowTitle);
  const int count = tasks.Count();
  for (int row = 0; row < count; ++row) {
    const CTaskItem task = tasks.At(row);
    if (task.GetStatus() != TaskStatus::Running) continue;
    tip += "\n" + ToQt(RunningTaskLine(task.TaskName, tasks.ProgressAt(row),
                                       SecondsBetween(task.LastRunTime, now)));
  }
  if (!m_unseenFailures.isEmpty()) {
    tip += "\n" + tr("%n failed run(s) not looked at", nullptr, m_unseenFailures.size());
  }
  m_tray.SetRunState(tip, !m_unseenFailures.isEmpty());
}

void RunMonitor::LogOpened(const QString& taskKey) {
  if (m_unseenFailures.remove(taskKey)) Refresh();
}

}  // namespace brevanto::ui
