#include "ui/dialogs/NotificationChoicesBox.h"

#include <tuple>

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "notify/NotificationTargetCheck.h"
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
  // Room for a few addresses or a whole hook URL, wherever the box is shown.
  for (QLineEdit* field : {m_emailTo, m_webhookUrl}) {
    field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 40);
  }

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
  m_email = {m_emailTo, m_emailOnFailure, m_emailOnSuccess, choices.EmailOnFailure.value_or(false),
             choices.EmailOnSuccess.value_or(false)};
  m_webhook = {m_webhookUrl, m_webhookOnFailure, m_webhookOnSuccess,
               choices.WebhookOnFailure.value_or(false), choices.WebhookOnSuccess.value_or(false)};
  m_emailTo->setText(ToQt(choices.EmailTo.value_or("")));
  m_webhookUrl->setText(ToQt(choices.WebhookUrl.value_or("")));
  for (Channel* channel : {&m_email, &m_webhook}) {
    channel->onFailure->setChecked(channel->heldOnFailure);
    channel->onSuccess->setChecked(channel->heldOnSuccess);
    FollowAddress(*channel);
    connect(channel->address, &QLineEdit::textChanged, this,
            [this, channel] { FollowAddress(*channel); });
  }
}

void CNotificationChoicesBox::FollowAddress(Channel& channel) {
  const bool hasAddress = !channel.address->text().trimmed().isEmpty();
  if (!channel.dormant && !hasAddress) {
    std::tie(channel.heldOnFailure, channel.heldOnSuccess) =
        std::pair(channel.onFailure->isChecked(), channel.onSuccess->isChecked());
    channel.onFailure->setChecked(false);
    channel.onSuccess->setChecked(false);
  } else if (channel.dormant && hasAddress) {
    channel.onFailure->setChecked(channel.heldOnFailure);
    channel.onSuccess->setChecked(channel.heldOnSuccess);
  }
  channel.dormant = !hasAddress;
  channel.onFailure->setEnabled(hasAddress);
  channel.onSuccess->setEnabled(hasAddress);
}

std::pair<bool, bool> CNotificationChoicesBox::Flags(const Channel& channel) {
  if (channel.dormant) return {channel.heldOnFailure, channel.heldOnSuccess};
  return {channel.onFailure->isChecked(), channel.onSuccess->isChecked()};
}

TaskNotifications CNotificationChoicesBox::Choices() const {
  TaskNotifications choices;
  choices.Desktop = m_desktop->isChecked();
  choices.DesktopOnSuccess = m_desktopOnSuccess->isChecked();
  choices.EmailTo = FromQt(m_emailTo->text().trimmed());
  std::tie(choices.EmailOnFailure, choices.EmailOnSuccess) = Flags(m_email);
  choices.WebhookUrl = FromQt(m_webhookUrl->text().trimmed());
  std::tie(choices.WebhookOnFailure, choices.WebhookOnSuccess) = Flags(m_webhook);
  return choices;
}

std::string CNotificationChoicesBox::Problem() const {
  const TaskNotifications choices = Choices();
  std::string problem = EmailListProblem(choices.EmailTo.value_or(""));
  if (!problem.empty()) return problem;
  const std::string url = WebhookUrlProblem(choices.WebhookUrl.value_or(""));
  return url.empty() ? std::string() : "The webhook URL " + url + ".";
}

}  // namespace brevanto::ui
