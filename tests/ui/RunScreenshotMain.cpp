// Draws the main window with a task running (progress in the Result column), a failed
// task and the tray icon's warning mark, and writes pictures of the screen to the file
// named on the command line (+ ".window.png", ".log.png"). Run on a real X display with a
// window manager and a tray to see what a desktop shows.

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "logs/TaskLog.h"
#include "schedule/RunReport.h"
#include "tasks/TaskList.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/LogViewer.h"
#include "ui/MainFrame.h"
#include "ui/RunMonitor.h"
#include "ui/TrayIcon.h"

using namespace brevanto;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  test::FakeClock clock(test::MakeTime(2026, 12, 7, 9, 41, 5));
  test::CoreFixture fixture(clock);
  CTaskList& tasks = fixture.Core().Tasks();

  CTaskItem running = test::MakeTask("Nightly sales backup", ScheduleKind::EveryDay,
                                     TaskStatus::Running);
  running.LastRunTime = test::MakeTime(2026, 12, 7, 9, 38, 20);
  running.NextRunTime = test::MakeTime(2026, 12, 8, 9, 38, 0);
  const int runningRow = fixture.Add(running);
  {
    const std::shared_ptr<TaskSlot> slot = tasks.SlotAt(runningRow);
    std::lock_guard lock(slot->Lock);
    slot->Progress = {true, "sales.orders", 812000, 1500000, 2412000, 318000000, 437};
    slot->LastResult = {RunResultKind::Ok, 0, 0};
  }
  CTaskItem failed = test::MakeTask("Orders to reporting server", ScheduleKind::TimeInterval,
                                    TaskStatus::Waiting);
  failed.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
  failed.LastRunTime = test::MakeTime(2026, 12, 7, 9, 30, 0);
  failed.NextRunTime = test::MakeTime(2026, 12, 7, 10, 0, 0);
  const int failedRow = fixture.Add(failed);
  tasks.SetLastResult(failedRow, {RunResultKind::Failed, 2, 0});
  CTaskItem fine = test::MakeTask("Weekly CSV export", ScheduleKind::EveryWeek, TaskStatus::Waiting);
  fine.TaskType = static_cast<std::uint8_t>(TaskType::ExportToFiles);
  fine.LastRunTime = test::MakeTime(2026, 12, 6, 2, 0, 0);
  fine.NextRunTime = test::MakeTime(2026, 12, 13, 2, 0, 0);
  tasks.SetLastResult(fixture.Add(fine), {RunResultKind::Ok, 0, 0});

  CTaskLog& log = fixture.Core().TaskLog();
  const std::string failedLog = tasks.At(failedRow).LogFileName;
  for (const auto& [level, text] : std::vector<std::pair<LogLevel, std::string>>{
           {LogLevel::General, "Running..."},
           {LogLevel::General, "Copying the database sales..."},
           {LogLevel::General, "Copying the table sales.customers..."},
           {LogLevel::Error, "Failed to use database sales on the destination server!"},
           {LogLevel::General, "Copying the table sales.orders..."},
           {LogLevel::Error, "Failed to insert a record to the table orders!"},
           {LogLevel::General, "Copying the table sales.items..."},
           {LogLevel::General, "Finished"}}) {
    log.AppendEntry(failedLog, level, text);
  }

  ui::CMainFrame frame(fixture.Core(), ui::FrameDialogs());
  frame.StartShown();
  frame.resize(1180, 420);
  RunReport report;
  report.TaskKey = tasks.At(failedRow).TaskKey;
  report.TaskName = "Orders to reporting server";
  report.Outcome = RunOutcome::Failed;
  report.ErrorCount = 2;
  frame.Runs()->RunEnded(report, false);
  // The tray icon as a hidden window shows it, beside the window, to see its warning mark.
  frame.Tray()->Add();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTimer::singleShot(2500, [&] {
    frame.Runs()->Refresh();
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(out);
    frame.grab().save(out + ".window.png");
    ui::CTaskLogViewer viewer(log, "Orders to reporting server", failedLog, 1, 1, &frame);
    viewer.show();
    QApplication::processEvents();
    viewer.grab().save(out + ".log.png");
    app.exit(0);
  });
  return app.exec();
}
