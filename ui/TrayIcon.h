#pragma once
// The notification-area icon: tooltip and icon of the program, a balloon saying where the
// program went the first time it appears, a context menu, and a signal for a left click. It also watches the tray
// itself: when the tray goes away or comes back (a panel restart), it says so, so that
// the window is never left hidden without an icon. GUI thread only.

#include <functional>

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

class QMenu;

namespace brevanto::ui {

class TrayIcon : public QObject {
  Q_OBJECT

 public:
  explicit TrayIcon(QObject* parent = nullptr);

  // Whether the desktop has a notification area right now.
  static bool Available();
  // Test hook: answers Available() instead of the desktop (an empty function restores it).
  static void SetAvailabilityProbe(std::function<bool()> probe);

  // Adds the icon, with its balloon the first time. Does nothing visible when no tray
  // exists.
  void Add();
  void Remove();
  bool Added() const { return m_added; }
  // The menu shown on a right click; not owned.
  void SetMenu(QMenu* menu);
  QSystemTrayIcon* Icon() { return &m_icon; }
  // The tooltip (the program's name when empty) and whether the icon carries the
  // warning mark of a failed run nobody has looked at yet.
  void SetRunState(const QString& toolTip, bool warning);
  bool Warning() const { return m_warning; }
  // Looks at the tray now rather than at the next periodic check.
  void CheckTray();

 signals:
  void activationRequested();
  // The tray vanished while the icon was added.
  void trayLost();
  // The balloon's text, as it is shown (also where the platform shows no balloons).
  void balloonShown(const QString& text);
  // A tray appeared again (after trayLost); the icon has been re-added.
  void trayRestored();

 private:
  QSystemTrayIcon m_icon;
  QTimer m_watch;
  bool m_added = false;
  bool m_trayPresent = false;
  bool m_balloonShown = false;
  bool m_warning = false;
};

}  // namespace brevanto::ui
