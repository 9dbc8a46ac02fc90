#pragma once
// CMySQLConnection and the operations every engine opens its connections with:
// connect, align the character set, classify, list and resolve the task's selection.
//
// A CMySQLConnection is used by one thread only. The one exception is its canceler
// (CancelHandle()), which any thread may call to release a worker blocked in the server.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Status.h"
#include "engines/MySqlHandles.h"
#include "tasks/TaskItem.h"

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
  std::mutex m_lock;  // guards the members below
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
// (engines/ServerTls.h), counts as failed before anything of the login is sent. Every connection gives up on a
// server that does not complete the connect within kConnectTimeoutSeconds and uses TCP
// keepalive, so a peer that died is noticed within a few minutes; a StreamRows
// connection also fails after kStreamTimeoutSeconds without a byte either way.
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

// Queries the server's (or, with `database`, the current database's) default character
// set and applies it to the connection; returns the trimmed name, empty when unknown.
std::string ApplyDefaultCharset(CMySQLConnection& connection, bool database,
                                unsigned long serverVersion);

// Sends SET NAMES (or the three SET statements before 4.1) for `charset`; results ignored.
void SetConnectionCharacterSet(CMySQLConnection& connection, const std::string& charset,
                               unsigned long serverVersion);

// A database's default character set and collation; either is empty when unknown.
struct DatabaseDefaults {
  std::string Charset;
  std::string Collation;
};

// What SHOW CREATE DATABASE says of `database` (servers from 4.1 on). Its collation must
// go with every CREATE DATABASE a dump or copy makes: without it the database, and the
// triggers, routines and events created in it, get the server's default collation.
DatabaseDefaults ReadDatabaseDefaults(CMySQLConnection& connection, const std::string& database);

// The session's @@CHARACTER_SET_RESULTS: what its rows arrive in. Empty when unknown.
std::string SessionCharset(CMySQLConnection& connection);

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

// mysql_select_db; a name that is not ASCII is sent in utf8mb4, as names are listed.
[[nodiscard]] bool SelectDatabase(CMySQLConnection& connection, const std::string& database);

// The character set to read `table`'s rows in: "utf8mb4" when one of its non-binary
// columns uses a character set other than `databaseCharset` (so that characters the
// database default cannot hold survive) or when the database or table name is not
// ASCII, otherwise `databaseCharset` itself. An empty
// `databaseCharset` is returned unchanged.
// With `forStatements` (dumps and copies, whose rows become SQL text) the sets whose
// two-byte characters may end in a backslash byte (sjis, cp932, big5, gbk) give utf8mb4.
std::string TableReadCharset(CMySQLConnection& connection, const std::string& database,
                             const std::string& table, const std::string& databaseCharset,
                             bool forStatements = true);

// 1 base table, 2 view, 0 unknown (the query failed or the server answered otherwise).
std::uint8_t ClassifyTable(CMySQLConnection& connection, const std::string& table, bool quote);

// Names are listed (and tables classified) with the session in utf8mb4, then its
// character sets are put back as they were.
// Every database of the server, in server order; empty when listing fails, and then
// `failed` (when given) is set.
std::vector<std::string> ListDatabases(CMySQLConnection& connection, bool* failed = nullptr);

// REQUIRES: `database` is the connection's current database.
// Appends the database's tables (Selected 0, classified) to `out`.
void ListDatabaseTables(CMySQLConnection& connection, const std::string& database,
                        unsigned long serverVersion, std::vector<TableItem>& out);

// The run's selection: the saved one, plus the server's new databases and/or tables
// when the settings ask for them (added items carry Selected 2). A listing that fails
// adds its Error text to `problems`: an empty answer is not "nothing new".
std::vector<DatabaseItem> ResolveSelection(CMySQLConnection& connection,
                                           const BackupSettings& settings,
                                           const std::vector<DatabaseItem>& saved, bool quote,
                                           std::vector<std::string>* problems = nullptr);
// Whether a resolved selection holds any table or view to work on. A run with none
// would end "Finished" having done nothing, and nobody would notice.
bool SelectionHasTables(const std::vector<DatabaseItem>& resolved);
inline constexpr const char* kNoTableSelected =
    "The selected databases hold no selected table or view: there is nothing to do!";

// Backticks around `name` (a backtick inside doubled) when `quote`, else the bare name.
std::string QuoteName(const std::string& name, bool quote);

// `name` as a LIKE pattern that matches only itself, escaped for a quoted literal on
// `handle`: "_" and "%" would otherwise match other tables or columns, and a quote
// would end the literal.
std::string ExactLikePattern(MYSQL* handle, const std::string& name);

}  // namespace brevanto
