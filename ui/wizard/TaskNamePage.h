#pragma once
// CTaskTypePage: the task's name and comment, with its type shown read-only (the wizard's
// first step and the "Task Type" tab).

#include "ui/wizard/TaskPage.h"

class QLineEdit;
class QPlainTextEdit;

namespace brevanto::wizard {

class CTaskTypePage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CTaskTypePage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  QLineEdit* m_name;
  QPlainTextEdit* m_comment;
  QLineEdit* m_type;
};

// The welcome step in front of the wizard's pages.
class CMainPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CMainPage(CSheetContext& context);
  void Load() override {}
  bool Leave() override { return true; }
};

}  // namespace brevanto::wizard
