#include "ui/dialogs/NotificationChoicesBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "ui/Text.h"
#include "ui/dialogs/Named.h"

namespace brevanto::ui {

CNotificationChoicesBox::CNotificationChoicesBox(const QString& title,
                                                 const TaskNotifications& choices,
                                                 QWidget* parent)
    : QGroupBox(title, parent),
      m_desktop(Named(new QCheckBox(tr("When a run fails"), this), "desktopOnFailure")),
      m_desktopOnSuccess(Named(new QCheckBox(tr("When it succeeds"), this), "desktopOnSuccess")),
      m_emailTo(Named(new QLineEdit(this), "emailTo")),
      m_emailOnFailure(Named(new QCheckBox(tr("When a run fails"), this), "emailOnFailure")),
      m_emailOnSuccess(Named(new QCheckBox(tr("When it succeeds"), this), "emailOnSuccess")),
      m_webhookUrl(Named(new QLineEdit(this), "webhookUrl")),
      m_webhookOnFailure(Named(new QCheckBox(tr("When a run fails"), this), "webhookOnFailure")),
      m_webhookOnSuccess(Named(new QCheckBox(tr("When it succeeds"), this), "webhookOnSuccess")) {
  m_emailTo->setPlaceholderText(tr("name@example.org; other@example.org"));
  m_webhookUrl->setPlaceholderText(tr("https://chat.example.org/hooks/..."));

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(tr("Desktop notification"), this), 0, 0);
  grid->addWidget(m_desktop, 0, 2);
  grid->addWidget(m_desktopOnSuccess, 0, 3);
  grid->addWidget(new QLabel(tr("E-mail to"), this), 1, 0);
  grid->addWidget(m_emailTo, 1, 1);
  grid->addWidget(m_emailOnFailure, 1, 2);
  grid->addWidget(m_emailOnSuccess, 1, 3);
  grid->addWidget(new QLabel(tr("Webhook URL"), this), 2, 0);
  grid->addWidget(m_webhookUrl, 2, 1);
  grid->addWidget(m_webhookOnFailure, 2, 2);
  grid->addWidget(m_webhookOnSuccess, 2, 3);
  grid->setColumnStretch(1, 1);

  m_desktop->setChecked(choices.Desktop.value_or(false));
  m_desktopOnSuccess->setChecked(choices.DesktopOnSuccess.value_or(false));
  m_emailTo->setText(ToQt(choices.EmailTo.value_or("")));
  m_emailOnFailure->setChecked(choices.EmailOnFailure.value_or(false));
  m_emailOnSuccess->setChecked(choices.EmailOnSuccess.value_or(false));
  m_webhookUrl->setText(ToQt(choices.WebhookUrl.value_or("")));
  m_webhookOnFailure->setChecked(choices.WebhookOnFailure.value_or(false));
  m_webhookOnSuccess->setChecked(choices.WebhookOnSuccess.value_or(false));
}

TaskNotifications CNotificationChoicesBox::Choices() const {
  TaskNotifications choices;
  choices.Desktop = m_desktop->isChecked();
  choices.DesktopOnSuccess = m_desktopOnSuccess->isChecked();
  choices.EmailTo = FromQt(m_emailTo->text().trimmed());
  choices.EmailOnFailure = m_emailOnFailure->isChecked();
  choices.EmailOnSuccess = m_emailOnSuccess->isChecked();
  choices.WebhookUrl = FromQt(m_webhookUrl->text().trimmed());
  choices.WebhookOnFailure = m_webhookOnFailure->isChecked();
  choices.WebhookOnSuccess = m_webhookOnSuccess->isChecked();
  return choices;
}

}  // namespace brevanto::ui
