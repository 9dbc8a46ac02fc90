#pragma once
// CSelectTablesPage: the tables and views of the source database to copy, with the dump's
// content flags (the "Source Tables" tab of the database-to-database types).

#include "ui/wizard/ChooseDatabasesPage.h"

class QCheckBox;
class QListWidget;

namespace brevanto::wizard {

class CSelectTablesPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CSelectTablesPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  void FillList();
  void Refresh();
  // 0 checks every entry, 1 clears, 2 flips.
  void SetAll(int action);

  QListWidget* m_list;
  ContentFlags m_flags{};
  QCheckBox* m_newTables;
};

}  // namespace brevanto::wizard
