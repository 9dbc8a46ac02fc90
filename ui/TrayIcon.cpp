#include "ui/TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QStyle>

#include "ui/Icons.h"
#include "ui/Product.h"

namespace brevanto::ui {

namespace {

// Qt gives no signal when a panel restarts, so the tray is checked while the icon is up.
constexpr int kTrayCheckMs = 2000;
constexpr int kBalloonMs = 5000;

std::function<bool()>& Probe() {
  static std::function<bool()> probe;
  return probe;
}

// The program's icon with a warning sign in its lower right quarter.
QIcon WarningIcon() {
  QIcon icon;
  const QIcon program = MakeIcon(IconRole::Program);
  const QIcon warning = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap = program.pixmap(size, size);
    QPainter painter(&pixmap);
    const int mark = size * 5 / 8;
    painter.drawPixmap(size - mark, size - mark, warning.pixmap(mark, mark));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

void TrayIcon::SetRunState(const QString& toolTip, bool warning) {
  const QString text = toolTip.isEmpty() ? QString::fromLatin1(kWindowTitle) : toolTip;
  if (m_icon.toolTip() != text) m_icon.setToolTip(text);
  if (warning == m_warning) return;
  m_warning = warning;
  m_icon.setIcon(warning ? WarningIcon() : MakeIcon(IconRole::Program));
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), m_icon(MakeIcon(IconRole::Program)) {
  m_icon.setObjectName("trayIcon");
  m_icon.setToolTip(QString::fromLatin1(kWindowTitle));
  connect(&m_icon, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
              emit activationRequested();
            }
          });
  m_watch.setInterval(kTrayCheckMs);
  connect(&m_watch, &QTimer::timeout, this, &TrayIcon::CheckTray);
}

bool TrayIcon::Available() {
  return Probe() ? Probe()() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::SetAvailabilityProbe(std::function<bool()> probe) {
  Probe() = std::move(probe);
}

void TrayIcon::Add() {
  m_added = true;
  m_trayPresent = Available();
  m_icon.show();
  // Once a run: an empty balloon, or the same one at every minimise, says nothing.
  if (m_trayPresent && !m_balloonShown) {
    m_balloonShown = true;
    const QString text = tr("Brevanto keeps running here and runs the scheduled tasks. Click "
                            "the icon to show the window.");
    emit balloonShown(text);
    if (QSystemTrayIcon::supportsMessages()) {
      m_icon.showMessage(QString::fromLatin1(kWindowTitle), text, QSystemTrayIcon::Information,
                         kBalloonMs);
    }
  }
  m_watch.start();
}

void TrayIcon::Remove() {
  m_added = false;
  m_watch.stop();
  m_icon.hide();
}

void TrayIcon::SetMenu(QMenu* menu) {
  m_icon.setContextMenu(menu);
}

void TrayIcon::CheckTray() {
  const bool present = Available();
  if (present == m_trayPresent) return;
  m_trayPresent = present;
  if (!present) {
    emit trayLost();
    return;
  }
  // A new tray does not know our icon: add it again.
  m_icon.hide();
  m_icon.show();
  emit trayRestored();
}

}  // namespace brevanto::ui
