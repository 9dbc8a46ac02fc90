#include "ui/SingleInstance.h"

#include <unistd.h>

#include <cstdio>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include "ui/Dialogs.h"

namespace brevanto::ui {

namespace {

const QByteArray kShowRequest = "show\n";

// The lock and the socket live in the user's runtime folder (owner-only), not in the
// shared temporary folder, where another user could plant a lock file of the same name
// and keep the program from ever starting.
QString InstanceFolder() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

// The same folder reached through another spelling or a link is the same folder. A hash
// keeps the socket name short whatever the path (socket paths are limited to ~100 bytes).
QString FolderKey(const QString& folder) {
  const QFileInfo info(folder);
  QString path = info.canonicalFilePath();
  if (path.isEmpty()) path = QDir::cleanPath(info.absoluteFilePath());
  return QString::fromLatin1(
      QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

void SayOnStderr(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent),
      m_folder(folder),
      m_serverName(QDir(InstanceFolder())
                       .filePath(QStringLiteral("%1-%2-%3")
                                     .arg(name)
                                     .arg(::getuid())
                                     .arg(FolderKey(folder)))) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Claim(int waitMs) {
  // The lock decides who is first; the socket only carries the request. A lock left by a
  // crashed copy is recognised as stale (its process is gone) and taken over.
  m_lock = std::make_unique<QLockFile>(LockFilePath());
  m_lock->setStaleLockTime(0);
  if (!m_lock->tryLock(0)) {
    m_lock.reset();
    if (AskFirstCopyToShow(waitMs)) {
      SayOnStderr(tr("Brevanto is already running on the folder %1; its window is shown "
                     "instead of starting a second copy.")
                      .arg(m_folder));
      return false;
    }
    const QString text = tr("Brevanto is already running on the folder %1, but it does not "
                            "answer.\n\nEnd that copy, then start Brevanto again.")
                             .arg(m_folder);
    SayOnStderr(text);
    Dialogs::Stop(nullptr, text);
    return false;
  }
  QLocalServer::removeServer(m_serverName);  // a socket file left by a crashed copy
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  m_server->listen(m_serverName);
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) return;
        if (socket->readLine() == kShowRequest) emit showRequested();
        socket->disconnectFromServer();
      });
    }
  });
  return true;
}

bool SingleInstance::AskFirstCopyToShow(int waitMs) {
  // The first copy may still be starting and not yet listening: retry until the deadline.
  const QDeadlineTimer deadline(waitMs);
  while (true) {
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (socket.waitForConnected(qMax<qint64>(1, deadline.remainingTime()))) {
      socket.write(kShowRequest);
      const bool sent = socket.waitForBytesWritten(qMax<qint64>(1, deadline.remainingTime()));
      socket.disconnectFromServer();
      return sent;
    }
    if (deadline.hasExpired()) return false;
    QThread::msleep(100);
  }
}

}  // namespace brevanto::ui
