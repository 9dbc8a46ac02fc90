#pragma once
// Desktop notifications through the session bus's org.freedesktop.Notifications service,
// with an "Open log" action. Without a session bus or a notification service nothing is
// shown and nothing fails. GUI thread only.

#include <QHash>
#include <QObject>
#include <QString>

namespace brevanto::ui {

class DesktopNotifications : public QObject {
  Q_OBJECT

 public:
  explicit DesktopNotifications(QObject* parent = nullptr);

  // Shows a notification for the task `taskKey`; `failed` makes it critical. Returns
  // without waiting for the service.
  void Notify(const QString& title, const QString& body, const QString& taskKey, bool failed);

 signals:
  // The user chose "Open log" (or clicked the notification) of the task `taskKey`.
  void openLogRequested(const QString& taskKey);
  // The service showed the notification of `taskKey` under `id`.
  void shown(uint id, const QString& taskKey);

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint reason);

 private:
  QHash<uint, QString> m_taskKeyById;  // notifications still shown
  bool m_listening = false;
};

}  // namespace brevanto::ui
