#include "ui/MainActions.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include "ui/Icons.h"

namespace brevanto::ui {

namespace {

QAction* Make(QWidget* owner, const char* name, const QString& text, const QString& prompt,
              const QString& tip, const QKeySequence& shortcut = QKeySequence()) {
  auto* action = new QAction(text, owner);
  action->setObjectName(QString::fromLatin1(name));
  action->setStatusTip(prompt);
  action->setToolTip(tip);
  if (!shortcut.isEmpty()) {
    action->setShortcut(shortcut);
    // Shortcuts work while the window has the focus, whichever of its widgets has it.
    action->setShortcutContext(Qt::WindowShortcut);
    owner->addAction(action);
  }
  return action;
}

QAction* WithIcon(QAction* action, IconRole role) {
  action->setIcon(MakeIcon(role));
  return action;
}

}  // namespace

MainActions::MainActions(QWidget* o) {
  newTask = WithIcon(
      Make(o, "actionNewTask", QObject::tr("&New Task..."), QObject::tr("Creates a new task"),
           QObject::tr("New Task"), QKeySequence(Qt::CTRL | Qt::Key_N)),
      IconRole::NewTask);
  editTask = WithIcon(Make(o, "actionEditTask", QObject::tr("&Edit Task..."),
                           QObject::tr("Edits the selected task"), QObject::tr("Edit Task")),
                      IconRole::EditTask);
  deleteTasks = WithIcon(Make(o, "actionDeleteTasks", QObject::tr("&Delete Task(s)"),
                              QObject::tr("Deletes the selected task(s)"),
                              QObject::tr("Delete Task(s)"), QKeySequence(Qt::Key_Delete)),
                         IconRole::DeleteTask);
  deleteAll = Make(o, "actionDeleteAll", QObject::tr("Delete All"),
                   QObject::tr("Deletes all tasks from the list"), QObject::tr("Delete All"));
  copyTasks = Make(o, "actionCopyTasks", QObject::tr("&Copy Task(s)"),
                   QObject::tr("Creates some new tasks by copies"), QObject::tr("Copy Task(s)"));
  // The list's context menu words the same command without a mnemonic.
  contextCopyTasks =
      Make(o, "actionContextCopyTasks", QObject::tr("Copy Task(s)"),
           QObject::tr("Creates some new tasks by copies"), QObject::tr("Copy Task(s)"));
  QObject::connect(contextCopyTasks, &QAction::triggered, copyTasks, &QAction::trigger);
  QObject::connect(copyTasks, &QAction::enabledChanged, contextCopyTasks, &QAction::setEnabled);
  renameTask = Make(o, "actionRenameTask", QObject::tr("Rena&me Task"),
                    QObject::tr("Renames the selected task"), QObject::tr("Rename Task"),
                    QKeySequence(Qt::Key_F2));
  viewLog =
      WithIcon(Make(o, "actionViewLog", QObject::tr("View &Log..."),
                    QObject::tr("Views the log of the selected task"), QObject::tr("View Log")),
               IconRole::ViewLog);
  saveAs = Make(o, "actionSaveAs", QObject::tr("Save &As..."),
                QObject::tr("Saves the task list to file"), QObject::tr("Save As"),
                QKeySequence(Qt::CTRL | Qt::Key_S));
  loadFrom = Make(o, "actionLoadFrom", QObject::tr("Load &From..."),
                  QObject::tr("Loads the task list from file"), QObject::tr("Load From"),
                  QKeySequence(Qt::CTRL | Qt::Key_L));
  properties = WithIcon(
      Make(o, "actionProperties", QObject::tr("&Properties"),
           QObject::tr("Displays the properties of the selected task"), QObject::tr("Properties")),
      IconRole::Properties);
  restoreOffsite = Make(o, "actionRestoreOffsite", QObject::tr("Restore &Off-site Copy..."),
                        QObject::tr("Restores a backup task's off-site copy into a database"),
                        QObject::tr("Restore Off-site Copy"));
  exit = Make(o, "actionExit", QObject::tr("E&xit"), QObject::tr("Quit the application"),
              QObject::tr("Exit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
  exit->setMenuRole(QAction::QuitRole);

  start = WithIcon(Make(o, "actionStart", QObject::tr("&Start"),
                        QObject::tr("Starts the selected task(s)"), QObject::tr("Start")),
                   IconRole::Start);
  stop = WithIcon(Make(o, "actionStop", QObject::tr("S&top"),
                       QObject::tr("Stops the selected task(s)"), QObject::tr("Stop")),
                  IconRole::Stop);
  runNow = WithIcon(Make(o, "actionRunNow", QObject::tr("&Run Immediately"),
                         QObject::tr("Runs the selected task(s) immediately"),
                         QObject::tr("Run Immediately"), QKeySequence(Qt::Key_F5)),
                    IconRole::RunNow);
  startAll = Make(o, "actionStartAll", QObject::tr("Start All"),
                  QObject::tr("Starts all tasks in the list"), QObject::tr("Start All"));
  stopAll = Make(o, "actionStopAll", QObject::tr("Stop All"),
                 QObject::tr("Stops all tasks in the list"), QObject::tr("Stop All"));
  selectAll = Make(o, "actionSelectAll", QObject::tr("Select All"),
                   QObject::tr("Selects all tasks in the list"), QObject::tr("Select All"),
                   QKeySequence(Qt::CTRL | Qt::Key_A));

  servers = Make(o, "actionServers", QObject::tr("&MySQL Servers..."),
                 QObject::tr("Manages the MySQL servers"), QObject::tr("Hosts..."));
  options =
      WithIcon(Make(o, "actionOptions", QObject::tr("&Options..."), QObject::tr("Changes options"),
                    QObject::tr("Options..."), QKeySequence(Qt::CTRL | Qt::Key_O)),
               IconRole::Options);
  options->setMenuRole(QAction::PreferencesRole);

  viewModes = new QActionGroup(o);
  viewModes->setExclusive(true);
  auto viewMode = [&](const char* name, const QString& text, const QString& prompt,
                      const QString& tip) {
    QAction* action = Make(o, name, text, prompt, tip);
    action->setCheckable(true);
    viewModes->addAction(action);
    return action;
  };
  largeIcons =
      viewMode("actionLargeIcons", QObject::tr("Lar&ge Icons"),
               QObject::tr("Displays items by using large icons"), QObject::tr("Large Icons"));
  smallIcons =
      viewMode("actionSmallIcons", QObject::tr("&Small Icons"),
               QObject::tr("Displays items by using small icons"), QObject::tr("Small Icons"));
  list = viewMode("actionList", QObject::tr("&List"), QObject::tr("Displays items in a list"),
                  QObject::tr("List"));
  details = viewMode("actionDetails", QObject::tr("&Details"),
                     QObject::tr("Displays information about each item"), QObject::tr("Details"));
  details->setChecked(true);

  // The blanks are part of the caption: they set the item off from its F1.
  userManual = Make(o, "actionUserManual", QObject::tr("&User Manual      "),
                    QObject::tr("Displays the online user manual"), QObject::tr("User Manual"),
                    QKeySequence(Qt::Key_F1));
  tipOfTheDay = Make(o, "actionTipOfTheDay", QObject::tr("Ti&p of the Day"),
                     QObject::tr("Displays a Tip of the Day"), QObject::tr("Tip of the Day"));
  webSite = Make(o, "actionWebSite", QObject::tr("&Web Site"),
                 QObject::tr("Opens the product web site"), QObject::tr("Web Site"));
  supportPage = Make(o, "actionSupportPage", QObject::tr("Support Pa&ge"),
                     QObject::tr("Opens the product support page."), QObject::tr("Support Page"));
  supportEmail = Make(o, "actionSupportEmail", QObject::tr("Support &E-mail"),
                      QObject::tr("Sends an email to developer"), QObject::tr("E-Mail"));
  about = Make(o, "actionAbout", QObject::tr("&About..."), QString(), QObject::tr("About"));
  about->setMenuRole(QAction::AboutRole);

  show = Make(o, "actionShow", QObject::tr("Sho&w"), QObject::tr("Shows the main window"),
              QObject::tr("Show"));
  QFont bold = show->font();
  bold.setBold(true);
  show->setFont(bold);
  trayOptions = Make(o, "actionTrayOptions", QObject::tr("&Options..."),
                     QObject::tr("Changes options"), QObject::tr("Options..."));
  trayUserManual = Make(o, "actionTrayUserManual", QObject::tr("&User Manual"),
                        QObject::tr("Displays the online user manual"), QObject::tr("User Manual"));
  trayExit = Make(o, "actionTrayExit", QObject::tr("E&xit"), QObject::tr("Quit the application"),
                  QObject::tr("Exit"));
  QObject::connect(trayOptions, &QAction::triggered, options, &QAction::trigger);
  QObject::connect(trayUserManual, &QAction::triggered, userManual, &QAction::trigger);
  QObject::connect(trayExit, &QAction::triggered, exit, &QAction::trigger);
  QObject::connect(options, &QAction::enabledChanged, trayOptions, &QAction::setEnabled);
}

void MainActions::FillMenuBar(QMenuBar* bar, QMenu* viewMenu) const {
  QMenu* tasks = bar->addMenu(QObject::tr("&Tasks"));
  tasks->setObjectName("menuTasks");
  tasks->addActions({newTask, editTask, deleteTasks, deleteAll, copyTasks, renameTask});
  tasks->addSeparator();
  tasks->addAction(viewLog);
  tasks->addSeparator();
  tasks->addActions({saveAs, loadFrom});
  tasks->addSeparator();
  tasks->addAction(properties);
  tasks->addSeparator();
  tasks->addAction(restoreOffsite);
  tasks->addSeparator();
  tasks->addAction(exit);

  QMenu* run = bar->addMenu(QObject::tr("&Run"));
  run->setObjectName("menuRun");
  run->addActions({start, stop, runNow});
  run->addSeparator();
  run->addActions({startAll, stopAll});
  run->addSeparator();
  run->addAction(selectAll);

  QMenu* tools = bar->addMenu(QObject::tr("Too&ls"));
  tools->setObjectName("menuTools");
  tools->addAction(servers);
  tools->addSeparator();
  tools->addAction(options);

  bar->addMenu(viewMenu);

  QMenu* help = bar->addMenu(QObject::tr("&Help"));
  help->setObjectName("menuHelp");
  help->addAction(userManual);
  help->addSeparator();
  help->addAction(tipOfTheDay);
  help->addSeparator();
  help->addActions({webSite, supportPage, supportEmail});
  help->addSeparator();
  help->addAction(about);
}

QMenu* MainActions::MakeViewMenu(QWidget* parent) const {
  auto* menu = new QMenu(QObject::tr("&View"), parent);
  menu->setObjectName("menuView");
  menu->addActions({largeIcons, smallIcons, list, details});
  return menu;
}

QMenu* MainActions::MakeContextMenu(QWidget* parent) const {
  auto* menu = new QMenu(parent);
  menu->setObjectName("listContextMenu");
  menu->addActions({newTask, editTask, deleteTasks, deleteAll, contextCopyTasks, renameTask});
  menu->addSeparator();
  menu->addActions({start, stop, runNow, startAll, stopAll});
  menu->addSeparator();
  menu->addAction(selectAll);
  menu->addSeparator();
  menu->addAction(viewLog);
  menu->addSeparator();
  menu->addActions({saveAs, loadFrom});
  menu->addSeparator();
  menu->addMenu(MakeViewMenu(menu));
  menu->addSeparator();
  menu->addAction(properties);
  return menu;
}

void MainActions::FillTrayMenu(QMenu* menu, bool loginConfigured) const {
  menu->clear();
  menu->addAction(show);
  menu->setDefaultAction(show);
  if (loginConfigured) return;
  menu->addSeparator();
  menu->addAction(trayOptions);
  menu->addSeparator();
  menu->addAction(trayUserManual);
  menu->addSeparator();
  menu->addAction(trayExit);
}

void MainActions::FillToolBar(QToolBar* bar) const {
  bar->addActions({newTask, editTask, deleteTasks, properties});
  bar->addSeparator();
  bar->addActions({start, stop, runNow});
  bar->addSeparator();
  bar->addAction(viewLog);
  bar->addSeparator();
  bar->addAction(options);
  bar->addSeparator();
}

}  // namespace brevanto::ui
