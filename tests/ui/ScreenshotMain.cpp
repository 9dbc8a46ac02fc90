// Draws the main window with a few tasks and writes a picture of the screen to the file
// named on the command line. Run under xvfb-run to see the window as a desktop shows it.

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include "logs/TaskLog.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/AboutDialog.h"
#include "ui/BrevantoTasksView.h"
#include "ui/HelpWindow.h"
#include "ui/LogViewer.h"
#include "ui/MainFrame.h"

using namespace brevanto;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  test::FakeClock clock(test::MakeTime(2026, 12, 7, 9, 41, 5));
  test::CoreFixture fixture(clock);
  struct Row {
    const char* name;
    ScheduleKind kind;
    TaskStatus status;
    TaskType type;
  } rows[] = {
      {"Nightly sales backup", ScheduleKind::EveryDay, TaskStatus::Waiting,
       TaskType::BackupToFiles},
      {"Orders to reporting server", ScheduleKind::TimeInterval, TaskStatus::Running,
       TaskType::BackupToServer},
      {"Weekly CSV export", ScheduleKind::EveryWeek, TaskStatus::Waiting, TaskType::ExportToFiles},
      {"Purge old sessions", ScheduleKind::Manual, TaskStatus::Stop, TaskType::ExecuteScript},
      {"Restore staging", ScheduleKind::Manual, TaskStatus::Stop, TaskType::RestoreFromFiles},
  };
  for (const Row& r : rows) {
    CTaskItem task = test::MakeTask(r.name, r.kind, r.status);
    task.TaskType = static_cast<std::uint8_t>(r.type);
    if (r.kind != ScheduleKind::Manual) {
      task.LastRunTime = test::MakeTime(2026, 12, 7, 2, 0, 0);
      task.NextRunTime = test::MakeTime(2026, 12, 8, 2, 0, 0);
    }
    fixture.Add(task);
  }
  ui::CMainFrame frame(fixture.Core(), ui::FrameDialogs());
  frame.StartShown();
  frame.View()->SelectRow(1, true);
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTimer::singleShot(1500, [&] {
    QScreen* screen = QGuiApplication::primaryScreen();
    screen->grabWindow(0).save(out);
    frame.grab().save(out + ".window.png");
    frame.SetViewMode(ui::ListViewMode::LargeIcons);
    frame.grab().save(out + ".icons.png");
    const CTaskItem task = fixture.Core().Tasks().At(0);
    CTaskLog& log = fixture.Core().TaskLog();
    log.AppendEntry(task.LogFileName, LogLevel::General, "Running...");
    log.AppendEntry(task.LogFileName, LogLevel::General,
                    "Connecting to the MySQL server localhost:3306...");
    log.AppendEntry(task.LogFileName, LogLevel::Warning, "User canceled!");
    log.AppendEntry(task.LogFileName, LogLevel::Error,
                    "Failed to open the file! - /backup/sales.sql");
    log.AppendEntry(task.LogFileName, LogLevel::General, "Finished");
    ui::CTaskLogViewer viewer(log, task.TaskName, task.LogFileName, 1, 2, &frame);
    viewer.show();
    QApplication::processEvents();
    viewer.grab().save(out + ".log.png");
    ui::HelpWindow* help = ui::HelpWindow::Open("::/introduction/mainwindow.html");
    QApplication::processEvents();
    help->grab().save(out + ".help.png");
    ui::AboutDialog about(&frame);
    about.show();
    QApplication::processEvents();
    about.grab().save(out + ".about.png");
    app.exit(0);
  });
  return app.exec();
}
