#include "ui/dialogs/SystemOptionsPage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Text.h"
#include "ui/dialogs/HotKeyEdit.h"
#include "ui/dialogs/Named.h"

namespace brevanto::ui {

CSystemOptionsPage::CSystemOptionsPage(const CSystemOptions& options, QWidget* parent)
    : QWidget(parent),
      m_user(Named(new QLineEdit(this), "loginUserName")),
      m_password(Named(new QLineEdit(this), "loginPassword")),
      m_hotKey(Named(new CHotKeyEdit(this), "hotKey")),
      m_autoRun(Named(
          new QCheckBox(tr("Auto run the program when the current user log in"), this),
          "autoRun")),
      m_blockShutdown(
          Named(new QCheckBox(tr("Disable shutdown/log off/suspend when a task running"), this),
                "blockShutdown")),
      m_date{Named(new QRadioButton(tr("Sat, Jan 1, 2005"), this), "dateStyle1"),
             Named(new QRadioButton(tr("Sat, 1 Jan, 2005"), this), "dateStyle2"),
             Named(new QRadioButton(tr("Sat, yyyy-mm-dd"), this), "dateStyle3")},
      m_time{Named(new QRadioButton(tr("20:20:20"), this), "timeStyle1"),
             Named(new QRadioButton(tr("08:20:20 P.M"), this), "timeStyle2")} {
  setObjectName("generalPage");
  m_password->setEchoMode(QLineEdit::Password);

  auto* login = new QGroupBox(tr("Software Login Protection"), this);
  auto* loginForm = new QFormLayout(login);
  loginForm->addRow(tr("Username"), m_user);
  loginForm->addRow(tr("Password"), m_password);

  auto* hotKey = new QGroupBox(tr("Hot Key"), this);
  (new QVBoxLayout(hotKey))->addWidget(m_hotKey);

  auto* date = new QGroupBox(tr("Date Format (for display)"), this);
  auto* dateLayout = new QVBoxLayout(date);
  for (QRadioButton* r : m_date) dateLayout->addWidget(r);
  auto* time = new QGroupBox(tr("Time Format (for display)"), this);
  auto* timeLayout = new QVBoxLayout(time);
  for (QRadioButton* r : m_time) timeLayout->addWidget(r);
  timeLayout->addStretch(1);

  auto* formats = new QHBoxLayout;
  formats->addWidget(date);
  formats->addWidget(time);

  auto* reset = Named(new QPushButton(tr("&Reset to default"), this), "resetGeneral");
  auto* resetRow = new QHBoxLayout;
  resetRow->addStretch(1);
  resetRow->addWidget(reset);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(login);
  layout->addWidget(hotKey);
  layout->addWidget(m_autoRun);
  layout->addWidget(m_blockShutdown);
  layout->addLayout(formats);
  layout->addStretch(1);
  layout->addLayout(resetRow);

  m_user->setText(ToQt(options.LoginUserName));
  m_password->setText(ToQt(options.LoginPassword));
  m_hotKey->SetHotKey(options.HotKeyVirtualKey, options.HotKeyModifiers);
  m_autoRun->setChecked(options.AutoRun != 0);
  m_blockShutdown->setChecked(options.BlockShutdownWhileRunning != 0);
  const int dateStyle = options.DateFormat == 2 || options.DateFormat == 3 ? options.DateFormat : 1;
  m_date[dateStyle - 1]->setChecked(true);
  m_time[options.TimeFormat == 2 ? 1 : 0]->setChecked(true);

  connect(reset, &QPushButton::clicked, this, &CSystemOptionsPage::ResetToDefault);
}

void CSystemOptionsPage::ResetToDefault() {
  const CSystemOptions defaults;
  m_user->clear();
  m_password->clear();
  m_autoRun->setChecked(false);
  m_blockShutdown->setChecked(false);
  m_hotKey->SetHotKey(defaults.HotKeyVirtualKey, defaults.HotKeyModifiers);
  m_date[0]->setChecked(true);
  m_time[0]->setChecked(true);
}

void CSystemOptionsPage::Store(CSystemOptions& options) const {
  options.LoginUserName = FromQt(m_user->text());
  options.LoginPassword =
      options.LoginUserName.empty() ? std::string() : FromQt(m_password->text());
  options.AutoRun = m_autoRun->isChecked() ? 1 : 0;
  options.BlockShutdownWhileRunning = m_blockShutdown->isChecked() ? 1 : 0;
  options.HotKeyVirtualKey = m_hotKey->VirtualKey();
  options.HotKeyModifiers = m_hotKey->Modifiers();
  options.DateFormat = m_date[1]->isChecked() ? 2 : m_date[2]->isChecked() ? 3 : 1;
  options.TimeFormat = m_time[1]->isChecked() ? 2 : 1;
}

}  // namespace brevanto::ui
