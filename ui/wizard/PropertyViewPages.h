#pragma once
// The read-only tabs of the properties sheet: a task's servers, selection, output,
// script, files and schedule, shown as the summary texts word them.

#include <vector>

#include <QString>

#include "tasks/TaskItem.h"
#include "tasks/TaskKinds.h"

class QWidget;

namespace brevanto {
class CApplicationCore;
}

namespace brevanto::wizard {

struct ViewTab {
  QString Title;
  QWidget* Page;  // unparented until added to the sheet
};

// The read-only tab of a wizard step, unparented; its Page is nullptr for a step no tab
// is registered for. The date and time styles are the options'.
ViewTab MakeStepView(WizardStep step, const CTaskItem& task, int dateStyle, int timeStyle);

// The tabs after "Task Type", in the sheet's order for the task's kind (the first kind's
// for a type with none). `core` gives the
// date and time styles (defaults without it).
std::vector<ViewTab> MakeViewTabs(const CTaskItem& task, const CApplicationCore* core);

}  // namespace brevanto::wizard
