#pragma once
// "Backup Files Settings...": how a backup to new files groups its output, names its files
// and expires old copies.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace brevanto::ui {
class CSpinEdit;
}

namespace brevanto {
struct BackupSettings;
}

namespace brevanto::wizard {

class CBackupFilesSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows `settings`; accept() stores into it. `settings` must outlive the dialog.
  CBackupFilesSettingsDialog(QWidget* parent, BackupSettings& settings);
  void accept() override;

 private:
  void Show(const BackupSettings& settings);
  void ChooseGrouping(int grouping);
  int Grouping() const;

  BackupSettings& m_settings;
  QRadioButton* m_grouping[3];
  QLineEdit* m_format;
  QCheckBox* m_subfolder;
  QCheckBox* m_keepDays;
  ui::CSpinEdit* m_days;
  QCheckBox* m_keepCopies;
  ui::CSpinEdit* m_copies;
};

}  // namespace brevanto::wizard
