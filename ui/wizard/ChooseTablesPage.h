#pragma once
// CChooseTablesPage: the tables and views to export, moved from the source database's
// pool into the export list (the "Export Tables" tab).

#include <vector>

#include "ui/wizard/TaskPage.h"

class QComboBox;
class QListWidget;

namespace brevanto::wizard {

class CChooseTablesPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CChooseTablesPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  bool InExport(const std::string& database, const std::string& table) const;
  void FillDatabases();
  void FillSource();
  void FillExport();
  void MoveIn(bool all);
  void MoveOut(bool all);
  void Refresh();

  std::vector<TableItem> m_export;  // the export list, in order
  QComboBox* m_database;
  QListWidget* m_source;
  QListWidget* m_exportList;
};

}  // namespace brevanto::wizard
