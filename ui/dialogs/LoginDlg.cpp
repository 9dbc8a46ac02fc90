#include "ui/dialogs/LoginDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "ui/Product.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"

namespace brevanto::ui {

CLoginDlg::CLoginDlg(std::string userName, std::string password, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      m_userName(std::move(userName)),
      m_password(std::move(password)),
      m_userEdit(Named(new QLineEdit(this), "loginUser")),
      m_passwordEdit(Named(new QLineEdit(this), "loginPassword")) {
  setObjectName("loginDialog");
  setWindowTitle(QStringLiteral("Login - ") + QString::fromLatin1(kWindowTitle));
  setWindowIcon(MakeIcon(IconRole::Program));
  m_passwordEdit->setEchoMode(QLineEdit::Password);

  auto* form = new QFormLayout;
  form->addRow(tr("Username"), m_userEdit);
  form->addRow(tr("Password"), m_passwordEdit);

  std::vector<QPushButton*> pushButtons;
  QHBoxLayout* buttons = ButtonRow(
      this, {{tr("O&K"), "ok"}, {tr("&Cancel"), "cancel"}, {tr("&Help"), "help"}}, pushButtons);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  setMinimumWidth(320);

  connect(pushButtons[0], &QPushButton::clicked, this, &CLoginDlg::accept);
  connect(pushButtons[1], &QPushButton::clicked, this, &CLoginDlg::reject);
  connect(pushButtons[2], &QPushButton::clicked, this,
          [] { HelpWindow::Open(QStringLiteral("::/introduction/userlogin.html")); });
}

// Called up by the hot key or a second start, the login must come to the front.
void CLoginDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  raise();
  activateWindow();
}

void CLoginDlg::accept() {
  if (FromQt(m_userEdit->text()) == m_userName && FromQt(m_passwordEdit->text()) == m_password) {
    QDialog::accept();
  } else {
    QDialog::reject();
  }
}

}  // namespace brevanto::ui
