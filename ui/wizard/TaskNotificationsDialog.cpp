#include "ui/wizard/TaskNotificationsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "notify/TaskNotificationsSection.h"
#include "tasks/TaskItem.h"
#include "ui/Dialogs.h"
#include "ui/Text.h"
#include "ui/dialogs/Named.h"
#include "ui/dialogs/NotificationChoicesBox.h"

namespace brevanto::wizard {

using ui::FromQt;
using ui::Named;
using ui::ToQt;

CTaskNotificationsDialog::CTaskNotificationsDialog(QWidget* parent, CTaskItem& task,
                                                   const TaskNotifications& defaults)
    : QDialog(parent), m_task(task) {
  setObjectName(QStringLiteral("taskNotificationsDialog"));
  setWindowTitle(tr("Notifications"));
  const TaskNotifications own = FindTaskNotifications(task);
  m_useDefaults = Named(new QCheckBox(tr("Use the program's defaults (set in Options)"), this),
                        "useDefaultsCheck");
  // What the task would do now: its own choices over the defaults.
  m_choices = Named(new ui::CNotificationChoicesBox(tr("Notify about this task's runs"),
                                                    WithDefaults(own, defaults), this),
                    "taskNotificationChoices");
  m_useDefaults->setChecked(own.Empty());
  m_choices->setEnabled(!own.Empty());
  connect(m_useDefaults, &QCheckBox::toggled, m_choices, &QWidget::setDisabled);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_useDefaults);
  layout->addWidget(m_choices);
  auto* buttons = new QDialogButtonBox(this);
  connect(buttons->addButton(tr("O&K"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
          &QDialog::accept);
  connect(buttons->addButton(tr("&Cancel"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
          this, &QDialog::reject);
  layout->addWidget(buttons);
}

void CTaskNotificationsDialog::accept() {
  if (m_useDefaults->isChecked()) {
    SetTaskNotifications(m_task, TaskNotifications{});
    QDialog::accept();
    return;
  }
  if (const std::string problem = m_choices->Problem(); !problem.empty()) {
    ui::Dialogs::Warning(this, ToQt(problem));
    return;
  }
  SetTaskNotifications(m_task, m_choices->Choices());
  QDialog::accept();
}

QString TaskNotificationsSummary(const CTaskItem& task) {
  const TaskNotifications own = FindTaskNotifications(task);
  if (own.Empty()) return QObject::tr("Notifications: the program's defaults");
  auto flag = [](const std::optional<bool>& on) {
    return !on ? QObject::tr("default") : *on ? QObject::tr("yes") : QObject::tr("no");
  };
  auto text = [](const std::optional<std::string>& value) {
    return !value ? QObject::tr("default") : value->empty() ? QObject::tr("none") : ToQt(*value);
  };
  QStringList lines;
  lines << QObject::tr("Desktop notification on failure: %1, on success: %2")
               .arg(flag(own.Desktop), flag(own.DesktopOnSuccess))
        << QObject::tr("E-mail to: %1 (on failure: %2, on success: %3)")
               .arg(text(own.EmailTo), flag(own.EmailOnFailure), flag(own.EmailOnSuccess))
        << QObject::tr("Webhook: %1 (on failure: %2, on success: %3)")
               .arg(text(own.WebhookUrl), flag(own.WebhookOnFailure), flag(own.WebhookOnSuccess));
  return lines.join(QLatin1Char('\n'));
}

}  // namespace brevanto::wizard
