#pragma once
// The pages of each task kind, in wizard and tab order: one page per wizard step
// (tasks/TaskKinds.h), the same page for every kind whose steps name it.

#include <vector>

#include "tasks/TaskKinds.h"
#include "ui/wizard/TaskPage.h"

namespace brevanto::wizard {

// The kind whose pages a task type shows: its own, or the first kind's for a type with
// none.
const TaskKind& ShownKind(int taskType);

// The page of a wizard step, unparented; nullptr for a step no page is registered for.
CTaskPage* MakeStepPage(WizardStep step, CSheetContext& context);

// The task-name page, the pages of the type's steps and the schedule page, created as
// children of `parent` (the wizard adds its welcome and summary pages around them).
std::vector<CTaskPage*> MakeTaskPages(CSheetContext& context, QWidget* parent);

}  // namespace brevanto::wizard
