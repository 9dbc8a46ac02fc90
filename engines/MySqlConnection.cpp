#include "engines/MySqlConnection.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

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
  MySqlResult result = StoreQuery(
      checker.Handle(),
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + std::to_string(threadId));
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
    default: return false;
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
  const std::string optionFile = !server.Password.empty()       ? std::string()
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
  if (!ConfirmServerTls(handle.get(), server, error)) return false;
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
  MySqlResult result = StoreQuery(connection.Handle(), "SELECT @@HOSTNAME, @@PORT, @@DATADIR");
  if (!result || mysql_num_fields(result.get()) != 3) return {};
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || row[0] == nullptr || row[1] == nullptr || row[2] == nullptr) return {};
  return std::string(row[0]) + '\n' + row[1] + '\n' + row[2];
}

}  // namespace brevanto
