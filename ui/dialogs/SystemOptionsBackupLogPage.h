#pragma once
// CSystemOptionsBackupLogPage: the "Backup and Log" page of the Options sheet: the
// default backup folder and the task-log size limit. GUI thread only.

#include <string>

#include <QWidget>

#include "core/Options.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace brevanto::ui {

class CSpinEdit;

class CSystemOptionsBackupLogPage : public QWidget {
  Q_OBJECT

 public:
  // `applicationFolder` ends in "/"; "&Reset to default" proposes its "Data/" folder.
  CSystemOptionsBackupLogPage(const CSystemOptions& options, std::string applicationFolder,
                              QWidget* parent = nullptr);

  // Checks the size (saying what is wrong, with the focus on the field) and, when it is
  // acceptable, writes the folder and the limit into `options`. False leaves `options`
  // untouched.
  bool Store(CSystemOptions& options);
  // Only the check of Store: whether the page may be left.
  bool Validate();
  void ResetToDefault();
  void FocusSizeField();
  void Browse();

 private:
  void SetLimited(bool limited);

  const std::string m_applicationFolder;
  QLineEdit* m_folder;
  QRadioButton* m_unlimited;
  QRadioButton* m_maximum;
  CSpinEdit* m_size;
  QLabel* m_unit;
  QLabel* m_note;
};

}  // namespace brevanto::ui
