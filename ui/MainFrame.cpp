#include "ui/MainFrame.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSessionManager>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "appcore/ApplicationCore.h"
#include "core/Clock.h"
#include "schedule/TaskRunner.h"
#include "tasks/DisplayDateTime.h"
#include "ui/AboutDialog.h"
#include "ui/Autostart.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/GlobalHotKey.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/MainActions.h"
#include "ui/Product.h"
#include "ui/RunMonitor.h"
#include "ui/TaskListModel.h"
#include "ui/TasksViewCommands.h"
#include "ui/Text.h"
#include "ui/TrayIcon.h"
#include "ui/WindowState.h"

namespace brevanto::ui {

namespace {

constexpr QSize kWindowSize(660, 460);
// The clock pane is as wide as the longest text it shows.
constexpr const char* kWidestClockText = " Sun, Jan 01, 2006 00:00:00 A.M ";

}  // namespace

CMainFrame::CMainFrame(CApplicationCore& core, FrameDialogs dialogs, QWidget* parent)
    : QMainWindow(parent),
      m_core(core),
      m_requests(core),
      m_dialogs(std::move(dialogs)),
      m_actions(new MainActions(this)),
      m_view(new CBrevantoTasksView(core.Tasks(), &core.Runner(), this)),
      m_commands(new CTasksViewCommands(core, *m_view, m_dialogs, this)),
      m_tray(new TrayIcon(this)),
      m_hotKey(new GlobalHotKey(this)) {
  setObjectName("mainFrame");
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setWindowIcon(MakeIcon(IconRole::Program));
  setMinimumSize(kWindowSize);
  setCentralWidget(m_view);
  // Wide enough for every column of the list where the screen allows; never below the
  // documented size.
  QSize start = kWindowSize;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    start.setWidth(std::clamp(m_view->DetailsWidthHint(), kWindowSize.width(),
                              std::max(kWindowSize.width(), available.width() * 9 / 10)));
    resize(start);
    move(available.center() - rect().center());
  } else {
    resize(start);
  }
  m_view->Model()->SetDisplayStyles(core.Options().DateFormat, core.Options().TimeFormat);
  RestoreWindowState();

  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  ConnectCommands();
  UpdateTrayMenu();
  UpdateCommandStates();

  m_runs = new RunMonitor(core, *m_tray, this);
  connect(m_commands, &CTasksViewCommands::logOpened, m_runs, &RunMonitor::LogOpened);
  connect(m_runs, &RunMonitor::openLogRequested, m_commands, &CTasksViewCommands::ViewLogOf);
  connect(&m_clockTimer, &QTimer::timeout, m_runs, &RunMonitor::Refresh);
  connect(&m_clockTimer, &QTimer::timeout, this, [this, ticks = 0]() mutable {
    for (const std::string& text : m_requests.Poll()) qInfo("%s", text.c_str());
    // Silence is a matter of hours: a look a minute is plenty.
    if (ticks++ % 60 == 0) m_core.CheckOverdue();
  });
  connect(m_tray, &TrayIcon::activationRequested, this, &CMainFrame::ShowMainWindow);
  connect(m_tray, &TrayIcon::trayLost, this, [this] {
    // Without a notification area a hidden window could not be reached again.
    if (!m_shown) showMinimized();
  });
  connect(m_tray, &TrayIcon::trayRestored, this, [this] {
    if (!m_shown) HideToTray();
  });
  connect(m_hotKey, &GlobalHotKey::pressed, this, &CMainFrame::ShowMainWindow);
  connect(qApp, &QGuiApplication::commitDataRequest, this, &CMainFrame::QueryEndSession,
          Qt::DirectConnection);
}

CMainFrame::~CMainFrame() {
  delete m_actions;
}

void CMainFrame::BuildMenus() {
  m_viewMenu = m_actions->MakeViewMenu(this);
  m_actions->FillMenuBar(menuBar(), m_viewMenu);
  m_contextMenu = m_actions->MakeContextMenu(this);
  m_trayMenu = new QMenu(this);
  m_trayMenu->setObjectName("trayMenu");
  m_tray->SetMenu(m_trayMenu);
}

