#pragma once
// CLoadTransaction: loads a table's rows in one transaction on the destination, committed
// again every so many bytes so the server's undo log stays bounded. With the session's
// unique and foreign-key checks off (BeginFastLoad) this is the quick way to load rows a
// consistent source already checked. Borrows the connection; used by one thread.

#include <cstddef>
#include <cstdint>
#include <string>

namespace brevanto {

class CMySQLConnection;

// The bytes of statements of `statementBytes` (0: the task's own size) between commits.
std::size_t LoadCommitBytes(std::uint32_t statementBytes);

// Turns the session's unique and foreign-key checks off, keeping their values for
// EndFastLoad. False when the server refused.
bool BeginFastLoad(CMySQLConnection& connection);
// Gives the session its checks back.
bool EndFastLoad(CMySQLConnection& connection);

// The table an INSERT or REPLACE statement writes to, as written (quotes included);
// empty for any other statement.
std::string InsertTarget(const std::string& statement);
// The name at `i` as written: backtick-quoted (a backtick inside doubled) or bare, with
// its database when qualified ("`db`.`t`"); `i` moves past it. Empty when there is none.
std::string NameAt(const std::string& statement, std::size_t& i);

// LOCK TABLES (Lock) or UNLOCK TABLES (Unlock) statements; None for any other.
enum class TableLockChange { None, Lock, Unlock };
TableLockChange TableLockChangeOf(const std::string& statement);

class CLoadTransaction {
 public:
  CLoadTransaction(CMySQLConnection& connection, std::size_t commitBytes)
      : m_connection(connection), m_commitBytes(commitBytes) {}
  ~CLoadTransaction() = default;
  CLoadTransaction(const CLoadTransaction&) = delete;
  CLoadTransaction& operator=(const CLoadTransaction&) = delete;

  bool IsOpen() const { return m_open; }
  // START TRANSACTION unless one is open.
  bool Begin();
  // After a statement of `bytes` went through: past the commit size the transaction is
  // committed and a new one started.
  bool Sent(std::size_t bytes);
  // COMMIT when a transaction is open.
  bool Commit();

 private:
  CMySQLConnection& m_connection;
  const std::size_t m_commitBytes;
  std::size_t m_bytes = 0;
  bool m_open = false;
};

}  // namespace brevanto
