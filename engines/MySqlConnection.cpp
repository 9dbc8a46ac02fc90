#include "engines/MySqlConnection.h"

#include <cstdio>
#include <mutex>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "schedule/TaskRoutine.h"

namespace brevanto {

namespace {

constexpr unsigned long kBacktickQuotingVersion = 32306;
constexpr unsigned long kShowCreateTableVersion = 32320;
constexpr unsigned long kCharacterSetsVersion = 40100;

// CR_SSL_CONNECTION_ERROR of the client library.
constexpr unsigned int kSslConnectionError = 2026;

std::string TrimBlanks(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

MySqlResult Query(MYSQL* handle, const std::string& statement) {
  if (mysql_real_query(handle, statement.data(), statement.size()) != 0) return nullptr;
  return MySqlResult(mysql_store_result(handle));
}

std::string EscapeLiteral(MYSQL* handle, const std::string& text) {
  std::string out(text.size() * 2 + 1, '\0');
  out.resize(mysql_real_escape_string(handle, out.data(), text.data(), text.size()));
  return out;
}

bool ContainsTable(const std::vector<TableItem>& tables, const TableItem& item) {
  for (const TableItem& t : tables) {
    if (t.DatabaseName == item.DatabaseName && t.TableName == item.TableName) return true;
  }
  return false;
}

DatabaseItem* FindDatabase(std::vector<DatabaseItem>& list, const std::string& name) {
  for (DatabaseItem& d : list) {
    if (d.DatabaseName == name) return &d;
  }
  return nullptr;
}

}  // namespace

bool AllowsBacktickQuoting(unsigned long version) {
  return version >= kBacktickQuotingVersion;
}
bool HasShowCreateTable(unsigned long version) {
  return version >= kShowCreateTableVersion;
}
bool HasCharacterSets(unsigned long version) {
  return version >= kCharacterSetsVersion;
}

void InitMySqlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

void ConnectionCanceler::Cancel() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_handle == nullptr) return;
  // Closing a cancelled socket must reset it: a plain close leaves a server thread that
  // is streaming a large result blocked on a full socket, holding its table locks until
  // its write time-out (a minute by default), so writers of that table would wait too.
  const my_socket socket = mysql_get_socket(m_handle);
  if (socket != MARIADB_INVALID_SOCKET) {
    const linger reset{1, 0};
    (void)::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  mariadb_cancel(m_handle);
}

CMySQLConnection::~CMySQLConnection() {
  Close();
}

CMySQLConnection::CMySQLConnection(CMySQLConnection&& other) noexcept
    : m_handle(std::move(other.m_handle)),
      m_version(other.m_version),
      m_versionText(std::move(other.m_versionText)),
      m_canceler(std::move(other.m_canceler)) {
  other.m_canceler = std::make_shared<ConnectionCanceler>();
  other.m_version = 0;
}

CMySQLConnection& CMySQLConnection::operator=(CMySQLConnection&& other) noexcept {
  if (this != &other) {
    Close();
    m_handle = std::move(other.m_handle);
    m_version = other.m_version;
    m_versionText = std::move(other.m_versionText);
    m_canceler = std::move(other.m_canceler);
    other.m_canceler = std::make_shared<ConnectionCanceler>();
    other.m_version = 0;
  }
  return *this;
}

void CMySQLConnection::Adopt(MySqlHandle handle) {
  Close();
  m_handle = std::move(handle);
  m_version = mysql_get_server_version(m_handle.get());
  const char* info = mysql_get_server_info(m_handle.get());
  m_versionText = info != nullptr ? info : "";
  std::lock_guard<std::mutex> guard(m_canceler->m_lock);
  m_canceler->m_handle = m_handle.get();
}

void CMySQLConnection::Close() {
  if (!m_handle) return;
  {
    // Nobody may cancel through a handle that is being freed.
    std::lock_guard<std::mutex> guard(m_canceler->m_lock);
    m_canceler->m_handle = nullptr;
  }
  m_handle.reset();
}

MySqlError CMySQLConnection::LastError() const {
  if (!m_handle) return {};
  return {mysql_errno(m_handle.get()), mysql_error(m_handle.get())};
}

std::string WithServerError(const std::string& text, const MySqlError& error) {
  if (error.Number == 0 && error.Text.empty()) return text;
  return text + " (error " + std::to_string(error.Number) + ": " + error.Text + ")";
}

bool IsLostConnection(unsigned int errorNumber) {
  switch (errorNumber) {
    case 2006:  // CR_SERVER_GONE_ERROR
    case 2013:  // CR_SERVER_LOST
    case 2055:  // CR_SERVER_LOST_EXTENDED
    case 1927:  // ER_CONNECTION_KILLED
    case 1053:  // ER_SERVER_SHUTDOWN
    case 4031:  // ER_CLIENT_INTERACTION_TIMEOUT
      return true;
    default:
      return false;
  }
}

bool CMySQLConnection::Execute(const std::string& statement) {
  return m_handle && mysql_real_query(m_handle.get(), statement.data(), statement.size()) == 0;
}

namespace {

// Notices a peer that vanished (power loss, cable, firewall state lost) within about two
// minutes of silence instead of the system's two hours: idle 60 s, then 6 probes 10 s apart.
void EnableKeepalive(MYSQL* handle) {
  const my_socket socket = mysql_get_socket(handle);
  if (socket == MARIADB_INVALID_SOCKET) return;
  const int on = 1, idle = 60, interval = 10, probes = 6;
  (void)::setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  (void)::setsockopt(socket, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

bool ConnectServer(const CServerInfo& server, CMySQLConnection& connection, MySqlError& error,
                   ConnectPurpose purpose) {
  InitMySqlLibrary();
  connection.Close();
  MySqlHandle handle(mysql_init(nullptr));
  if (!handle) {
    error = {2008, "MySQL client ran out of memory"};
    return false;
  }
  // The connect time-out also bounds the wait for the server's greeting, so a server that
  // accepts and never answers fails here. Read and write time-outs can only be set before
  // connecting, hence the purpose.
  const unsigned int connectTimeout = kConnectTimeoutSeconds;
  mysql_options(handle.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
  if (purpose == ConnectPurpose::StreamRows) {
    const unsigned int streamTimeout = kStreamTimeoutSeconds;
    mysql_options(handle.get(), MYSQL_OPT_READ_TIMEOUT, &streamTimeout);
    mysql_options(handle.get(), MYSQL_OPT_WRITE_TIMEOUT, &streamTimeout);
  }
  unsigned long flags = 0;
  if (server.UseCompression == 1) {
    mysql_options(handle.get(), MYSQL_OPT_COMPRESS, nullptr);
    flags |= CLIENT_COMPRESS;
  }
  if (server.UseSSL == 1) {
    // The SSL flag alone is not enough: without mysql_ssl_set the library neither
    // offers TLS properly nor insists on it.
    flags |= CLIENT_SSL;
    mysql_ssl_set(handle.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  MYSQL* connected =
      mysql_real_connect(handle.get(), server.Host.c_str(), server.UserName.c_str(),
                         server.Password.c_str(), nullptr, server.Port, nullptr, flags);
  if (connected != handle.get()) {
    error = {mysql_errno(handle.get()), mysql_error(handle.get())};
    return false;
  }
  if (server.UseSSL == 1 && mysql_get_ssl_cipher(handle.get()) == nullptr) {
    // The user asked for encryption; a plain connection is not what they configured.
    error = {kSslConnectionError,
             "SSL connection error: the server does not support encrypted connections"};
    return false;
  }
  EnableKeepalive(handle.get());
  connection.Adopt(std::move(handle));
  return true;
}

bool ConnectServerForTask(TaskRunContext& context, const CServerInfo& server, ServerRole role,
                          CMySQLConnection& connection, ConnectPurpose purpose) {
  const bool destination = role == ServerRole::OnlyDestination || role == ServerRole::Destination;
  context.Log(LogLevel::General, std::string(destination ? "Connecting to the destination"
                                                         : "Connecting to the source") +
                                     " MySQL server (" + server.Host + ")... ");
  std::string which;
  if (role == ServerRole::Source) which = "source ";
  if (role == ServerRole::Destination) which = "destination ";
  MySqlError error;
  if (!ConnectServer(server, connection, error, purpose)) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", error.Number);
    context.Log(LogLevel::Error, "Failed to connect to the " + which + "MySQL server!  Error NO. " +
                                     number + "  " + error.Text);
    return false;
  }
  context.Log(LogLevel::General,
              "Connect to the " + which +
                  "MySQL server successfully!  MySQL version: " + connection.ServerVersionText());
  return true;
}

void SetConnectionCharacterSet(CMySQLConnection& connection, const std::string& charset,
                               unsigned long serverVersion) {
  if (charset.empty()) return;
  if (HasCharacterSets(serverVersion)) {
    (void)connection.Execute("SET NAMES '" + charset + "'");
  } else {
    (void)connection.Execute("SET CHARACTER_SET_CLIENT='" + charset + "'");
    (void)connection.Execute("SET CHARACTER_SET_RESULTS='" + charset + "'");
    (void)connection.Execute("SET CHARACTER_SET_CONNECTION='" + charset + "'");
  }
}

std::string ApplyDefaultCharset(CMySQLConnection& connection, bool database,
                                unsigned long serverVersion) {
  if (!connection.IsOpen()) return {};
  std::string name;
  {
    MySqlResult result = Query(connection.Handle(), database ? "SELECT @@CHARACTER_SET_DATABASE"
                                                             : "SELECT @@CHARACTER_SET_SERVER");
    if (result) {
      MYSQL_ROW row = mysql_fetch_row(result.get());
      if (row != nullptr && row[0] != nullptr) name = TrimBlanks(row[0]);
    }
  }
  SetConnectionCharacterSet(connection, name, serverVersion);
  return name;
}

std::string TableReadCharset(CMySQLConnection& connection, const std::string& database,
                             const std::string& table, const std::string& databaseCharset) {
  if (databaseCharset.empty() || databaseCharset == "utf8mb4" || !connection.IsOpen()) {
    return databaseCharset;
  }
  MYSQL* handle = connection.Handle();
  MySqlResult result = Query(
      handle,
      "SELECT DISTINCT CHARACTER_SET_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA='" +
          EscapeLiteral(handle, database) + "' AND TABLE_NAME='" + EscapeLiteral(handle, table) +
          "' AND CHARACTER_SET_NAME IS NOT NULL");
  if (!result) return databaseCharset;  // servers without information_schema
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr) continue;
    const std::string charset = row[0];
    if (charset != "binary" && charset != databaseCharset) return "utf8mb4";
  }
  return databaseCharset;
}

std::uint8_t ClassifyTable(CMySQLConnection& connection, const std::string& table, bool quote) {
  if (!connection.IsOpen()) return 0;
  MySqlResult result = Query(connection.Handle(), "SHOW CREATE TABLE " + QuoteName(table, quote));
  if (!result || mysql_num_fields(result.get()) == 0) return 0;
  const MYSQL_FIELD* field = mysql_fetch_field_direct(result.get(), 0);
  if (field == nullptr || field->name == nullptr) return 0;
  const std::string name = field->name;
  if (name == "Table") return 1;
  if (name == "View") return 2;
  return 0;
}

std::vector<std::string> ListDatabases(CMySQLConnection& connection) {
  std::vector<std::string> names;
  if (!connection.IsOpen()) return names;
  MySqlResult result(mysql_list_dbs(connection.Handle(), nullptr));
  if (!result) return names;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    names.emplace_back(row[0] != nullptr ? std::string(row[0], lengths[0]) : std::string());
  }
  return names;
}

namespace {

// The tables of the current database, each classified with `quote`, all with `selected`.
std::vector<TableItem> ServerTables(CMySQLConnection& connection, const std::string& database,
                                    bool quote, std::uint8_t selected) {
  std::vector<TableItem> tables;
  std::vector<std::string> names;
  {
    MySqlResult result(mysql_list_tables(connection.Handle(), nullptr));
    if (!result) return tables;
    while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
      const unsigned long* lengths = mysql_fetch_lengths(result.get());
      names.emplace_back(row[0] != nullptr ? std::string(row[0], lengths[0]) : std::string());
    }
  }
  for (const std::string& name : names) {
    TableItem item;
    item.Selected = selected;
    item.DatabaseName = database;
    item.TableName = name;
    item.Kind = ClassifyTable(connection, name, quote);
    tables.push_back(std::move(item));
  }
  return tables;
}

}  // namespace

void ListDatabaseTables(CMySQLConnection& connection, const std::string& database,
                        unsigned long serverVersion, std::vector<TableItem>& out) {
  if (!connection.IsOpen()) return;
  std::vector<TableItem> tables =
      ServerTables(connection, database, AllowsBacktickQuoting(serverVersion), 0);
  out.insert(out.end(), tables.begin(), tables.end());
}

std::vector<DatabaseItem> ResolveSelection(CMySQLConnection& connection,
                                           const BackupSettings& settings,
                                           const std::vector<DatabaseItem>& saved, bool quote) {
  const bool newDatabases = settings.IncludeNewDatabases != 0;
  const bool newTables = settings.IncludeNewTables != 0;
  std::vector<DatabaseItem> resolved = saved;
  if (!newDatabases && !newTables) return resolved;

  std::vector<DatabaseItem> server;
  for (const std::string& name : ListDatabases(connection)) {
    DatabaseItem item;
    item.Selected = 2;
    item.DatabaseName = name;
    if (mysql_select_db(connection.Handle(), name.c_str()) == 0) {
      item.Tables = ServerTables(connection, name, quote, 2);
    }
    server.push_back(std::move(item));
  }

  for (DatabaseItem& serverItem : server) {
    DatabaseItem* existing = FindDatabase(resolved, serverItem.DatabaseName);
    if (existing == nullptr) {
      if (newDatabases) resolved.push_back(std::move(serverItem));
      continue;
    }
    if (!newTables) continue;
    for (TableItem& table : serverItem.Tables) {
      if (!ContainsTable(existing->Tables, table)) existing->Tables.push_back(std::move(table));
    }
  }
  return resolved;
}

std::string QuoteName(const std::string& name, bool quote) {
  if (!quote) return name;
  std::string quoted = "`";
  for (char c : name) {
    // A backtick inside a name is doubled, or the statement would end the name there.
    if (c == '`') quoted += '`';
    quoted += c;
  }
  quoted += '`';
  return quoted;
}

std::string ExactLikePattern(MYSQL* handle, const std::string& name) {
  // LIKE's own escapes first, then the literal's.
  std::string pattern;
  for (char c : name) {
    if (c == '\\' || c == '_' || c == '%') pattern += '\\';
    pattern += c;
  }
  return EscapeLiteral(handle, pattern);
}

}  // namespace brevanto
