#include "ui/wizard/TaskSheets.h"

#include "appcore/ApplicationCore.h"
#include "ui/dialogs/ServerDlg.h"
#include "ui/wizard/TaskPropertySheet.h"
#include "ui/wizard/TaskTypeChooser.h"
#include "ui/wizard/TaskWizardSheet.h"

namespace brevanto::wizard {

namespace {

CSheetContext MakeContext(CApplicationCore& core, std::shared_ptr<ServerBrowser> browser) {
  CSheetContext context;
  context.Core = &core;
  if (browser) context.Browser = std::move(browser);
  context.NewServer = [&core](QWidget* parent) -> std::optional<CServerInfo> {
    ui::CServerDlg editor(ui::ServerDlgMode::Add, CServerInfo(), core.Servers().Entries(), -1,
                          parent);
    if (editor.exec() != QDialog::Accepted) return std::nullopt;
    return editor.Server();
  };
  for (const CTaskItem& task : core.Tasks().Snapshot()) context.TaskNames.push_back(task.TaskName);
  return context;
}

}  // namespace

std::optional<CTaskItem> RunNewTask(QWidget* parent, CApplicationCore& core,
                                    std::shared_ptr<ServerBrowser> browser) {
  CTaskTypeChooser chooser(parent);
  if (chooser.exec() != QDialog::Accepted) return std::nullopt;
  CSheetContext context = MakeContext(core, std::move(browser));
  CTaskWizardSheet wizard(context, chooser.ChosenType(), parent);
  if (wizard.exec() != QDialog::Accepted) return std::nullopt;
  return context.Task;
}

bool RunEditTask(QWidget* parent, CApplicationCore& core, CTaskItem& task,
                 std::shared_ptr<ServerBrowser> browser) {
  CSheetContext context = MakeContext(core, std::move(browser));
  context.Mode = SheetMode::Edit;
  context.Task = task;
  // The name check skips the entry the copy was taken from: the equal one, else the one
  // with its key.
  const std::vector<CTaskItem> tasks = core.Tasks().Snapshot();
  for (int i = 0; i < static_cast<int>(tasks.size()) && context.EditIndex < 0; ++i) {
    if (tasks[i] == task) context.EditIndex = i;
  }
  for (int i = 0; i < static_cast<int>(tasks.size()) && context.EditIndex < 0; ++i) {
    if (!task.TaskKey.empty() && tasks[i].TaskKey == task.TaskKey) context.EditIndex = i;
  }
  CTaskPropertySheet sheet(context, parent);
  if (sheet.exec() != QDialog::Accepted) return false;
  task = context.Task;
  return true;
}

void ShowTaskProperties(QWidget* parent, CApplicationCore& core, const CTaskItem& task) {
  CSheetContext context = MakeContext(core, nullptr);
  context.Mode = SheetMode::View;
  context.Task = task;
  CTaskPropertySheet sheet(context, parent);
  sheet.exec();
}

}  // namespace brevanto::wizard
