#pragma once
// CMySQLConnection, its canceler and the connect every engine opens its sessions with,
// and the session settings every run gives them (time zone, SQL mode).
//
// A CMySQLConnection is used by one thread only. The one exception is its canceler
// (CancelHandle()), which any thread may call to release a worker blocked in the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "core/Status.h"
#include "engines/MySqlHandles.h"
// The jobs split off this header, included for the engines that use them all.
#include "engines/ServerCatalogue.h"
#include "engines/SessionCharset.h"
#include "engines/SqlQuoting.h"

namespace brevanto {

class TaskRunContext;

// What a connection is for, which decides its time-outs.
enum class ConnectPurpose {
  // Statements that may legitimately run for hours (scripts, restores, ALTER TABLE):
  // no read or write time-out; a stop request and KILL QUERY end them.
  Statements,
  // Reading rows (dumps, copies, exports): a server silent this long has hung.
  StreamRows,
  // The short connection that sends KILL QUERY for a stopped run: it must not hold up
  // the stop for long.
  Kill,
};

inline constexpr unsigned int kConnectTimeoutSeconds = 30;
inline constexpr unsigned int kStreamTimeoutSeconds = 600;
inline constexpr unsigned int kKillTimeoutSeconds = 5;

// The three server-version tests of the SQL dialect; `version` is
// mysql_get_server_version (major * 10000 + minor * 100 + release).
bool AllowsBacktickQuoting(unsigned long version);  // >= 32306
bool HasShowCreateTable(unsigned long version);     // >= 32320
bool HasCharacterSets(unsigned long version);       // >= 40100

// Initialises the client library for threaded use. Idempotent and thread-safe; every
// function here calls it, the programs call it once before any worker starts.
void InitMySqlLibrary();

// mysql_errno and mysql_error of a failed call.
struct MySqlError {
  unsigned int Number = 0;
  std::string Text;
};

// `text` (a documented log message) followed by the server's reason, e.g.
// "Failed to ...! (error 1146: Table 'db.t' doesn't exist)". The documented text stays a
// prefix, so readers that match it still do; an empty error adds nothing.
std::string WithServerError(const std::string& text, const MySqlError& error);

// True for the client errors that mean the session is gone (server gone away, lost
// connection, killed connection): nothing more can run on it.
bool IsLostConnection(unsigned int errorNumber);

// Cancels the statement a connection is running, from any thread: KILL QUERY on a short
// connection of its own (so the statement ends on the server too, not only the socket),
// then mariadb_cancel. Shared between the connection and whoever may cancel it; after the
// connection is closed, Cancel() does nothing.
class ConnectionCanceler {
 public:
  void Cancel();

  // For a watchdog on another thread: which statement the connection runs, a number that
  // changes with every statement; 0 while none runs.
  std::uint64_t RunningStatement() const {
    const std::uint64_t count = m_statements.load();
    return count % 2 == 1 ? count : 0;
  }
  enum class SessionCheck { Alive, Gone, NoAnswer };
  // Asks the server on a new connection whether the connection's session is still there;
  // NoAnswer when the connect or the question takes longer than `timeoutSeconds`.
  SessionCheck CheckSession(unsigned int timeoutSeconds);
  // Ends a wait on a server that no longer answers: the socket only, since the server
  // cannot be asked to end the statement.
  void CutOff();
  // The host the connection reached, for messages.
  std::string Host();

 private:
  friend class CMySQLConnection;
  void KillQuery();

  std::atomic<std::uint64_t> m_statements{0};  // odd while a statement runs
  std::mutex m_lock;                           // guards the members below
  MYSQL* m_handle = nullptr;
  CServerInfo m_server;          // how the connection reached its server
  unsigned long m_threadId = 0;  // its session on that server
};

// An open connection: the handle, the server version number and text. Move-only;
// closes the handle when destroyed.
class CMySQLConnection {
 public:
  CMySQLConnection() = default;
  ~CMySQLConnection();
  CMySQLConnection(CMySQLConnection&& other) noexcept;
  CMySQLConnection& operator=(CMySQLConnection&& other) noexcept;
  CMySQLConnection(const CMySQLConnection&) = delete;
  CMySQLConnection& operator=(const CMySQLConnection&) = delete;

  bool IsOpen() const { return m_handle != nullptr; }
  MYSQL* Handle() const { return m_handle.get(); }
  unsigned long ServerVersion() const { return m_version; }
  const std::string& ServerVersionText() const { return m_versionText; }

