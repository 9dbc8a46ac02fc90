#pragma once
// CTaskDetailsPage: the wizard's last step, the summary of the task about to be created.

#include "ui/wizard/TaskPage.h"

class QPlainTextEdit;

namespace brevanto::wizard {

class CTaskDetailsPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CTaskDetailsPage(CSheetContext& context);
  void Load() override;
  bool Leave() override { return true; }

 private:
  QPlainTextEdit* m_summary;
};

}  // namespace brevanto::wizard
