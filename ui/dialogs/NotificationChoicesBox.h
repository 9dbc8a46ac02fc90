#pragma once
// The group of controls that says when a task calls for help: desktop notification,
// e-mail and webhook, each on failure and on success. Used for the program-wide defaults
// and for a task's own settings. An e-mail or webhook choice means nothing without its
// address: its boxes are off and disabled while the address is empty, and what they held
// comes back (and is what Choices() keeps) once one is typed, so a state the box shows is
// never one a dialog must refuse. GUI thread only.

#include <string>
#include <utility>

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

  // Empty, or why the addresses cannot be used (for a warning box).
  std::string Problem() const;

 private:
  struct Channel {
    QLineEdit* address;
    QCheckBox* onFailure;
    QCheckBox* onSuccess;
    bool heldOnFailure = false;  // the choices kept while the address is empty
    bool heldOnSuccess = false;
    bool dormant = false;  // no address: the boxes show off and the held choices count
  };
  void FollowAddress(Channel& channel);
  static std::pair<bool, bool> Flags(const Channel& channel);


  QCheckBox* m_desktop;
  QCheckBox* m_desktopOnSuccess;
  QLineEdit* m_emailTo;
  QCheckBox* m_emailOnFailure;
  QCheckBox* m_emailOnSuccess;
  QLineEdit* m_webhookUrl;
  QCheckBox* m_webhookOnFailure;
  QCheckBox* m_webhookOnSuccess;
  Channel m_email;
  Channel m_webhook;
};

}  // namespace brevanto::ui