  // mysql_errno / mysql_error of the last call on this connection.
  MySqlError LastError() const;
  // mysql_real_query with the statement's length; true on success.
  bool Execute(const std::string& statement);

  // Thread-safe cancel for a runner's cancel hook. Valid for the connection's lifetime
  // and harmless after it.
  std::shared_ptr<ConnectionCanceler> CancelHandle() const { return m_canceler; }

  void Close();

 private:
  friend bool ConnectServerWithTimeouts(const CServerInfo&, CMySQLConnection&, MySqlError&,
                                        unsigned int, unsigned int);
  void Adopt(MySqlHandle handle, const CServerInfo& server);

  MySqlHandle m_handle;
  unsigned long m_version = 0;
  std::string m_versionText;
  std::shared_ptr<ConnectionCanceler> m_canceler = std::make_shared<ConnectionCanceler>();
};

// True when `host` is a Unix socket path (starts with "/"). Any other host is reached
// over TCP at the saved port, "localhost" too.
bool IsSocketPath(const std::string& host);

// "$HOME/.my.cnf" when it exists and can be read, else "".
std::string UserOptionFile();

// Connects with the saved settings (compression and SSL flags; no database). A server
// without a password takes the login from UserOptionFile() as the stock client does
// (see ConnectServer's body). On failure
// `connection` stays closed and `error` holds the handle's errno and text. With UseSSL a
// connection that did not negotiate TLS, or whose certificate is not trusted
// (engines/ServerTls.h), counts as failed before anything of the login is sent. Every connection
// gives up on a server that does not complete the connect within kConnectTimeoutSeconds and uses
// TCP keepalive, so a peer that died is noticed within a few minutes; a StreamRows connection also
// fails after kStreamTimeoutSeconds without a byte either way.
[[nodiscard]] bool ConnectServer(const CServerInfo& server, CMySQLConnection& connection,
                                 MySqlError& error,
                                 ConnectPurpose purpose = ConnectPurpose::Statements);

// As ConnectServer, with the connect and the read and write time-outs given (0: none).
[[nodiscard]] bool ConnectServerWithTimeouts(const CServerInfo& server,
                                             CMySQLConnection& connection, MySqlError& error,
                                             unsigned int connectSeconds, unsigned int ioSeconds);

// Which of the worker messages a connect logs.
enum class ServerRole {
  OnlySource,       // one-server tasks
  OnlyDestination,  // RestoreFromFiles: its one server is the destination
  Source,           // two-server tasks
  Destination,
};

// The worker's connect: logs the connecting, success or failure message for `role`,
// installs nothing. Returns false after logging the Error entry.
[[nodiscard]] bool ConnectServerForTask(TaskRunContext& context, const CServerInfo& server,
                                        ServerRole role, CMySQLConnection& connection,
                                        ConnectPurpose purpose = ConnectPurpose::Statements);

// SET TIME_ZONE='+00:00': TIMESTAMP values are then read and written as stored, so a
// copy or a restore in another time zone does not shift them. An Error (kUtcTimeZoneFailed
// with the server's reason) when refused by a server that has time zones (4.1.3 on).
Status UseUtcTimeZone(CMySQLConnection& connection);
inline constexpr const char* kUtcTimeZoneFailed =
    "Failed to set the session time zone to UTC! TIMESTAMP values would be shifted.";

// Gives the session an empty SQL mode, as the stock dump tool does, whatever the server's
// global one: under NO_BACKSLASH_ESCAPES values would be escaped by doubling quotes, and
// under ANSI_QUOTES SHOW CREATE would quote names with double quotes, while the files
// and the destinations read backslash escapes and backticks. For every session that
// reads for a dump, copy or export and every one that writes a copy. An Error
// (kSqlModeFailed with the server's reason) when refused.
Status UseKnownSqlMode(CMySQLConnection& connection);
inline constexpr const char* kSqlModeFailed =
    "Failed to set the session SQL mode! Values and names could be read in another quoting.";

// What the server says about itself (host name, port, data folder), to tell whether two
// sessions reach the same server whatever host text led to it. Empty when it won't say.
std::string ServerIdentity(CMySQLConnection& connection);

// The session's @@max_allowed_packet; 0 when the server will not say.
std::size_t MaxAllowedPacket(CMySQLConnection& connection);

}  // namespace brevanto
