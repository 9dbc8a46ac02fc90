// What the window shows of runs: the Result column (progress, then the outcome), the tray's
// tooltip and warning mark, and the desktop notification with its "Open log" action.

#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>

#include "schedule/RunReport.h"
#include "schedule/RunStatusText.h"
#include "tasks/TaskList.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/DesktopNotifications.h"
#include "ui/Product.h"
#include "ui/RunMonitor.h"
#include "ui/TaskListModel.h"
#include "ui/TrayIcon.h"

namespace brevanto::ui {
namespace {

using test::FakeClock;
using test::MakeTime;

TEST(RunStatusTextTest, ProgressAndOutcomeWords) {
  TaskProgress progress;
  progress.Permille = 5;
  EXPECT_EQ(ProgressText(progress, 100), "0 %");  // too early to guess the rest
  progress.Permille = 250;
  EXPECT_EQ(ProgressText(progress, 60), "25 %, 3 min left");
  EXPECT_EQ(ProgressText(progress, 3), "25 %");
  progress.Permille = 100;
  EXPECT_EQ(ProgressText(progress, 3600), "10 %, 9 h 00 min left");

  EXPECT_EQ(LastResultText({}), "");
  EXPECT_EQ(LastResultText({RunResultKind::Ok, 0, 2}), "OK");
  EXPECT_EQ(LastResultText({RunResultKind::Failed, 1, 0}), "Failed (1 error)");
  EXPECT_EQ(LastResultText({RunResultKind::Failed, 12, 0}), "Failed (12 errors)");

  // Across midnight and a month end.
  EXPECT_EQ(SecondsBetween(MakeTime(2026, 1, 31, 23, 59, 0), MakeTime(2026, 2, 1, 0, 1, 30)), 150);
  EXPECT_EQ(SecondsBetween(MakeTime(2026, 2, 1), MakeTime(2026, 1, 1)), 0);
  EXPECT_EQ(SecondsBetween(TaskDateTime{}, MakeTime(2026, 1, 1)), 0);
}

class RunMonitorTest : public testing::Test {
 protected:
  RunMonitorTest() {
    CTaskItem task = test::MakeTask("Nightly");
    task.LastRunTime = MakeTime(2026, 3, 7, 9, 0, 0);
    m_row = m_fixture.Add(task);
    m_key = QString::fromStdString(m_fixture.Core().Tasks().At(m_row).TaskKey);
  }

  RunReport FailedReport() {
    RunReport report;
    report.TaskKey = m_key.toStdString();
    report.TaskName = "Nightly";
    report.Outcome = RunOutcome::Failed;
    report.ErrorCount = 1;
    report.Errors = {"Failed to use database sales"};
    return report;
  }

