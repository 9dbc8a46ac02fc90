#include "ui/SingleInstance.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace brevanto::ui {

namespace {

const QByteArray kShowRequest = "show\n";

}  // namespace

namespace {

// The lock and the socket live in the user's runtime folder (owner-only), not in the
// shared temporary folder, where another user could plant a lock file of the same name
// and keep the program from ever starting.
QString InstanceFolder() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent),
      m_serverName(
          QDir(InstanceFolder()).filePath(QStringLiteral("%1-%2").arg(name).arg(::getuid()))) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Claim(int waitMs) {
  // The lock decides who is first; the socket only carries the request. A lock left by a
  // crashed copy is recognised as stale (its process is gone) and taken over.
  m_lock = std::make_unique<QLockFile>(m_serverName + ".lock");
  m_lock->setStaleLockTime(0);
  if (!m_lock->tryLock(0)) {
    m_lock.reset();
    AskFirstCopyToShow(waitMs);
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