void CMainFrame::BuildToolBar() {
  QToolBar* bar = addToolBar(tr("Toolbar"));
  bar->setObjectName("mainToolBar");
  bar->setMovable(false);
  bar->setIconSize(QSize(32, 32));
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_actions->FillToolBar(bar);

  // The View button cycles the modes; its arrow drops the View menu down.
  auto* cycle = new QAction(MakeIcon(IconRole::ViewMode), tr("View"), this);
  cycle->setObjectName("actionCycleView");
  cycle->setToolTip(tr("View"));
  m_viewButton = new QToolButton(bar);
  m_viewButton->setObjectName("viewButton");
  m_viewButton->setDefaultAction(cycle);
  m_viewButton->setMenu(m_viewMenu);
  m_viewButton->setPopupMode(QToolButton::MenuButtonPopup);
  m_viewButton->setIconSize(QSize(32, 32));
  bar->addWidget(m_viewButton);
  connect(cycle, &QAction::triggered, this, [this] {
    switch (m_view->ViewMode()) {
      case ListViewMode::LargeIcons: SetViewMode(ListViewMode::SmallIcons); break;
      case ListViewMode::SmallIcons: SetViewMode(ListViewMode::List); break;
      case ListViewMode::List: SetViewMode(ListViewMode::Details); break;
      case ListViewMode::Details: SetViewMode(ListViewMode::LargeIcons); break;
    }
  });
}

void CMainFrame::BuildStatusBar() {
  auto* ready = new QLabel(tr("Ready"), this);
  ready->setObjectName("readyPane");
  statusBar()->addWidget(ready, 1);
  m_clock = new QLabel(this);
  m_clock->setObjectName("clockPane");
  m_clock->setAlignment(Qt::AlignCenter);
  m_clock->setMinimumWidth(
      m_clock->fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestClockText)));
  statusBar()->addPermanentWidget(m_clock);
  m_clockTimer.setInterval(1000);
  connect(&m_clockTimer, &QTimer::timeout, this, &CMainFrame::UpdateClock);
  UpdateClock();
  m_clockTimer.start();
}

void CMainFrame::ConnectCommands() {
  MainActions& a = *m_actions;
  CTasksViewCommands* c = m_commands;
  connect(a.newTask, &QAction::triggered, c, &CTasksViewCommands::NewTask);
  connect(a.editTask, &QAction::triggered, c, &CTasksViewCommands::EditTask);
  connect(a.deleteTasks, &QAction::triggered, c, &CTasksViewCommands::DeleteTasks);
  connect(a.deleteAll, &QAction::triggered, c, &CTasksViewCommands::DeleteAll);
  connect(a.copyTasks, &QAction::triggered, c, &CTasksViewCommands::CopyTasks);
  connect(a.renameTask, &QAction::triggered, c, &CTasksViewCommands::RenameTask);
  connect(a.restoreOffsite, &QAction::triggered, c, &CTasksViewCommands::RestoreOffsite);
  connect(a.viewLog, &QAction::triggered, c, &CTasksViewCommands::ViewLog);
  connect(a.saveAs, &QAction::triggered, c, &CTasksViewCommands::SaveAs);
  connect(a.loadFrom, &QAction::triggered, c, &CTasksViewCommands::LoadFrom);
  connect(a.properties, &QAction::triggered, c, &CTasksViewCommands::Properties);
  connect(a.start, &QAction::triggered, c, &CTasksViewCommands::Start);
  connect(a.stop, &QAction::triggered, c, &CTasksViewCommands::Stop);
  connect(a.runNow, &QAction::triggered, c, &CTasksViewCommands::RunImmediately);
  connect(a.startAll, &QAction::triggered, c, &CTasksViewCommands::StartAll);
  connect(a.stopAll, &QAction::triggered, c, &CTasksViewCommands::StopAll);
  connect(a.selectAll, &QAction::triggered, c, &CTasksViewCommands::SelectAll);
  connect(a.exit, &QAction::triggered, this, &CMainFrame::QuitApplication);
  connect(a.show, &QAction::triggered, this, &CMainFrame::ShowMainWindow);

  connect(a.options, &QAction::triggered, this, &CMainFrame::OpenOptions);
  connect(a.servers, &QAction::triggered, this, [this] {
    if (m_dialogs.servers) m_dialogs.servers(this);
  });
  connect(a.tipOfTheDay, &QAction::triggered, this, [this] {
    if (m_dialogs.tipOfTheDay) m_dialogs.tipOfTheDay(this);
  });
  a.options->setEnabled(static_cast<bool>(m_dialogs.options));
  a.servers->setEnabled(static_cast<bool>(m_dialogs.servers));
  a.tipOfTheDay->setEnabled(static_cast<bool>(m_dialogs.tipOfTheDay));

  connect(a.userManual, &QAction::triggered, this, [] { HelpWindow::Open(); });
  // The project has no web site or support address yet: these open the manual's own pages
  // rather than placeholder addresses.
  connect(a.webSite, &QAction::triggered, this, [] { HelpWindow::Open(); });
  connect(a.supportPage, &QAction::triggered, this,
          [] { HelpWindow::Open(QStringLiteral("support.html")); });
  connect(a.supportEmail, &QAction::triggered, this,
          [] { HelpWindow::Open(QStringLiteral("support.html")); });
  connect(a.about, &QAction::triggered, this, [this] {
    AboutDialog about(this);
    about.exec();
  });

  connect(a.largeIcons, &QAction::triggered, this,
          [this] { SetViewMode(ListViewMode::LargeIcons); });
  connect(a.smallIcons, &QAction::triggered, this,
          [this] { SetViewMode(ListViewMode::SmallIcons); });
  connect(a.list, &QAction::triggered, this, [this] { SetViewMode(ListViewMode::List); });
  connect(a.details, &QAction::triggered, this, [this] { SetViewMode(ListViewMode::Details); });

  connect(m_view, &CBrevantoTasksView::contextMenuRequested, this, [this](const QPoint& pos) {
    UpdateCommandStates();
    m_contextMenu->popup(pos);
  });
  connect(m_view, &CBrevantoTasksView::rowActivated, c, &CTasksViewCommands::Properties);
  connect(m_view, &CBrevantoTasksView::selectionChanged, this, &CMainFrame::UpdateCommandStates);
  // Task states change on the workers' threads: follow them at the list's refresh pace.
  connect(&m_clockTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandStates);
  for (QMenu* menu : menuBar()->findChildren<QMenu*>()) {
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
  }
}

