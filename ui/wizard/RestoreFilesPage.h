#pragma once
// CRestoreFilesPage: the SQL files a restore runs, in order, and what it does on errors
// (the "SQL Files" tab), and the identity file that opens encrypted ones.

#include <vector>

#include "ui/wizard/TaskPage.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;

namespace brevanto::wizard {

// The list entry for a file: its name, full path, size and modification time. False
// when it is not a regular file that can be opened.
bool MakeRestoreFileItem(const std::string& path, RestoreFileItem& item);

class CRestoreFilesPage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CRestoreFilesPage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

  // Appends the files not yet listed that MakeRestoreFileItem accepts and names the
  // others in a warning.
  void AddFiles(const QStringList& paths);

 private:
  void FillList();
  void FitColumns();
  void Remove(bool all);
  void Move(int delta);

  std::vector<RestoreFileItem> m_files;
  QTreeWidget* m_list;
  QCheckBox* m_continueSql;
  QCheckBox* m_continueFile;
  QLineEdit* m_identity;
};

}  // namespace brevanto::wizard
