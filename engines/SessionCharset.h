#pragma once
// The character sets of a session: aligning it with the server's or a database's
// default, choosing the one a table's rows are read in, and switching to utf8mb4 for
// as long as names are listed or used.

#include <string>

namespace brevanto {

class CMySQLConnection;

// Queries the server's (or, with `database`, the current database's) default character
// set and applies it to the connection; returns the trimmed name, empty when unknown.
std::string ApplyDefaultCharset(CMySQLConnection& connection, bool database,
                                unsigned long serverVersion);

// Sends SET NAMES (or the three SET statements before 4.1) for `charset`; results ignored.
void SetConnectionCharacterSet(CMySQLConnection& connection, const std::string& charset,
                               unsigned long serverVersion);

// The session's @@CHARACTER_SET_RESULTS: what its rows arrive in. Empty when unknown.
std::string SessionCharset(CMySQLConnection& connection);

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

// True when every byte of `text` is ASCII.
bool IsAscii(const std::string& text);

// Switches a session to utf8mb4 for as long as it lives, then back to exactly the
// character sets it had. Names are listed and used in utf8mb4, so that every name
// survives whatever character set the session reads its data in.
class Utf8mb4Names {
 public:
  explicit Utf8mb4Names(CMySQLConnection& connection);
  ~Utf8mb4Names();
  Utf8mb4Names(const Utf8mb4Names&) = delete;
  Utf8mb4Names& operator=(const Utf8mb4Names&) = delete;

 private:
  CMySQLConnection& m_connection;
  std::string m_saved[4];
  std::string m_libraryCharset;
  bool m_switched = false;
};

}  // namespace brevanto