void CMainFrame::UpdateCommandStates() {
  m_commands->UpdateActions(*m_actions);
}

void CMainFrame::UpdateTrayMenu() {
  m_actions->FillTrayMenu(m_trayMenu, m_core.Options().HasLogin());
}

void CMainFrame::UpdateClock() {
  m_core.Runner().FinishStops();  // stops asked from the list complete here, never blocking
  const CSystemOptions& options = m_core.Options();
  m_clock->setText(ToQt(FormatDisplayDateTime(m_core.GetClock().Now(), options.DateFormat,
                                              options.TimeFormat, true)));
  HoldShutdown();
}

void CMainFrame::HoldShutdown() {
  const bool wanted =
      !m_shutDown && m_core.Options().BlockShutdownWhileRunning != 0 && m_core.HasRunningTask();
  if (wanted && !m_inhibitorProblem.empty()) return;
  const Status held = m_inhibitor.Hold(wanted);
  // Said once on the terminal and the journal; the session manager's answer still stands.
  if (!held.ok()) qWarning("%s", held.message().c_str());
  m_inhibitorProblem = held.ok() ? std::string() : held.message();
}

void CMainFrame::SetViewMode(ListViewMode mode) {
  m_view->SetViewMode(mode);
  QAction* checked = mode == ListViewMode::LargeIcons   ? m_actions->largeIcons
                     : mode == ListViewMode::SmallIcons ? m_actions->smallIcons
                     : mode == ListViewMode::List       ? m_actions->list
                                                        : m_actions->details;
  checked->setChecked(true);
}

bool CMainFrame::PassLogin() {
  if (!m_core.Options().HasLogin() || !m_dialogs.login) return true;
  // A show request (hot key, tray, a second start) while the login is open must not
  // stack a second login on the first; the open one decides.
  if (m_inLogin) return false;
  m_inLogin = true;
  const bool passed = m_dialogs.login(this);
  m_inLogin = false;
  return passed;
}

void CMainFrame::StartHidden() {
  m_shown = false;
  // Started at login, the program may come up before the panel that holds the tray: the
  // icon then waits for it, and the window stays reachable (minimised) meanwhile.
  m_tray->Add();
  if (!TrayIcon::Available()) showMinimized();
}

bool CMainFrame::StartShown() {
  if (!PassLogin()) return false;
  show();
  m_shown = true;
  raise();
  activateWindow();
  return true;
}

void CMainFrame::ShowMainWindow() {
  if (m_shown) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    return;
  }
  if (!PassLogin()) return;
  showNormal();
  m_tray->Remove();
  m_shown = true;
  raise();
  activateWindow();
}

void CMainFrame::HideToTray() {
  if (!TrayIcon::Available()) return;  // minimised stays minimised
  // The minimised state is kept: clearing it on X11 maps the window again, leaving an
  // empty frame on screen. The show flow's showNormal() clears it on the way back.
  hide();
  m_shown = false;
  if (!m_tray->Added()) m_tray->Add();
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || m_quitting) return;
  if (isMinimized()) {
    if (m_shown && TrayIcon::Available()) {
      // Hide after the window system has finished minimising.
      QTimer::singleShot(0, this, &CMainFrame::HideToTray);
    }
  } else if (!m_shown && isVisible()) {
    // Restored from the taskbar while the tray was missing. That is a showing like any
    // other: with a login set, the window goes back until the login is given.
    if (m_core.Options().HasLogin()) {
      if (!m_restorePending && !m_inLogin) {
        m_restorePending = true;
        QTimer::singleShot(0, this, &CMainFrame::RestoreBehindLogin);
      }
      return;
    }
    m_tray->Remove();
    m_shown = true;
  }
}

