// Every wizard step a task kind names has its page and its read-only tab: a step whose
// registration was forgotten would otherwise show up as a crash when its sheet opens.

#include <memory>

#include <gtest/gtest.h>

#include <QWidget>

#include "tasks/TaskKinds.h"
#include "ui/wizard/PageSequence.h"
#include "ui/wizard/PropertyViewPages.h"
#include "ui/wizard/SheetContext.h"

namespace brevanto::wizard {
namespace {

TEST(PageSequenceTest, EveryStepOfEveryKindHasAPageAndAViewTab) {
  for (const TaskKind& kind : TaskKinds()) {
    SCOPED_TRACE(kind.Name);
    CSheetContext context;
    context.Task.TaskType = static_cast<std::uint8_t>(kind.Type);
    for (const WizardStep step : kind.Steps) {
      SCOPED_TRACE(static_cast<int>(step));
      std::unique_ptr<CTaskPage> page(MakeStepPage(step, context));
      EXPECT_NE(page, nullptr);
      const ViewTab tab = MakeStepView(step, context.Task, 1, 1);
      std::unique_ptr<QWidget> view(tab.Page);
      EXPECT_NE(view, nullptr);
      EXPECT_FALSE(tab.Title.isEmpty());
    }
  }
}

}  // namespace
}  // namespace brevanto::wizard
