#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so that a session
// that ends without asking (a service manager, a closed terminal) still gets the program's
// saves. The handler only writes a byte to a socket pair; everything else happens in the
// event loop. One instance per process.

#include <QObject>

class QSocketNotifier;

namespace brevanto::ui {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 signals:
  void terminationRequested();

 private:
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace brevanto::ui
