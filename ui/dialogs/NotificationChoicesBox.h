#pragma once
// The group of controls that says when a task calls for help: desktop notification,
// e-mail and webhook, each on failure and on success. Used for the program-wide defaults
// and for a task's own settings. GUI thread only.

#include <QGroupBox>

#include "notify/NotificationSettings.h"

class QCheckBox;
class QLineEdit;

namespace brevanto::ui {

class CNotificationChoicesBox : public QGroupBox {
  Q_OBJECT

 public:
  // Shows `choices` (an unset field shows as empty or off).
  CNotificationChoicesBox(const QString& title, const TaskNotifications& choices,
                          QWidget* parent = nullptr);

  // Every field set from the controls.
  TaskNotifications Choices() const;

 private:
  QCheckBox* m_desktop;
  QCheckBox* m_desktopOnSuccess;
  QLineEdit* m_emailTo;
  QCheckBox* m_emailOnFailure;
  QCheckBox* m_emailOnSuccess;
  QLineEdit* m_webhookUrl;
  QCheckBox* m_webhookOnFailure;
  QCheckBox* m_webhookOnSuccess;
};

}  // namespace brevanto::ui
