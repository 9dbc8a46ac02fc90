#pragma once
// CChooseDatabasesPage: the source server's databases and their tables and views as a
// tree of check boxes, with the content flags of the dump (the "Databases and Tables"
// tab of the server-wide backup, copy and restore types).

#include "ui/wizard/TaskPage.h"

#include <functional>

class QBoxLayout;
class QCheckBox;
class QTreeWidget;
class QVBoxLayout;

namespace brevanto {
class Clock;
}

namespace brevanto::wizard {

// " (Table)" or " (View)" after a table's name, as the selection pages label it.
QString TableLabel(const TableItem& table);
// Reloads Context().Catalogue from the task's source server; false after the failure box.
bool ReloadCatalogue(QWidget* page, CSheetContext& context);

// What both selection pages share: the list beside a column of buttons, and the
// "Structure" and "Records" boxes with "Advanced Settings..." and "Advanced Options..." below.
QVBoxLayout* AddListWithButtons(QBoxLayout* layout, QWidget* list);
struct ContentFlags {
  QCheckBox* Structure;
  QCheckBox* Records;
};
// `task` is asked for the task being edited when a dialog opens.
// `clock` (the program's, when there is one) dates a key pair made in the options dialog.
ContentFlags AddContentFlags(QWidget* page, QBoxLayout* layout,
                             const std::function<CTaskItem&()>& task, Clock* clock);
void ShowContentFlags(const ContentFlags& flags, const BackupSettings& settings);
// Neither box checked: the warning, and false. Otherwise stores both and returns true.
bool StoreContentFlags(QWidget* page, const ContentFlags& flags, BackupSettings& settings);

class CChooseDatabasesPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CChooseDatabasesPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  void FillTree();
  void Refresh();
  void SelectAll();

  QTreeWidget* m_tree;
  ContentFlags m_flags{};
  QCheckBox* m_newTables;
  QCheckBox* m_newDatabases;
};

}  // namespace brevanto::wizard
