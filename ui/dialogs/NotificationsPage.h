#pragma once
// CNotificationsPage: the Options sheet's "Notifications" page: the SMTP server the
// e-mails go through and the defaults of every task. Edits a copy. GUI thread only.

#include <string>

#include <QWidget>

#include "notify/NotificationSettings.h"

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace brevanto::ui {

class CNotificationChoicesBox;

class CNotificationsPage : public QWidget {
  Q_OBJECT

 public:
  explicit CNotificationsPage(const CNotificationSettings& settings, QWidget* parent = nullptr);

  // The settings as edited.
  CNotificationSettings Settings() const;
  // Empty, or why the default addresses cannot be used.
  std::string Problem() const;

 private:
  CNotificationSettings m_settings;
  QLineEdit* m_server;
  QSpinBox* m_port;
  QComboBox* m_security;
  QLineEdit* m_user;
  QLineEdit* m_password;
  QLineEdit* m_sender;
  CNotificationChoicesBox* m_defaults;
};

}  // namespace brevanto::ui
