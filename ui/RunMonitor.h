#pragma once
// RunMonitor: what the window makes of the runs besides the task list. It keeps the tray
// icon's tooltip (the running tasks and their progress) and its warning mark (a failed
// run whose log nobody has opened since), and shows the desktop notification a run's
// settings ask for. GUI thread only; the core's run listener reaches it through a queued
// call.

#include <QObject>
#include <QSet>
#include <QString>

namespace brevanto {
class CApplicationCore;
struct RunReport;
}  // namespace brevanto

namespace brevanto::ui {

class DesktopNotifications;
class TrayIcon;

class RunMonitor : public QObject {
  Q_OBJECT

 public:
  // Installs the core's run listener. REQUIRES: `core` and `tray` outlive this object.
  RunMonitor(CApplicationCore& core, TrayIcon& tray, QObject* parent = nullptr);
  ~RunMonitor() override;

  // A run ended (on the GUI thread).
  void RunEnded(const RunReport& report, bool desktopNotification);
  // Rewrites the tray's tooltip and warning mark; the window calls it once a second.
  void Refresh();
  // The log of `taskKey` was opened: its failure has been seen.
  void LogOpened(const QString& taskKey);
  bool HasUnseenFailure() const { return !m_unseenFailures.isEmpty(); }
  DesktopNotifications* Desktop() const { return m_desktop; }

 signals:
  // The user asked a notification for the log of the task in `row`.
  void openLogRequested(int row);

 private:
  CApplicationCore& m_core;
  TrayIcon& m_tray;
  DesktopNotifications* m_desktop;
  QSet<QString> m_unseenFailures;  // TaskKeys
};

}  // namespace brevanto::ui
