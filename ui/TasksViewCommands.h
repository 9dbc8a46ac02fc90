#pragma once
// The task commands of the main window's list: they read the selection, ask through
// Dialogs, call the task list's commands and put the selection where the user expects
// it afterwards. Also decides which commands are enabled. GUI thread only.

#include <vector>

#include <QObject>

#include "schedule/TaskCommands.h"
#include "ui/FrameDialogs.h"

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
  void Start();
  void Stop();
  void RunImmediately();
  void StartAll();
  void StopAll();
  void SelectAll();

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
};

}  // namespace brevanto::ui