void CMainFrame::RestoreBehindLogin() {
  if (m_shown || m_quitting) {
    m_restorePending = false;
    return;
  }
  showMinimized();
  const bool passed = PassLogin();
  // Echoes of the state changes above may still be queued: let them pass first.
  QTimer::singleShot(0, this, [this] { m_restorePending = false; });
  if (!passed) return;
  m_tray->Remove();
  m_shown = true;
  showNormal();
  raise();
  activateWindow();
}

bool CMainFrame::QuitApplication() {
  if (m_quitting) return true;
  if (Dialogs::AskYesNo(this, tr("Quit the application and stop all tasks?")) != Answer::Yes) {
    return false;
  }
  if (!ShutDown()) {
    Dialogs::Stop(this, tr("Failed to save the task list or the options! What changed since "
                           "they were last saved is lost."));
  }
  close();
  QApplication::quit();
  return true;
}

void CMainFrame::RestoreWindowState() {
  const WindowState state = LoadWindowState(m_core.Folder());
  if (state.Width > 0 && state.Height > 0) {
    QSize size(state.Width, state.Height);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      size = size.boundedTo(screen->availableGeometry().size());
    }
    resize(size.expandedTo(minimumSize()));
  }
  QHeaderView* header = m_view->Details()->header();
  for (int c = 0; c < static_cast<int>(state.Columns.size()) && c < header->count(); ++c) {
    if (state.Columns[c] > 0) header->resizeSection(c, state.Columns[c]);
  }
}

void CMainFrame::SaveWindowStateNow() {
  WindowState state;
  state.Width = width();
  state.Height = height();
  const QHeaderView* header = m_view->Details()->header();
  for (int c = 0; c < header->count(); ++c) state.Columns.push_back(header->sectionSize(c));
  const Status saved = SaveWindowState(m_core.Folder(), state);
  if (!saved.ok()) qWarning("%s", saved.message().c_str());
}

bool CMainFrame::ShutDown() {
  if (m_shutDown) return true;
  m_shutDown = true;
  SaveWindowStateNow();
  m_quitting = true;
  m_clockTimer.stop();
  HoldShutdown();
  m_view->PauseRefresh();
  m_hotKey->Unregister();
  // Stopping the workers may take up to 3000 ms: the window goes first, so it never
  // stands frozen meanwhile.
  hide();
  m_tray->Remove();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  // Saving comes first, so the task file holds the states of the moment of exit.
  if (m_core.SaveAtExit()) return true;
  // An exit nobody watches (a signal, the session's end) must not wait on a box.
  qWarning("the task list or the options could not be saved at exit");
  return false;
}

bool CMainFrame::MayEndSession() {
  if (m_shutDown) return true;
  if (m_core.Options().BlockShutdownWhileRunning && m_core.HasRunningTask()) return false;
  ShutDown();
  return true;
}

void CMainFrame::EndNow() {
  ShutDown();
  QApplication::quit();
}

void CMainFrame::QueryEndSession(QSessionManager& manager) {
  if (!MayEndSession()) {
    // Refusing needs the session manager's permission to interact.
    if (manager.allowsInteraction()) manager.cancel();
    return;
  }
  QTimer::singleShot(0, qApp, &QApplication::quit);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // A window that is not shown (minimised while the tray was missing) is behind the login
  // like the tray menu, which then offers no Exit.
  if (!m_quitting && !m_shown && m_core.Options().HasLogin() && !PassLogin()) {
    event->ignore();
    return;
  }
  if (m_quitting || QuitApplication()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool CMainFrame::RegisterHotKey() {
  const CSystemOptions& options = m_core.Options();
  return m_hotKey->Register(options.HotKeyVirtualKey, options.HotKeyModifiers);
}

void CMainFrame::ApplyOptions(const CSystemOptions& options) {
  m_core.ApplyOptions(options);
  ApplyAutostart(m_core.Options().AutoRun != 0, FromQt(QCoreApplication::applicationFilePath()),
                 m_core.Folder());
  m_hotKey->Unregister();
  RegisterHotKey();
  m_view->Model()->SetDisplayStyles(m_core.Options().DateFormat, m_core.Options().TimeFormat);
  UpdateClock();
  UpdateTrayMenu();
}

void CMainFrame::OpenOptions() {
  if (!m_dialogs.options) return;
  CSystemOptions copy = m_core.Options();
  if (m_dialogs.options(this, copy)) ApplyOptions(copy);
}

}  // namespace brevanto::ui
