#pragma once
// CMainFrame: the main window. It carries the menus, toolbar, status bar with its clock
// and the task list, hides into the notification area, shows itself on request (tray,
// hot key, a second start) behind the login when one is set, and runs the quit flow.
// It keeps the window-side state only; the live data belongs to the application core.
// GUI thread only.

#include <string>

#include <QMainWindow>
#include <QTimer>

#include "appcore/RunRequests.h"
#include "ui/FrameDialogs.h"
#include "ui/ShutdownInhibitor.h"

class QLabel;
class QMenu;
class QSessionManager;
class QToolButton;

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::ui {

class CBrevantoTasksView;
class CTasksViewCommands;
class GlobalHotKey;
class RunMonitor;
class TrayIcon;
struct MainActions;
enum class ListViewMode;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // REQUIRES: `core` outlives the window.
  CMainFrame(CApplicationCore& core, FrameDialogs dialogs, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The two ways the program starts: in the notification area (or minimised when the
  // desktop has none), or shown. StartShown asks for the login first when one is set and
  // returns false when it is not given.
  void StartHidden();
  bool StartShown();

  // The show flow (Show, the icon's click, the hot key, a second start).
  void ShowMainWindow();
  // The hide flow (minimise).
  void HideToTray();
  bool Shown() const { return m_shown; }

  // Asks "Quit the application and stop all tasks?"; on Yes saves, stops every task and
  // closes the window. Returns whether the program is quitting.
  bool QuitApplication();
  // The system asks whether the session may end.
  void QueryEndSession(QSessionManager& manager);
  // The decision behind it: false (nothing saved) while a task runs and the options say
  // to block; otherwise saves, stops every task and returns true.
  bool MayEndSession();
  // The session ends without asking (a termination signal): save, stop and quit.
  void EndNow();
  // Whether logind's shutdown lock is held (see HoldShutdown).
  bool HoldsShutdownLock() const { return m_inhibitor.Held(); }

  // Registers the hot key of the options; false when it could not be registered.
  bool RegisterHotKey();
  // After the Options sheet's OK: saves, applies autorun and the hot key.
  void ApplyOptions(const CSystemOptions& options);

  void SetViewMode(ListViewMode mode);
  CBrevantoTasksView* View() const { return m_view; }
  CTasksViewCommands* Commands() const { return m_commands; }
  MainActions& Actions() const { return *m_actions; }
  TrayIcon* Tray() const { return m_tray; }
  RunMonitor* Runs() const { return m_runs; }
  QLabel* ClockPane() const { return m_clock; }
  // Rewrites the clock pane; the clock timer calls it every second.
  void UpdateClock();
  void UpdateCommandStates();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void ConnectCommands();
  void UpdateTrayMenu();
  bool PassLogin();
  // The window was restored from the taskbar without the login: minimise it again and
  // show it only when the login is given.
  void RestoreBehindLogin();
  // Steps of every exit: stop the clock, release the hot key, save, stop the tasks,
  // remove the icon. False when the task list or the options could not be saved (said on
  // the standard error; a quit the user asked for also says it in a box).
  bool ShutDown();
  void OpenOptions();
  // The size and column widths of the last run (ui/WindowState.h), kept at exit.
  void RestoreWindowState();
  void SaveWindowStateNow();
  // Takes logind's shutdown lock while a task runs and the options ask for it.
  void HoldShutdown();

  CApplicationCore& m_core;
  RunRequestDesk m_requests;  // runs brevanto-run asks for while this window owns the folder
  FrameDialogs m_dialogs;
  MainActions* m_actions;
  CBrevantoTasksView* m_view;
  CTasksViewCommands* m_commands;
  TrayIcon* m_tray;
  RunMonitor* m_runs = nullptr;
  GlobalHotKey* m_hotKey;
  QMenu* m_viewMenu = nullptr;
  QMenu* m_contextMenu = nullptr;
  QMenu* m_trayMenu = nullptr;
  QToolButton* m_viewButton = nullptr;
  QLabel* m_clock = nullptr;
  QTimer m_clockTimer;
  ShutdownInhibitor m_inhibitor;
  // Why the lock was refused: not asked again (each ask waits on logind) until no task runs.
  std::string m_inhibitorProblem;
  bool m_shown = false;
  bool m_quitting = false;
  bool m_shutDown = false;
  bool m_inLogin = false;  // the login dialog is open
  // A restore behind the login is queued or being answered; the window system's echoes of
  // our own minimise/restore must not queue a second login.
  bool m_restorePending = false;
};

}  // namespace brevanto::ui
