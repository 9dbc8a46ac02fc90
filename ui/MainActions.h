#pragma once
// Every command of the main window as a QAction with its caption, shortcut, status-bar
// prompt and tooltip, and the menus built from them. Owned by the main window.

#include <QObject>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

namespace brevanto::ui {

struct MainActions {
  explicit MainActions(QWidget* owner);

  // Tasks
  QAction* newTask;
  QAction* editTask;
  QAction* deleteTasks;
  QAction* deleteAll;
  QAction* copyTasks;
  QAction* contextCopyTasks;  // the context menu's "Copy Task(s)"; follows copyTasks
  QAction* renameTask;
  QAction* viewLog;
  QAction* saveAs;
  QAction* loadFrom;
  QAction* properties;
  QAction* restoreOffsite;
  QAction* exit;
  // Run
  QAction* start;
  QAction* stop;
  QAction* runNow;
  QAction* startAll;
  QAction* stopAll;
  QAction* selectAll;
  // Tools
  QAction* servers;
  QAction* options;
  // View (exclusive)
  QActionGroup* viewModes;
  QAction* largeIcons;
  QAction* smallIcons;
  QAction* list;
  QAction* details;
  // Help
  QAction* userManual;
  QAction* tipOfTheDay;
  QAction* webSite;
  QAction* supportPage;
  QAction* supportEmail;
  QAction* about;
  // Notification menu
  QAction* show;
  QAction* trayOptions;
  QAction* trayUserManual;
  QAction* trayExit;

  void FillMenuBar(QMenuBar* bar, QMenu* viewMenu) const;
  QMenu* MakeViewMenu(QWidget* parent) const;
  QMenu* MakeContextMenu(QWidget* parent) const;
  // The tray menu: Show alone when a login guards the window.
  void FillTrayMenu(QMenu* menu, bool loginConfigured) const;
  // The toolbar up to the View button (which the window adds).
  void FillToolBar(QToolBar* bar) const;
};

}  // namespace brevanto::ui
