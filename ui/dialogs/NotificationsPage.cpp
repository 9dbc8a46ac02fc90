#include "ui/dialogs/NotificationsPage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/Text.h"
#include "ui/dialogs/Named.h"
#include "ui/dialogs/NotificationChoicesBox.h"

namespace brevanto::ui {

CNotificationsPage::CNotificationsPage(const CNotificationSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_settings(settings),
      m_server(Named(new QLineEdit(ToQt(settings.SmtpServer), this), "smtpServer")),
      m_port(Named(new QSpinBox(this), "smtpPort")),
      m_security(Named(new QComboBox(this), "smtpSecurity")),
      m_user(Named(new QLineEdit(ToQt(settings.SmtpUser), this), "smtpUser")),
      m_password(Named(new QLineEdit(ToQt(settings.SmtpPassword), this), "smtpPassword")),
      m_sender(Named(new QLineEdit(ToQt(settings.Sender), this), "smtpSender")),
      m_defaults(Named(new CNotificationChoicesBox(tr("For every task, unless it says otherwise"),
                                                   settings.Defaults, this),
                       "defaultChoices")) {
  setObjectName("notificationsPage");
  m_port->setRange(1, 65535);
  m_port->setValue(settings.SmtpPort);
  // Items in SmtpSecurity order.
  m_security->addItems({tr("None"), tr("STARTTLS"), tr("TLS")});
  m_security->setCurrentIndex(static_cast<int>(settings.Security));
  m_password->setEchoMode(QLineEdit::Password);
  m_sender->setPlaceholderText(tr("the user name"));

  auto* smtp = new QGroupBox(tr("E-mail server (SMTP)"), this);
  auto* form = new QFormLayout(smtp);
  form->addRow(tr("Server"), m_server);
  form->addRow(tr("Port"), m_port);
  form->addRow(tr("Security"), m_security);
  form->addRow(tr("Username"), m_user);
  form->addRow(tr("Password"), m_password);
  form->addRow(tr("Sender address"), m_sender);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(smtp);
  layout->addWidget(m_defaults);
  layout->addStretch(1);
}

CNotificationSettings CNotificationsPage::Settings() const {
  CNotificationSettings settings = m_settings;
  settings.SmtpServer = FromQt(m_server->text().trimmed());
  settings.SmtpPort = m_port->value();
  settings.Security = static_cast<SmtpSecurity>(m_security->currentIndex());
  settings.SmtpUser = FromQt(m_user->text().trimmed());
  settings.SmtpPassword = FromQt(m_password->text());
  settings.Sender = FromQt(m_sender->text().trimmed());
  settings.Defaults = m_defaults->Choices();
  return settings;
}

std::string CNotificationsPage::Problem() const {
  return m_defaults->Problem();
}

}  // namespace brevanto::ui
