#pragma once
// CTaskWizardSheet: the task wizard for one task type. It works on its own copy of a new
// task and hands it out only after Finish. UI thread only.

#include <vector>

#include <QWizard>

#include "ui/wizard/SheetContext.h"

namespace brevanto::wizard {

class CTaskPage;

class CTaskWizardSheet : public QWizard {
  Q_OBJECT

 public:
  // `context.Task` is replaced by a new task of `taskType` (of the first kind for a type
  // with none).
  CTaskWizardSheet(CSheetContext& context, int taskType, QWidget* parent = nullptr);

  // The pages after the welcome page, in step order (the last one is the summary).
  const std::vector<CTaskPage*>& Steps() const { return m_steps; }

 private:
  void ShowCaption(int id);

  CSheetContext& m_context;
  std::vector<CTaskPage*> m_steps;
};

}  // namespace brevanto::wizard
