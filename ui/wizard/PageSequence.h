#pragma once
// The pages of each task type, in wizard and tab order.

#include <vector>

#include "ui/wizard/TaskPage.h"

namespace brevanto::wizard {

// The task-name page, the type's own pages and the schedule page, created as children of
// `parent` (the wizard adds its welcome and summary pages around them). An unknown type
// gets the pages of type 1.
std::vector<CTaskPage*> MakeTaskPages(CSheetContext& context, QWidget* parent);

}  // namespace brevanto::wizard
