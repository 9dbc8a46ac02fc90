#include "engines/MySqlConnection.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engines/ServerTls.h"
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

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
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

// Resets and cancels the connection's socket, from any thread.
void CancelSocket(MYSQL* handle);

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

void ConnectionCanceler::KillQuery() {
  if (m_threadId == 0) return;
  CMySQLConnection killer;
  MySqlError ignored;
  if (!ConnectServer(m_server, killer, ignored, ConnectPurpose::Kill)) return;
  (void)killer.Execute("KILL QUERY " + std::to_string(m_threadId));
}

void ConnectionCanceler::Cancel() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_handle == nullptr) return;
  // A cancelled socket alone leaves the statement running on the server (an INSERT ...
  // SELECT would still insert): end it there first.
  KillQuery();
  CancelSocket(m_handle);
}

void ConnectionCanceler::CutOff() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_handle != nullptr) CancelSocket(m_handle);
}

std::string ConnectionCanceler::Host() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_server.Host;
}

ConnectionCanceler::SessionCheck ConnectionCanceler::CheckSession(unsigned int timeoutSeconds) {
  CServerInfo server;
  unsigned long threadId = 0;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    server = m_server;
    threadId = m_threadId;
  }
  // A server that refuses the check with an error of its own (too many connections, the
  // account's connection limit, no right to look) has answered: it is not stalled, and a
  // long, healthy statement must not end for it. Only client errors (2000 on: no route,
  // lost connection, time-out) mean no answer.
  const auto answered = [](unsigned int number) { return number != 0 && number < 2000; };
  CMySQLConnection checker;
  MySqlError error;
  if (!ConnectServerWithTimeouts(server, checker, error, timeoutSeconds, timeoutSeconds)) {
    return answered(error.Number) ? SessionCheck::Alive : SessionCheck::NoAnswer;
  }
  MySqlResult result = Query(checker.Handle(),
                             "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                                 std::to_string(threadId));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || row[0] == nullptr) {
    return answered(mysql_errno(checker.Handle())) ? SessionCheck::Alive : SessionCheck::NoAnswer;
  }
  return std::string(row[0]) == "0" ? SessionCheck::Gone : SessionCheck::Alive;
}

