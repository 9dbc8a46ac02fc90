#pragma once
// One running copy per user and application folder. The first copy on a folder holds a
// lock file and listens on a local socket, both named after the instance name, the user and
// the folder; a later copy on the same folder asks it to show its window and then quits.
// Copies on different folders do not meet. GUI thread only.

#include <memory>

#include <QObject>
#include <QString>

class QLocalServer;
class QLockFile;

namespace brevanto::ui {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` is made unique per user and per `folder` (the application folder) before use.
  SingleInstance(const QString& name, const QString& folder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True when this process is the first copy on its folder and now listens for show
  // requests. False when another copy runs there: it has been asked to show its window,
  // the giving way is said on stderr and, when that copy cannot be reached within
  // `waitMs`, in a message box; this process should then end.
  bool Claim(int waitMs = 3000);

  QString ServerName() const { return m_serverName; }
  QString LockFilePath() const { return m_serverName + QStringLiteral(".lock"); }

 signals:
  void showRequested();

 private:
  bool AskFirstCopyToShow(int waitMs);

  QString m_folder;
  QString m_serverName;
  std::unique_ptr<QLockFile> m_lock;
  QLocalServer* m_server = nullptr;
};

}  // namespace brevanto::ui
