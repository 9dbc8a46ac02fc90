#pragma once
// ServerBrowser: what the wizard's pages ask of a MySQL server (connection test, the
// catalogue of databases with their tables and views, one database's tables). Every call
// blocks on the network, so pages run them through RunOffUiThread. Tests substitute a
// browser with fixed answers.
//
// Threads: the calls may run on any one thread at a time; a browser holds no connection
// between calls.

#include <functional>
#include <string>
#include <vector>

#include "engines/MySqlConnection.h"
#include "tasks/TaskItem.h"

class QWidget;

namespace brevanto::wizard {

class ServerBrowser {
 public:
  virtual ~ServerBrowser() = default;

  // Connects and closes again; `version` receives the server's version text.
  virtual bool TestConnection(const CServerInfo& server, std::string& version, MySqlError& error);
  // Every database (Selected 0) with its tables and views (Selected 0, classified).
  virtual bool LoadCatalogue(const CServerInfo& server, std::vector<DatabaseItem>& databases,
                             MySqlError& error);
  virtual bool ListDatabaseNames(const CServerInfo& server, std::vector<std::string>& names,
                                 MySqlError& error);
  // The tables of one database. On failure `useFailed` tells a database that could not be
  // selected from a connection that could not be opened.
  virtual bool LoadTables(const CServerInfo& server, const std::string& database,
                          std::vector<TableItem>& tables, MySqlError& error, bool& useFailed);
  // True when both connect and report the same host name, port and data folder: two
  // host texts may reach one server. False when either cannot be reached.
  virtual bool ReachSameServer(const CServerInfo& first, const CServerInfo& second);
  // The SHA-256 fingerprint of the TLS certificate the server shows; empty when none.
  virtual std::string CertificateFingerprint(const CServerInfo& server);
};

// Runs `work` on a thread of its own while the UI thread keeps painting: `window` is
// disabled and shows the wait cursor until the work is done.
void RunOffUiThread(QWidget* window, const std::function<void()>& work);

}  // namespace brevanto::wizard
