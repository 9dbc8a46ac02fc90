#include "ui/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "ui/Product.h"

namespace brevanto::ui {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kOpenLogAction = "default";
// A failure stays until the user dismisses it; other news goes after ten seconds.
constexpr int kSuccessTimeoutMs = 10000;

}  // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {}

void DesktopNotifications::Notify(const QString& title, const QString& body,
                                  const QString& taskKey, bool failed) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (!m_listening) {
    m_listening = true;
    bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                SLOT(OnActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                SLOT(OnClosed(uint, uint)));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue<uchar>(failed ? 2 : 1));
  hints.insert("desktop-entry", QStringLiteral("brevanto"));
  call << QString::fromLatin1(kWindowTitle) << uint(0)
       << QString(failed ? "dialog-warning" : "dialog-information") << title << body
       << QStringList{kOpenLogAction, tr("Open log")} << hints
       << (failed ? 0 : kSuccessTimeoutMs);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, taskKey](QDBusPendingCallWatcher* finished) {
            QDBusPendingReply<uint> reply = *finished;
            if (!reply.isError()) {
              m_taskKeyById.insert(reply.value(), taskKey);
              emit shown(reply.value(), taskKey);
            }
            finished->deleteLater();
          });
}

void DesktopNotifications::OnActionInvoked(uint id, const QString& action) {
  auto it = m_taskKeyById.find(id);
  if (it == m_taskKeyById.end() || action != QLatin1String(kOpenLogAction)) return;
  emit openLogRequested(it.value());
}

void DesktopNotifications::OnClosed(uint id, uint) { m_taskKeyById.remove(id); }

}  // namespace brevanto::ui