namespace {

void CancelSocket(MYSQL* handle) {
  // Closing a cancelled socket must reset it: a plain close leaves a server thread that
  // is streaming a large result blocked on a full socket, holding its table locks until
  // its write time-out (a minute by default), so writers of that table would wait too.
  const my_socket socket = mysql_get_socket(handle);
  if (socket != MARIADB_INVALID_SOCKET) {
    const linger reset{1, 0};
    (void)::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  mariadb_cancel(handle);
}

}  // namespace

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

void CMySQLConnection::Adopt(MySqlHandle handle, const CServerInfo& server) {
  Close();
  m_handle = std::move(handle);
  m_version = mysql_get_server_version(m_handle.get());
  const char* info = mysql_get_server_info(m_handle.get());
  m_versionText = info != nullptr ? info : "";
  std::lock_guard<std::mutex> guard(m_canceler->m_lock);
  m_canceler->m_handle = m_handle.get();
  m_canceler->m_server = server;
  m_canceler->m_threadId = mysql_thread_id(m_handle.get());
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
  if (!m_handle) return false;
  // Odd while the statement runs, so a watchdog can tell one long statement from many.
  ++m_canceler->m_statements;
  const bool done = mysql_real_query(m_handle.get(), statement.data(), statement.size()) == 0;
  ++m_canceler->m_statements;
  return done;
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

bool IsSocketPath(const std::string& host) {
  return !host.empty() && host.front() == '/';
}

std::string UserOptionFile() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return std::string();
  const std::string path = std::string(home) + "/.my.cnf";
  return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

bool ConnectServer(const CServerInfo& server, CMySQLConnection& connection, MySqlError& error,
                   ConnectPurpose purpose) {
  // The connect time-out also bounds the wait for the server's greeting, so a server that
  // accepts and never answers fails here.
  const unsigned int connectTimeout =
      purpose == ConnectPurpose::Kill ? kKillTimeoutSeconds : kConnectTimeoutSeconds;
  unsigned int ioTimeout = 0;
  if (purpose == ConnectPurpose::Kill) ioTimeout = kKillTimeoutSeconds;
  if (purpose == ConnectPurpose::StreamRows) ioTimeout = kStreamTimeoutSeconds;
  return ConnectServerWithTimeouts(server, connection, error, connectTimeout, ioTimeout);
}

bool ConnectServerWithTimeouts(const CServerInfo& server, CMySQLConnection& connection,
                               MySqlError& error, unsigned int connectTimeout,
                               unsigned int ioTimeout) {
  InitMySqlLibrary();
  connection.Close();
  MySqlHandle handle(mysql_init(nullptr));
  if (!handle) {
    error = {2008, "MySQL client ran out of memory"};
    return false;
  }
  // Read and write time-outs can only be set before connecting.
  mysql_options(handle.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
  if (ioTimeout != 0) {
    mysql_options(handle.get(), MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
    mysql_options(handle.get(), MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
  }
  unsigned long flags = 0;
  if (server.UseCompression == 1) {
    mysql_options(handle.get(), MYSQL_OPT_COMPRESS, nullptr);
    flags |= CLIENT_COMPRESS;
  }
  if (server.UseSSL == 1) flags |= CLIENT_SSL;
  if (!PrepareServerTls(handle.get(), server, error)) return false;
  // A port means TCP, "localhost" included: the library would otherwise take the default
  // Unix socket for "localhost" and reach whichever server owns it. A host that is a
  // path names the socket itself.
  const bool socketPath = IsSocketPath(server.Host);
  if (!socketPath) {
    const unsigned int tcp = MYSQL_PROTOCOL_TCP;
    mysql_options(handle.get(), MYSQL_OPT_PROTOCOL, &tcp);
  }
  // Without a saved password the login comes from the user's option file as the stock
  // client takes it: password, and user and socket where the entry names none, from the
  // [client] and [client-mariadb] groups. The library reads the file at connect time and
  // uses a value only where the call below passes none.
  if (server.Password.empty() && !server.DefaultsFile.empty() &&
      (server.DefaultsFile.front() != '/' || ::access(server.DefaultsFile.c_str(), R_OK) != 0)) {
    // Named but unusable: no silent login without a password, and no path that depends on
    // the directory the program happened to start in.
    error = {0, "The option file \"" + server.DefaultsFile +
                    "\" cannot be read (it must be an absolute path to a readable file)"};
    return false;
  }
  const std::string optionFile =
      !server.Password.empty()         ? std::string()
      : !server.DefaultsFile.empty() ? server.DefaultsFile
                                       : UserOptionFile();
  if (!optionFile.empty()) {
    mysql_options(handle.get(), MYSQL_READ_DEFAULT_FILE, optionFile.c_str());
    mysql_options(handle.get(), MYSQL_READ_DEFAULT_GROUP, "client-mariadb");
  }
  const bool fromFile = !optionFile.empty();
  MYSQL* connected = mysql_real_connect(
      handle.get(), socketPath ? "localhost" : server.Host.c_str(),
      fromFile && server.UserName.empty() ? nullptr : server.UserName.c_str(),
      fromFile ? nullptr : server.Password.c_str(), nullptr, socketPath ? 0 : server.Port,
      socketPath ? server.Host.c_str() : nullptr, flags);
  if (connected != handle.get()) {
    error = {mysql_errno(handle.get()), mysql_error(handle.get())};
    ExplainRefusedCertificate(server, error);
    return false;
  }
  if (server.UseSSL == 1 && mysql_get_ssl_cipher(handle.get()) == nullptr) {
    // The user asked for encryption; a plain connection is not what they configured.
    error = {kSslConnectionError,
             "SSL connection error: the server does not support encrypted connections"};
    return false;
  }
  EnableKeepalive(handle.get());
  connection.Adopt(std::move(handle), server);
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
  if (charset.empty() || !connection.IsOpen()) return;
  if (HasCharacterSets(serverVersion)) {
    // Through the library, so that its escaping knows the new character set: escaping
    // sjis or gbk text as single-byte text would break characters whose second byte is
    // a backslash. The server receives the same SET NAMES.
    if (mysql_set_character_set(connection.Handle(), charset.c_str()) != 0) {
      (void)connection.Execute("SET NAMES '" + charset + "'");
    }
  } else {
    (void)connection.Execute("SET CHARACTER_SET_CLIENT='" + charset + "'");
    (void)connection.Execute("SET CHARACTER_SET_RESULTS='" + charset + "'");
    (void)connection.Execute("SET CHARACTER_SET_CONNECTION='" + charset + "'");
  }
}

std::string SessionCharset(CMySQLConnection& connection) {
  if (!connection.IsOpen()) return {};
  MySqlResult result = Query(connection.Handle(), "SELECT @@CHARACTER_SET_RESULTS");
  if (!result) return {};
  MYSQL_ROW row = mysql_fetch_row(result.get());
  return row != nullptr && row[0] != nullptr ? TrimBlanks(row[0]) : std::string();
}

Status UseUtcTimeZone(CMySQLConnection& connection) {
  if (connection.Execute("SET TIME_ZONE='+00:00'")) return Status::Ok();
  // Before 4.1.3 a server has no time zones: TIMESTAMP values are stored as given.
  if (connection.IsOpen() && connection.ServerVersion() < 40103) return Status::Ok();
  return Status::Error(WithServerError(kUtcTimeZoneFailed, connection.LastError()));
}

Status UseKnownSqlMode(CMySQLConnection& connection) {
  // Servers before 4.1 have no session SQL mode to inherit.
  if (connection.IsOpen() && !HasCharacterSets(connection.ServerVersion())) return Status::Ok();
  if (connection.Execute("SET SESSION sql_mode=''")) return Status::Ok();
  return Status::Error(WithServerError(kSqlModeFailed, connection.LastError()));
}

std::size_t MaxAllowedPacket(CMySQLConnection& connection) {
  if (!connection.Execute("SELECT @@max_allowed_packet")) return 0;
  MySqlResult result(mysql_store_result(connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || row[0] == nullptr) return 0;
  return static_cast<std::size_t>(std::strtoull(row[0], nullptr, 10));
}

std::string ServerIdentity(CMySQLConnection& connection) {
  if (!connection.IsOpen()) return {};
  MySqlResult result = Query(connection.Handle(), "SELECT @@HOSTNAME, @@PORT, @@DATADIR");
  if (!result || mysql_num_fields(result.get()) != 3) return {};
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || row[0] == nullptr || row[1] == nullptr || row[2] == nullptr) return {};
  return std::string(row[0]) + '\n' + row[1] + '\n' + row[2];
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
                             const std::string& table, const std::string& databaseCharset,
                             bool forStatements) {
  if (databaseCharset.empty() || databaseCharset == "utf8mb4" || !connection.IsOpen()) {
    return databaseCharset;
  }
  // Statements name the table in the session's character set: a name the database
  // default cannot hold would reach the server as "?".
  if (!IsAscii(database) || !IsAscii(table)) return "utf8mb4";
  // In these sets a backslash byte can end a two-byte character. A client that splits
  // statements in another character set (the stock client restoring a dump) takes it
  // for an escape and ends the string early, so statements carry such text in utf8mb4.
  if (forStatements && (databaseCharset == "sjis" || databaseCharset == "cp932" ||
                        databaseCharset == "big5" || databaseCharset == "gbk")) {
    return "utf8mb4";
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

namespace {

// Switches a session to utf8mb4 for as long as it lives, then back to exactly the
// character sets it had. Names are listed and used in utf8mb4, so that every name
// survives whatever character set the session reads its data in.
class CUtf8mb4Names {
 public:
  explicit CUtf8mb4Names(CMySQLConnection& connection) : m_connection(connection) {
    if (!connection.IsOpen()) return;
    MySqlResult result =
        Query(connection.Handle(),
              "SELECT @@CHARACTER_SET_CLIENT, @@CHARACTER_SET_CONNECTION, "
              "@@CHARACTER_SET_RESULTS, @@COLLATION_CONNECTION");
    if (!result || mysql_num_fields(result.get()) != 4) return;  // servers before 4.1
    MYSQL_ROW row = mysql_fetch_row(result.get());
    if (row == nullptr) return;
    for (int i = 0; i < 4; ++i) m_saved[i] = row[i] != nullptr ? row[i] : "";
    if (m_saved[0] == "utf8mb4" && m_saved[2] == "utf8mb4") return;
    m_libraryCharset = mysql_character_set_name(connection.Handle());
    m_switched = mysql_set_character_set(connection.Handle(), "utf8mb4") == 0;
  }
  ~CUtf8mb4Names() {
    if (!m_switched) return;
    (void)mysql_set_character_set(m_connection.Handle(), m_libraryCharset.c_str());
    std::string restore = "SET ";
    const char* names[4] = {"CHARACTER_SET_CLIENT", "CHARACTER_SET_CONNECTION",
                            "CHARACTER_SET_RESULTS", "COLLATION_CONNECTION"};
    for (int i = 0; i < 4; ++i) {
      if (i > 0) restore += ", ";
      // NULL results (no conversion) are restored as NULL.
      restore += std::string(names[i]) + "=" + (m_saved[i].empty() ? "NULL" : "'" + m_saved[i] + "'");
    }
    (void)m_connection.Execute(restore);
  }
  CUtf8mb4Names(const CUtf8mb4Names&) = delete;
  CUtf8mb4Names& operator=(const CUtf8mb4Names&) = delete;

 private:
  CMySQLConnection& m_connection;
  std::string m_saved[4];
  std::string m_libraryCharset;
  bool m_switched = false;
};

}  // namespace

bool SelectDatabase(CMySQLConnection& connection, const std::string& database) {
  if (!connection.IsOpen()) return false;
  std::optional<CUtf8mb4Names> names;
  if (!IsAscii(database)) names.emplace(connection);
  return mysql_select_db(connection.Handle(), database.c_str()) == 0;
}

namespace {

// The name after `keyword` in `text` (letters, digits and "_"), or "".
std::string WordAfter(const std::string& text, const std::string& keyword) {
  const auto at = text.find(keyword);
  if (at == std::string::npos) return {};
  std::size_t end = at + keyword.size();
  while (end < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '_')) {
    ++end;
  }
  return text.substr(at + keyword.size(), end - at - keyword.size());
}

}  // namespace

DatabaseDefaults ReadDatabaseDefaults(CMySQLConnection& connection, const std::string& database) {
  if (!connection.IsOpen() || !HasCharacterSets(connection.ServerVersion())) return {};
  std::optional<CUtf8mb4Names> names;
  if (!IsAscii(database)) names.emplace(connection);
  MySqlResult result =
      Query(connection.Handle(), "SHOW CREATE DATABASE " + QuoteName(database, true));
  MYSQL_ROW row =
      result && mysql_num_fields(result.get()) >= 2 ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr || row[1] == nullptr) return {};
  // "CREATE DATABASE `db` /*!40100 DEFAULT CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci */";
  // only what follows the name is read, as the name may hold these words too.
  const std::string text = row[1];
  std::size_t at = text.find('`');
  while (at != std::string::npos && at + 1 < text.size()) {
    at = text.find('`', at + 1);
    if (at == std::string::npos || at + 1 >= text.size() || text[at + 1] != '`') break;
    ++at;  // a doubled backtick inside the name
  }
  if (at == std::string::npos) return {};
  const std::string options = text.substr(at);
  return {WordAfter(options, "CHARACTER SET "), WordAfter(options, "COLLATE ")};
}

std::vector<std::string> ListDatabases(CMySQLConnection& connection, bool* failed) {
  std::vector<std::string> names;
  if (failed != nullptr) *failed = true;
  if (!connection.IsOpen()) return names;
  CUtf8mb4Names utf8mb4(connection);
  MySqlResult result(mysql_list_dbs(connection.Handle(), nullptr));
  if (!result) return names;
  if (failed != nullptr) *failed = false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    names.emplace_back(row[0] != nullptr ? std::string(row[0], lengths[0]) : std::string());
  }
  return names;
}

namespace {

// The tables of the current database, each classified with `quote`, all with `selected`.
// `failed` (when given) tells an empty database from a listing that failed.
std::vector<TableItem> ServerTables(CMySQLConnection& connection, const std::string& database,
                                    bool quote, std::uint8_t selected, bool* failed = nullptr) {
  std::vector<TableItem> tables;
  std::vector<std::string> names;
  CUtf8mb4Names utf8mb4(connection);
  {
    MySqlResult result(mysql_list_tables(connection.Handle(), nullptr));
    if (failed != nullptr) *failed = !result;
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
                                           const std::vector<DatabaseItem>& saved, bool quote,
                                           std::vector<std::string>* problems) {
  const bool newDatabases = settings.IncludeNewDatabases != 0;
  const bool newTables = settings.IncludeNewTables != 0;
  std::vector<DatabaseItem> resolved = saved;
  if (!newDatabases && !newTables) return resolved;
  const auto problem = [&](const std::string& text) {
    if (problems != nullptr) problems->push_back(WithServerError(text, connection.LastError()));
  };

  std::vector<DatabaseItem> server;
  CUtf8mb4Names utf8mb4(connection);
  bool listingFailed = false;
  const std::vector<std::string> names = ListDatabases(connection, &listingFailed);
  if (listingFailed) {
    problem(
        "Failed to list the databases of the server! New databases and tables are not "
        "included.");
  }
  for (const std::string& name : names) {
    DatabaseItem item;
    item.Selected = 2;
    item.DatabaseName = name;
    bool tablesFailed = true;
    if (mysql_select_db(connection.Handle(), name.c_str()) == 0) {
      item.Tables = ServerTables(connection, name, quote, 2, &tablesFailed);
    }
    const bool tablesWanted = FindDatabase(resolved, name) != nullptr ? newTables : newDatabases;
    if (tablesFailed && tablesWanted) {
      problem("Failed to list the tables of the database! New tables are not included. - " + name);
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

bool SelectionHasTables(const std::vector<DatabaseItem>& resolved) {
  for (const DatabaseItem& database : resolved) {
    if (database.Selected == 0) continue;
    for (const TableItem& table : database.Tables) {
      if (table.Selected != 0) return true;
    }
  }
  return false;
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
