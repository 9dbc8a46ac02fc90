#pragma once
// CTaskPropertySheet: a task's settings as tabs. In edit mode the tabs are the wizard's
// pages, checked when left and on OK; in view mode (the properties sheet) they show the
// settings read-only and nothing is handed back. UI thread only.

#include <vector>

#include <QDialog>

#include "ui/wizard/SheetContext.h"

class QTabWidget;

namespace brevanto::wizard {

class CTaskPage;

class CTaskPropertySheet : public QDialog {
  Q_OBJECT

 public:
  // `context.Task` holds the task; `context.Mode` is Edit or View.
  CTaskPropertySheet(CSheetContext& context, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return m_tabs; }
  void accept() override;

 private:
  void LeaveTab(int next);

  CSheetContext& m_context;
  QTabWidget* m_tabs;
  std::vector<CTaskPage*> m_pages;  // the checked tabs, by tab index (null for view tabs)
  int m_current = 0;
};

}  // namespace brevanto::wizard
