#pragma once
// CSystemOptionsPage: the "General" page of the Options sheet: the login, the hot key,
// autorun, the shutdown guard and the display styles. GUI thread only.

#include <QWidget>

#include "core/Options.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace brevanto::ui {

class CHotKeyEdit;

class CSystemOptionsPage : public QWidget {
  Q_OBJECT

 public:
  explicit CSystemOptionsPage(const CSystemOptions& options, QWidget* parent = nullptr);

  // Writes the page's fields into `options`. An empty user name clears the password.
  void Store(CSystemOptions& options) const;
  void ResetToDefault();

 private:
  QLineEdit* m_user;
  QLineEdit* m_password;
  CHotKeyEdit* m_hotKey;
  QCheckBox* m_autoRun;
  QCheckBox* m_blockShutdown;
  QRadioButton* m_date[3];
  QRadioButton* m_time[2];
};

}  // namespace brevanto::ui
