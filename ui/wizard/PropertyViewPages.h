#pragma once
// The read-only tabs of the properties sheet: a task's servers, selection, output,
// script, files and schedule, shown as the summary texts word them.

#include <vector>

#include <QString>

#include "tasks/TaskItem.h"

class QWidget;

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::wizard {

struct ViewTab {
  QString Title;
  QWidget* Page;  // unparented until added to the sheet
};

// The tabs after "Task Type", in the sheet's order for the task's type. `core` gives the
// date and time styles (defaults without it).
std::vector<ViewTab> MakeViewTabs(const CTaskItem& task, const CApplicationCore* core);

}  // namespace brevanto::wizard
