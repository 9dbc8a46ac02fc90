#include "engines/SessionCharset.h"

#include "engines/MySqlConnection.h"
#include "engines/SqlQuoting.h"

namespace brevanto {

namespace {

std::string TrimBlanks(const std::string& text) {
  const char* blanks = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
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
  MySqlResult result = StoreQuery(connection.Handle(), "SELECT @@CHARACTER_SET_RESULTS");
  if (!result) return {};
  MYSQL_ROW row = mysql_fetch_row(result.get());
  return row != nullptr && row[0] != nullptr ? TrimBlanks(row[0]) : std::string();
}

std::string ApplyDefaultCharset(CMySQLConnection& connection, bool database,
                                unsigned long serverVersion) {
  if (!connection.IsOpen()) return {};
  std::string name;
  {
    MySqlResult result =
        StoreQuery(connection.Handle(),
                   database ? "SELECT @@CHARACTER_SET_DATABASE" : "SELECT @@CHARACTER_SET_SERVER");
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
  MySqlResult result = StoreQuery(
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

Utf8mb4Names::Utf8mb4Names(CMySQLConnection& connection) : m_connection(connection) {
  if (!connection.IsOpen()) return;
  MySqlResult result = StoreQuery(connection.Handle(),
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

Utf8mb4Names::~Utf8mb4Names() {
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

}  // namespace brevanto
