#pragma once
// One running copy per user. The first copy holds a lock file and listens on a local
// socket named after the instance name; a later copy asks it to show its window and
// then quits. GUI thread only.

#include <memory>

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;

namespace brevanto::ui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` is made unique per user before use.
  explicit SingleInstance(const QString& name, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is the first copy and now listens for show requests. False
  // when another copy runs: it has been asked to show its window (as far as it answers
  // within `waitMs`), and this process should end quietly.
  bool Claim(int waitMs = 3000);

  QString ServerName() const { return m_serverName; }

 signals:
  void showRequested();

 private:
  bool AskFirstCopyToShow(int waitMs);

  QString m_serverName;
  std::unique_ptr<QLockFile> m_lock;
  QLocalServer* m_server = nullptr;
};

}  // namespace brevanto::ui
