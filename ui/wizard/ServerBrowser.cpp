#include "ui/wizard/ServerBrowser.h"

#include <atomic>
#include <thread>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "engines/ServerTls.h"

namespace brevanto::wizard {

namespace {

// Opens a connection that reads names in the server's default character set.
bool Open(const CServerInfo& server, CMySQLConnection& connection, MySqlError& error) {
  if (!ConnectServer(server, connection, error)) return false;
  const unsigned long version = connection.ServerVersion();
  SetConnectionCharacterSet(connection, ApplyDefaultCharset(connection, false, version), version);
  return true;
}

}  // namespace

bool ServerBrowser::TestConnection(const CServerInfo& server, std::string& version,
                                   MySqlError& error) {
  CMySQLConnection connection;
  if (!ConnectServer(server, connection, error)) return false;
  version = connection.ServerVersionText();
  return true;
}

std::string ServerBrowser::CertificateFingerprint(const CServerInfo& server) {
  return ServerCertificateFingerprint(server);
}

bool ServerBrowser::LoadCatalogue(const CServerInfo& server, std::vector<DatabaseItem>& databases,
                                  MySqlError& error) {
  CMySQLConnection connection;
  if (!Open(server, connection, error)) return false;
  databases.clear();
  for (const std::string& name : ListDatabases(connection)) {
    DatabaseItem database;
    database.DatabaseName = name;
    // A database the user may not enter is still listed, without tables.
    if (SelectDatabase(connection, name)) {
      ListDatabaseTables(connection, name, connection.ServerVersion(), database.Tables);
    }
    databases.push_back(std::move(database));
  }
  return true;
}

bool ServerBrowser::ListDatabaseNames(const CServerInfo& server, std::vector<std::string>& names,
                                      MySqlError& error) {
  CMySQLConnection connection;
  if (!Open(server, connection, error)) return false;
  names = ListDatabases(connection);
  return true;
}

bool ServerBrowser::LoadTables(const CServerInfo& server, const std::string& database,
                               std::vector<TableItem>& tables, MySqlError& error, bool& useFailed) {
  useFailed = false;
  CMySQLConnection connection;
  if (!Open(server, connection, error)) return false;
  if (!SelectDatabase(connection, database)) {
    useFailed = true;
    error = connection.LastError();
    return false;
  }
  tables.clear();
  ListDatabaseTables(connection, database, connection.ServerVersion(), tables);
  return true;
}

bool ServerBrowser::ReachSameServer(const CServerInfo& first, const CServerInfo& second) {
  CMySQLConnection a;
  CMySQLConnection b;
  MySqlError error;
  if (!ConnectServer(first, a, error) || !ConnectServer(second, b, error)) return false;
  const std::string identity = ServerIdentity(a);
  return !identity.empty() && identity == ServerIdentity(b);
}

void RunOffUiThread(QWidget* window, const std::function<void()>& work) {
  QWidget* top = window ? window->window() : nullptr;
  const bool wasEnabled = top && top->isEnabled();
  if (top) top->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  poll.start(20);
  if (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  QApplication::restoreOverrideCursor();
  if (top && wasEnabled) top->setEnabled(true);
}

}  // namespace brevanto::wizard
