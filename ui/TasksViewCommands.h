#pragma once
// The task commands of the main window's list: they read the selection, ask through
// Dialogs, call the task list's commands and put the selection where the user expects
// it afterwards. Also decides which commands are enabled. GUI thread only.

#include <functional>
#include <vector>

#include <QObject>

#include "schedule/TaskCommands.h"
#include "ui/FrameDialogs.h"
#include "ui/OffsiteRestoreDialogs.h"

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::ui {

class CBrevantoTasksView;
struct MainActions;

class CTasksViewCommands : public QObject {
  Q_OBJECT

 public:
  // REQUIRES: `core`, `view`, `dialogs` and `window` outlive this object.
  CTasksViewCommands(CApplicationCore& core, CBrevantoTasksView& view, const FrameDialogs& dialogs,
                     QWidget* window);

  void NewTask();
  void EditTask();
  void DeleteTasks();
  void DeleteAll();
  void CopyTasks();
  void RenameTask();
  void ViewLog();
  // Opens the log of the task in `row` (whatever is selected).
  void ViewLogOf(int row);
  void SaveAs();
  void LoadFrom();
  void Properties();
  // Restores a backup task's off-site copy: the copy, the server and database, a question;
  // then a restore task that reads the copy from the target is added and run.
  void RestoreOffsite();
  void Start();
  void Stop();
  void RunImmediately();
  void StartAll();
  void StopAll();
  void SelectAll();

  // Tests: runs the steps' dialogs instead of exec() (and may fill them in first).
  void SetDialogRunner(std::function<int(QDialog&)> run) { m_runDialog = std::move(run); }
  void SetCopyLister(CopyLister lister) { m_copyLister = std::move(lister); }

  // Enables each command for the current selection and task states.
  void UpdateActions(MainActions& actions) const;

 signals:
  // A task's log is being opened (its TaskKey).
  void logOpened(const QString& taskKey);

 private:
  std::vector<int> Selected() const;
  // The one selected row, or -1 after saying `problem` when not exactly one is selected.
  int SingleSelection(const char* problem) const;
  void RefreshRows(const std::vector<int>& rows);

  CApplicationCore& m_core;
  CBrevantoTasksView& m_view;
  const FrameDialogs& m_dialogs;
  QWidget* m_window;
  CTaskCommands m_commands;
  std::function<int(QDialog&)> m_runDialog;
  CopyLister m_copyLister;
};

}  // namespace brevanto::ui
