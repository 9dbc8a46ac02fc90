#include "ui/TasksViewCommands.h"

#include <QAction>

#include "appcore/ApplicationCore.h"
#include "core/ServerList.h"
#include "engines/OffsiteRestore.h"
#include "logs/TaskLog.h"
#include "remote/RemoteCopyFetch.h"
#include "schedule/TaskRunner.h"
#include "tasks/EncryptionOptions.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/LogViewer.h"
#include "ui/MainActions.h"
#include "ui/RenameTaskDialog.h"
#include "ui/TaskListModel.h"
#include "ui/TaskTexts.h"
#include "ui/Text.h"

namespace brevanto::ui {

namespace {

const char* const kChooseTaskItem = "Please choose a task item!";
const char* const kChooseTask = "Please choose a task!";
const char* const kTaskFileFilter = "Tasks Files(*.tsk)";

AskFunction AskThroughDialogs(QWidget* window) {
  return [window](const std::string& text, QuestionButtons buttons) {
    const QString question = ToQt(text);
    const ui::Answer answer = buttons == QuestionButtons::YesNo
                                  ? Dialogs::AskYesNo(window, question)
                                  : Dialogs::AskYesNoCancel(window, question);
    switch (answer) {
      case ui::Answer::Yes: return brevanto::Answer::Yes;
      case ui::Answer::No: return brevanto::Answer::No;
      default: return brevanto::Answer::Cancel;
    }
  };
}

bool IsScheduled(const CTaskItem& task) {
  return task.GetScheduleKind() != ScheduleKind::Manual;
}

}  // namespace

CTasksViewCommands::CTasksViewCommands(CApplicationCore& core, CBrevantoTasksView& view,
                                       const FrameDialogs& dialogs, QWidget* window)
    : QObject(window),
      m_core(core),
      m_view(view),
      m_dialogs(dialogs),
      m_window(window),
      m_commands(core.Runner(), core.TaskLog(), core, AskThroughDialogs(window)),
      m_runDialog([](QDialog& dialog) { return dialog.exec(); }),
      m_copyLister(StoreCopyLister()) {
  m_commands.StopWithoutWaiting();  // the row says "Stopping..." until the worker ends
  m_commands.TellSaveFailures(
      [window](const std::string& text) { Dialogs::Stop(window, ToQt(text)); });
}

std::vector<int> CTasksViewCommands::Selected() const {
  std::vector<int> rows;
  const int count = m_core.Tasks().Count();
  for (int row : m_view.SelectedRows()) {
    if (row < count) rows.push_back(row);
  }
  return rows;
}

int CTasksViewCommands::SingleSelection(const char* problem) const {
  const std::vector<int> rows = Selected();
  if (rows.size() == 1) return rows.front();
  Dialogs::Warning(m_window, tr(problem));
  return -1;
}

void CTasksViewCommands::RefreshRows(const std::vector<int>& rows) {
  for (int row : rows) m_view.RefreshRow(row);
}

void CTasksViewCommands::NewTask() {
  if (!m_dialogs.newTask) return;
  std::optional<CTaskItem> task = m_dialogs.newTask(m_window);
  if (!task) return;
  const int row = m_commands.CreateTask(std::move(*task));
  m_view.RefreshAll();
  m_view.ClearSelection();
  m_view.SelectRow(row, true);
}

void CTasksViewCommands::EditTask() {
  if (!m_dialogs.editTask) return;
  const int row = SingleSelection(kChooseTaskItem);
  if (row < 0) return;
  CTaskItem task = m_core.Tasks().At(row);
  if (task.GetStatus() != TaskStatus::Stop) {
    Dialogs::Warning(m_window, tr(kStopBeforeEdit));
    return;
  }
  if (!m_dialogs.editTask(m_window, task)) return;
  // The model refuses the edit of a task that is no longer stopped.
  if (!m_commands.ApplyEdit(row, task)) Dialogs::Warning(m_window, tr(kStopBeforeEdit));
  m_view.RefreshRow(row);
}

void CTasksViewCommands::DeleteTasks() {
  const std::vector<int> rows = Selected();
  if (rows.empty()) return;
  if (m_commands.DeleteTasks(rows)) m_view.RefreshAll();
}

void CTasksViewCommands::DeleteAll() {
  if (m_core.Tasks().Count() == 0) return;
  if (m_commands.DeleteAll()) m_view.RefreshAll();
}

void CTasksViewCommands::CopyTasks() {
  const std::vector<int> rows = Selected();
  if (rows.empty()) return;
  const std::vector<int> copies = m_commands.CopyTasks(rows);
  if (copies.empty()) return;
  m_view.RefreshAll();
  for (int row : rows) m_view.DeselectRow(row);
  for (int row : copies) m_view.SelectRow(row, false);
  m_view.ScrollToRow(copies.back());
}

void CTasksViewCommands::RenameTask() {
  const int row = SingleSelection(kChooseTask);
  if (row < 0) return;
  CTaskList& tasks = m_core.Tasks();
  const std::string key = tasks.At(row).TaskKey;
  auto nameTaken = [&tasks, row](const QString& name) {
    const std::string wanted = FromQt(name);
    for (int i = 0; i < tasks.Count(); ++i) {
      if (i != row && tasks.At(i).TaskName == wanted) return true;
    }
    return false;
  };
  RenameTaskDialog dialog(ToQt(tasks.At(row).TaskName), nameTaken, m_window);
  if (dialog.exec() != QDialog::Accepted) return;
  // The list cannot change under a modal dialog, but the key check costs nothing.
  if (tasks.At(row).TaskKey != key) return;
  const std::string name = FromQt(dialog.Name());
  tasks.Update(row, [&name](CTaskItem& task) { task.TaskName = name; });
  m_view.RefreshRow(row);
}

void CTasksViewCommands::ViewLog() {
  const int row = SingleSelection(kChooseTask);
  if (row < 0) return;
  ViewLogOf(row);
}

void CTasksViewCommands::ViewLogOf(int row) {
  if (row < 0 || row >= m_core.Tasks().Count()) return;
  const CTaskItem task = m_core.Tasks().At(row);
  emit logOpened(QString::fromStdString(task.TaskKey));
  const CSystemOptions& options = m_core.Options();
  CTaskLogViewer viewer(m_core.TaskLog(), task.TaskName, task.LogFileName, options.DateFormat,
                        options.TimeFormat, m_window);
  viewer.exec();
}

void CTasksViewCommands::SaveAs() {
  if (m_core.Tasks().Count() == 0) return;
  const QString path = Dialogs::SaveFileName(m_window, tr(kTaskFileFilter), "tsk");
  if (path.isEmpty()) return;
  if (m_core.Tasks().SaveTaskFile(FromQt(path))) {
    Dialogs::Information(m_window, tr("Save the task list to a task file successfully!"));
  } else {
    Dialogs::Stop(m_window, tr("Failed to save the task list to a task file!"));
  }
}

void CTasksViewCommands::LoadFrom() {
  const QString path = Dialogs::OpenFileName(m_window, tr(kTaskFileFilter));
  if (path.isEmpty()) return;
  if (Dialogs::AskYesNoCancel(m_window,
                              tr("Do you want to LOAD a new task list from the task file?\n\n"
                                 "The current task list will be overwrote.")) != Answer::Yes) {
    return;
  }
  m_view.PauseRefresh();
  const bool loaded = m_core.Runner().LoadTaskFile(FromQt(path));
  m_view.ClearSelection();
  m_view.RefreshAll();
  m_view.ResumeRefresh();
  if (loaded) {
    Dialogs::Information(m_window, tr("Load the task list from the file successfully!"));
  } else {
    Dialogs::Stop(m_window, tr("Failed to load the task list from the file!"));
  }
}

void CTasksViewCommands::Properties() {
  if (!m_dialogs.properties) return;
  const std::vector<int> rows = Selected();
  if (rows.size() != 1) return;
  m_dialogs.properties(m_window, m_core.Tasks().At(rows.front()));
}

void CTasksViewCommands::RestoreOffsite() {
  const std::vector<CTaskItem> backups = TasksWithOffsiteTarget(m_core.Tasks().Snapshot());
  if (backups.empty()) {
    Dialogs::Warning(m_window, tr("No backup task sends its copies off-site!"));
    return;
  }
  // The selected backup task comes first to mind.
  int preselected = 0;
  const std::vector<int> rows = Selected();
  if (rows.size() == 1) {
    const std::string key = m_core.Tasks().At(rows.front()).TaskKey;
    for (std::size_t i = 0; i < backups.size(); ++i) {
      if (backups[i].TaskKey == key) preselected = static_cast<int>(i);
    }
  }
  OffsiteCopyDialog copies(backups, preselected, m_copyLister, m_window);
  if (m_runDialog(copies) != QDialog::Accepted) return;
  const CTaskItem backup = copies.Backup();
  const RemoteCopy copy = copies.Copy();
  OffsiteTargetDialog target(m_core.Servers().Entries(), copy,
                             EncryptionOptionsOf(backup).IdentityFile, m_window);
  if (m_runDialog(target) != QDialog::Accepted) return;
  if (Dialogs::AskYesNo(m_window, OffsiteRestoreQuestion(backup, copy, target.Server(),
                                                         target.Database())) != Answer::Yes) {
    return;
  }
  CTaskItem restore = MakeOffsiteRestoreTask(backup, RemoteCopyName(copy), target.Server(),
                                             target.Database(), target.IdentityFile());
  const std::string base = restore.TaskName;
  for (int n = 2; m_core.Tasks().FindByName(restore.TaskName) >= 0; ++n) {
    restore.TaskName = base + " (" + std::to_string(n) + ")";
  }
  const int row = m_commands.CreateTaskAndRun(std::move(restore));
  m_view.RefreshAll();
  m_view.ClearSelection();
  m_view.SelectRow(row, true);
}

void CTasksViewCommands::Start() {
  const std::vector<int> rows = Selected();
  m_commands.Start(rows);
  RefreshRows(rows);
}

void CTasksViewCommands::Stop() {
  const std::vector<int> rows = Selected();
  m_commands.Stop(rows);
  RefreshRows(rows);
}

void CTasksViewCommands::RunImmediately() {
  const std::vector<int> rows = Selected();
  m_commands.RunImmediately(rows);
  RefreshRows(rows);
}

void CTasksViewCommands::StartAll() {
  if (m_commands.StartAll()) m_view.RefreshAll();
}

void CTasksViewCommands::StopAll() {
  if (m_commands.StopAll()) m_view.RefreshAll();
}

void CTasksViewCommands::SelectAll() {
  m_view.SelectAllRows();
}

void CTasksViewCommands::UpdateActions(MainActions& a) const {
  const CTaskList& tasks = m_core.Tasks();
  const std::vector<int> rows = Selected();
  const bool one = rows.size() == 1;
  const bool some = !rows.empty();
  const bool any = tasks.Count() > 0;
  bool canStart = false;
  bool canStop = false;
  bool canRun = false;
  for (int row : rows) {
    const CTaskItem task = tasks.At(row);
    const TaskStatus status = task.GetStatus();
    canStart = canStart || (status == TaskStatus::Stop && IsScheduled(task));
    canStop = canStop || status == TaskStatus::Waiting || status == TaskStatus::Running;
    canRun = canRun || status != TaskStatus::Running;
  }
  a.newTask->setEnabled(static_cast<bool>(m_dialogs.newTask));
  a.editTask->setEnabled(one && m_dialogs.editTask);
  a.properties->setEnabled(one && m_dialogs.properties);
  a.deleteTasks->setEnabled(some);
  a.deleteAll->setEnabled(any);
  a.copyTasks->setEnabled(some);
  a.renameTask->setEnabled(one);
  a.viewLog->setEnabled(one);
  a.saveAs->setEnabled(any && m_view.Model()->rowCount() > 0);
  a.start->setEnabled(canStart);
  a.stop->setEnabled(canStop);
  a.runNow->setEnabled(canRun);
  a.startAll->setEnabled(m_commands.CanStartAll());
  a.stopAll->setEnabled(m_commands.CanStopAll());
  a.selectAll->setEnabled(any);
}

}  // namespace brevanto::ui