  FakeClock m_clock{MakeTime(2026, 3, 7, 9, 1, 0)};
  test::CoreFixture m_fixture{m_clock};
  int m_row = 0;
  QString m_key;
};

TEST_F(RunMonitorTest, ResultColumnShowsProgressWhileRunningThenTheOutcome) {
  CTaskList& tasks = m_fixture.Core().Tasks();
  TaskListModel model(tasks, &m_fixture.Core().Runner());
  const std::shared_ptr<TaskSlot> slot = tasks.SlotAt(m_row);
  {
    std::lock_guard lock(slot->Lock);
    slot->Task.SetStatus(TaskStatus::Running);
    slot->Progress.Active = true;
    slot->Progress.Permille = 500;
  }
  model.Refresh();
  const QModelIndex cell = model.index(m_row, TaskListModel::kResult);
  EXPECT_EQ(model.data(cell).toString(), "50 %, 1 min left");
  EXPECT_EQ(model.data(cell, TaskListModel::kProgressRole).toInt(), 500);
  EXPECT_EQ(model.data(model.index(m_row, TaskListModel::kStatus)).toString(), "Running...");

  {
    std::lock_guard lock(slot->Lock);
    slot->Task.SetStatus(TaskStatus::Stop);
    slot->Progress.Active = false;
    slot->LastResult = {RunResultKind::Failed, 3, 0};
  }
  model.Refresh();
  EXPECT_EQ(model.data(cell).toString(), "Failed (3 errors)");
  EXPECT_EQ(model.data(cell, TaskListModel::kProgressRole).toInt(), -1);
  EXPECT_EQ(model.data(model.index(m_row, TaskListModel::kStatus)).toString(), "Stop");
  EXPECT_EQ(model.headerData(TaskListModel::kResult, Qt::Horizontal).toString(), "Result");
}

TEST_F(RunMonitorTest, TrayWarnsOfAFailureUntilItsLogIsOpened) {
  TrayIcon tray;
  RunMonitor monitor(m_fixture.Core(), tray);
  monitor.RunEnded(FailedReport(), false);
  EXPECT_TRUE(tray.Warning());
  EXPECT_TRUE(tray.Icon()->toolTip().contains("1 failed run"));

  RunReport fine = FailedReport();
  fine.Outcome = RunOutcome::Finished;
  fine.ErrorCount = 0;
  fine.Errors.clear();
  monitor.RunEnded(fine, false);
  EXPECT_TRUE(tray.Warning()) << "a later good run does not mean the failure was seen";

  monitor.LogOpened(m_key);
  EXPECT_FALSE(tray.Warning());
  EXPECT_EQ(tray.Icon()->toolTip(), QString::fromLatin1(kWindowTitle));
}

TEST_F(RunMonitorTest, TrayTooltipNamesTheRunningTasks) {
  TrayIcon tray;
  RunMonitor monitor(m_fixture.Core(), tray);
  m_fixture.Core().Tasks().Update(m_row,
                                  [](CTaskItem& task) { task.SetStatus(TaskStatus::Running); });
  const std::shared_ptr<TaskSlot> slot = m_fixture.Core().Tasks().SlotAt(m_row);
  {
    std::lock_guard lock(slot->Lock);
    slot->Progress.Active = true;
    slot->Progress.Permille = 420;
    slot->Progress.Item = "sales.orders";
  }
  monitor.Refresh();
  EXPECT_EQ(tray.Icon()->toolTip(),
            QString::fromLatin1(kWindowTitle) + "\nNightly: 42 %, 1 min left (sales.orders)");
}

// A stand-in for the desktop's notification service on a private session bus.
class FakeNotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  QStringList summaries;
  QStringList actions;

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
              const QStringList& actionList, const QVariantMap&, int) {
    summaries << summary;
    actions = actionList;
    return 41 + static_cast<uint>(summaries.size());
  }
};

TEST_F(RunMonitorTest, DesktopNotificationOpensTheLogOfItsTask) {
  // Only on a bus of its own: it stands in for the desktop's notification service.
  if (qEnvironmentVariableIsEmpty("BREVANTO_PRIVATE_SESSION_BUS")) {
    GTEST_SKIP() << "runs under dbus-run-session only";
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected());
  FakeNotificationService service;
  ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &service,
                                 QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));

  TrayIcon tray;
  RunMonitor monitor(m_fixture.Core(), tray);
  QSignalSpy open(&monitor, &RunMonitor::openLogRequested);
  QSignalSpy shown(monitor.Desktop(), &DesktopNotifications::shown);
  monitor.RunEnded(FailedReport(), true);
  ASSERT_TRUE(test::WaitUntil([&] { return shown.count() == 1; }));
  EXPECT_EQ(service.summaries, QStringList{"Brevanto: Nightly - Failed (1 error)"});
  EXPECT_EQ(service.actions, (QStringList{"default", "Open log"}));

  // The user clicks "Open log" on the notification the service showed.
  QDBusMessage clicked = QDBusMessage::createSignal(
      "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
  clicked << shown.at(0).at(0).toUInt() << QString("default");
  ASSERT_TRUE(bus.send(clicked));
  ASSERT_TRUE(test::WaitUntil([&] { return open.count() == 1; }));
  EXPECT_EQ(open.at(0).at(0).toInt(), m_row);

  bus.unregisterService("org.freedesktop.Notifications");
  bus.unregisterObject("/org/freedesktop/Notifications");
}

}  // namespace
}  // namespace brevanto::ui

#include "RunMonitorTest.moc"
