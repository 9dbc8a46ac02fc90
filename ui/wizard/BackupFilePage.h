#pragma once
// CBackupFilePage: where a backup to files writes: one file each time, or new files in a
// folder with the naming and expiry settings (the "Backup File" tab).

#include "ui/wizard/TaskPage.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace brevanto::wizard {

// A folder chosen in the folder browser; empty when cancelled (or when message boxes are
// scripted by a test).
QString ChooseFolder(QWidget* parent, const QString& title, const QString& start);
// The options' default backup folder, or "" without an application core.
std::string OptionsBackupFolder(const CSheetContext& context);

class CBackupFilePage : public CTaskPage {
  Q_OBJECT

 public:
  explicit CBackupFilePage(CSheetContext& context);
  void Load() override;
  bool Leave() override;

 private:
  void UpdateEnabled();
  void SwitchExtension();
  void Browse();

  QRadioButton* m_sql;
  QRadioButton* m_php;
  QCheckBox* m_unixLineEnds;
  QRadioButton* m_sameFile;
  QLineEdit* m_file;
  QPushButton* m_browse;
  QRadioButton* m_newFiles;
  QLineEdit* m_folder;
  QPushButton* m_chooseFolder;
  QPushButton* m_settings;
};

}  // namespace brevanto::wizard
