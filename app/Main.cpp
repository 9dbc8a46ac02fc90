// The windowed program: one copy per user, living in the notification area while any
// task is scheduled, with the main window on demand.

#include <cstdio>

#include <QAction>
#include <QApplication>

#include "appcore/ApplicationCore.h"
#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "core/Version.h"
#include "engines/Routines.h"
#include "schedule/TaskRunner.h"
#include "ui/AutorunQuestion.h"
#include "ui/Dialogs.h"
#include "ui/Icons.h"
#include "ui/MainActions.h"
#include "ui/MainFrame.h"
#include "ui/Product.h"
#include "ui/SingleInstance.h"
#include "ui/SplashScreen.h"
#include "ui/StartOptions.h"
#include "ui/TerminationSignals.h"
#include "ui/Text.h"
#include "ui/dialogs/SettingsDialogs.h"
#include "ui/wizard/TaskSheets.h"

namespace {

using namespace brevanto;
using namespace brevanto::ui;

// The dialogs other parts of the program build are plugged in here as they exist.
FrameDialogs MakeFrameDialogs(CApplicationCore& core) {
  FrameDialogs dialogs;
  PlugInSettingsDialogs(dialogs, core);
  dialogs.newTask = [&core](QWidget* parent) { return wizard::RunNewTask(parent, core); };
  dialogs.editTask = [&core](QWidget* parent, CTaskItem& task) {
    return wizard::RunEditTask(parent, core, task);
  };
  dialogs.properties = [&core](QWidget* parent, const CTaskItem& task) {
    wizard::ShowTaskProperties(parent, core, task);
  };
  return dialogs;
}

// The application folder: "--folder DIR" on the command line, else the usual choice.
std::string ChosenFolder(const std::string& given) {
  if (given.empty()) return ApplicationFolder();
  const std::string folder = WithTrailingSlash(given);
  MakeFolder(folder);
  return folder;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Answered before Qt starts, which aborts without a display.
  const StartOptions start = ParseStartOptions(argc, argv);
  switch (start.action) {
    case StartOptions::Action::Help: std::fputs(StartUsageText(), stdout); return 0;
    case StartOptions::Action::Version: std::printf("brevanto %s\n", ProgramVersion()); return 0;
    case StartOptions::Action::UsageError:
      std::fprintf(stderr, "brevanto: %s (try brevanto --help)\n", start.problem.c_str());
      return 2;
    case StartOptions::Action::Start: break;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brevanto"));
  // No display name: on X11 Qt appends it to every window title, so each message box
  // would read "Brevanto — Brevanto Standard Edition" instead of "Brevanto".
  QApplication::setApplicationVersion(QStringLiteral("2.0"));
  QApplication::setDesktopFileName(QStringLiteral("Brevanto"));
  // Every window, message boxes included, carries the program's icon.
  QApplication::setWindowIcon(MakeIcon(IconRole::Program));
  // The program lives on in the notification area with no window open.
  QApplication::setQuitOnLastWindowClosed(false);

  const std::string folder = ChosenFolder(start.folder);
  SingleInstance instance(QString::fromLatin1(kInstanceName), ToQt(folder));
  if (!instance.Claim()) return 0;

  auto splash = std::make_unique<SplashScreen>();
  splash->show();
  app.processEvents();

  // brevanto-run holds this lock while it changes the same folder, the headless scheduler
  // for its whole life: both would write the task file, so the window refuses to start.
  const std::unique_ptr<InstanceLock> folderLock = InstanceLock::TryAcquire(folder, kHolderWindow);
  if (!folderLock) {
    splash->close();
    const LockHolder holder = InstanceLock::Holder(folder);
    const QString finish = holder.kind == kHolderDaemon
                               ? QObject::tr("Stop the scheduler first (systemctl --user stop "
                                             "brevanto), or manage its tasks with brevanto-run.")
                               : QObject::tr("Start Brevanto again when it has finished.");
    Dialogs::Stop(nullptr, QObject::tr("The folder %1 is in use by %2.\n\n%3")
                               .arg(ToQt(folder), ToQt(InstanceLock::Describe(holder)), finish));
    return 1;
  }
  // Never destroyed: a worker the runner gave up on at exit may still reach the core
  // (its log, its routines) while the process ends.
  CApplicationCore& core = *new CApplicationCore(folder, SystemClock());
  core.Start();
  splash->FinishAfter(600);
  splash.reset();

  if (!core.SetAsideTaskFile().empty()) {
    // The list starts empty; say where the unreadable file went so no task is lost unseen.
    Dialogs::Warning(nullptr, QObject::tr("The task list could not be read. The file was kept as "
                                          "%1 and the program starts with an empty list.")
                                  .arg(ToQt(core.SetAsideTaskFile())));
  }
  AskAboutAutorun(core, FromQt(QCoreApplication::applicationFilePath()));

  const FrameDialogs dialogs = MakeFrameDialogs(core);
  CMainFrame frame(core, dialogs);
  QObject::connect(&instance, &SingleInstance::showRequested, &frame, &CMainFrame::ShowMainWindow);
  TerminationSignals termination;
  QObject::connect(&termination, &TerminationSignals::terminationRequested, &frame,
                   &CMainFrame::EndNow);

  if (core.HasScheduledTask()) {
    frame.StartHidden();
  } else if (!frame.StartShown()) {
    return 0;  // the login was not given
  }

  if (core.StartRunner(MakeRoutineTable(folder)) != 0) {
    Dialogs::Stop(&frame, QObject::tr("Failed to initialization Task Server!"));
    core.Tasks().RemoveAll();
    return 1;
  }
  frame.RegisterHotKey();

  if (frame.Shown()) {
    if (core.Tasks().Count() == 0) {
      frame.Actions().newTask->trigger();
    } else if (core.Options().ShowTipsOnStartup != 0) {
      frame.Actions().tipOfTheDay->trigger();
    }
  }
  const int code = app.exec();
  // Normally the quit flow has stopped the runner already; this covers any other way out.
  if (core.Runner().Started()) core.Shutdown();
  return code;
}
