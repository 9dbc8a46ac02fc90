#pragma once
// CLoginDlg: "Login - Brevanto Standard Edition", the login that guards the main window
// when the options hold one. It stays above every window and ends with OK only when both
// the user name and the password match exactly; a mismatch ends it as cancelled without
// saying why. GUI thread only.

#include <string>

#include <QDialog>

class QLineEdit;

namespace brevanto::ui {

class CLoginDlg : public QDialog {
  Q_OBJECT

 public:
  CLoginDlg(std::string userName, std::string password, QWidget* parent = nullptr);

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const std::string m_userName;
  const std::string m_password;
  QLineEdit* m_userEdit;
  QLineEdit* m_passwordEdit;
};

}  // namespace brevanto::ui
