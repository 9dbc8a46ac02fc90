#pragma once
// CSQLScriptPage: the SQL script a task executes (the "SQL Script" tab).

#include "ui/wizard/TaskPage.h"

class QPlainTextEdit;

namespace brevanto::wizard {

class CSQLScriptPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CSQLScriptPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  void AddFromFile();

  QPlainTextEdit* m_script;
};

}  // namespace brevanto::wizard
