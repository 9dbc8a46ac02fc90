#pragma once
// The task dialogs as the main window opens them: the type chooser with the wizard, the
// edit sheet and the properties sheet, over the application core's saved servers,
// options and task list.

#include <memory>
#include <optional>

#include "tasks/TaskItem.h"

class QWidget;

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::wizard {

class ServerBrowser;

// The chooser, then the wizard for the chosen type; the finished task or nothing.
// `browser` reaches the servers (null: the real MySQL servers).
std::optional<CTaskItem> RunNewTask(QWidget* parent, CApplicationCore& core,
                                    std::shared_ptr<ServerBrowser> browser = nullptr);
// The edit sheet on `task` (a copy of a list entry, found by its key for the name check).
// True on OK, with `task` holding the edit.
bool RunEditTask(QWidget* parent, CApplicationCore& core, CTaskItem& task,
                 std::shared_ptr<ServerBrowser> browser = nullptr);
// The read-only properties sheet; nothing shown there is kept.
void ShowTaskProperties(QWidget* parent, CApplicationCore& core, const CTaskItem& task);

}  // namespace brevanto::wizard
