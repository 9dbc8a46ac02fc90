#pragma once
// CTaskPage: one group of task settings, shown as a wizard step or as a tab of the edit
// sheet. A page fills itself from the sheet's task copy and, when left, checks its input
// and stores it back. UI thread only.

#include <QString>
#include <QWidget>

#include "ui/wizard/SheetContext.h"

namespace brevanto::wizard {

class CTaskPage : public QWidget {
  Q_OBJECT

 public:
  // `context` belongs to the sheet and outlives the page.
  CTaskPage(CSheetContext& context, QString tabTitle);
  ~CTaskPage() override;

  // The tab caption in the edit and properties sheets.
  const QString& TabTitle() const { return m_title; }
  // Fills the controls from the task copy (and the catalogue).
  virtual void Load() = 0;
  // Checks the input; on success stores it into the task copy. False keeps the page,
  // after showing why with the focus on the field concerned.
  virtual bool Leave() = 0;

 protected:
  CSheetContext& Context() { return m_context; }
  CTaskItem& Task() { return m_context.Task; }
  void SetTabTitle(const QString& title) { m_title = title; }

 private:
  CSheetContext& m_context;
  QString m_title;
};

}  // namespace brevanto::wizard
