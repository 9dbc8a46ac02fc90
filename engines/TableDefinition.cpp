#include "engines/TableDefinition.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "engines/MySqlConnection.h"
#include "engines/ValueRenderer.h"

namespace brevanto {

namespace {

constexpr std::string_view kCreateTable = "CREATE TABLE";

std::string Trimmed(std::string_view text) {
  const char* blanks = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The declared type of a column as SHOW COLUMNS reports it, keyword upper-cased; the
// value list of SET and ENUM keeps its case. Empty when the server does not answer.
std::string DeclaredType(CMySQLConnection* connection, const std::string& table,
                         const std::string& column, bool quote) {
  if (connection == nullptr || !connection->IsOpen()) return {};
  const std::string query = "SHOW COLUMNS FROM " + QuoteName(table, quote) + " LIKE '" +
                            ExactLikePattern(connection->Handle(), column) + "'";
  if (!connection->Execute(query)) return {};
  MySqlResult result(mysql_store_result(connection->Handle()));
  if (!result) return {};
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || mysql_num_fields(result.get()) < 2 || row[1] == nullptr) return {};
  std::string type = Trimmed(row[1]);
  if (Upper(type.substr(0, 3)) == "SET") return "SET" + type.substr(3);
  if (type.size() > 3 && Upper(type.substr(0, 4)) == "ENUM") return "ENUM" + type.substr(4);
  return Upper(type);
}

std::string EscapeDefault(CMySQLConnection* connection, const std::string& value) {
  std::string out(value.size() * 2 + 1, '\0');
  const unsigned long length =
      connection != nullptr && connection->IsOpen()
          ? mysql_real_escape_string(connection->Handle(), out.data(), value.data(), value.size())
          : EscapeWithoutCharset(out.data(), value.data(), value.size());
  out.resize(length);
  return out;
}

std::string SignFlags(const MYSQL_FIELD& field) {
  std::string flags;
  if ((field.flags & UNSIGNED_FLAG) != 0) flags += "UNSIGNED ";
  if ((field.flags & ZEROFILL_FLAG) != 0) flags += "ZEROFILL ";
  return flags;
}

// The type part of a column clause; `quotedDefault` tells whether a default is quoted.
std::string TypePart(CMySQLConnection* connection, const std::string& table,
                     const MYSQL_FIELD& field, bool quote, bool& quotedDefault) {
  const std::string width = std::to_string(field.length);
  quotedDefault = false;
  switch (field.type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL: return "DECIMAL " + SignFlags(field);
    case MYSQL_TYPE_TINY: return "TINYINT(" + width + ") " + SignFlags(field);
    case MYSQL_TYPE_SHORT: return "SMALLINT(" + width + ") " + SignFlags(field);
    case MYSQL_TYPE_LONG: return "INT(" + width + ") " + SignFlags(field);
    case MYSQL_TYPE_INT24: return "MEDIUMINT(" + width + ") " + SignFlags(field);
    case MYSQL_TYPE_LONGLONG: return "BIGINT(" + width + ") " + SignFlags(field);
    case MYSQL_TYPE_FLOAT: return "FLOAT " + SignFlags(field);
    case MYSQL_TYPE_DOUBLE: return "DOUBLE " + SignFlags(field);
    case MYSQL_TYPE_TIMESTAMP: quotedDefault = true; return "TIMESTAMP ";
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE: quotedDefault = true; return "DATE ";
    case MYSQL_TYPE_TIME: quotedDefault = true; return "TIME ";
    case MYSQL_TYPE_DATETIME: quotedDefault = true; return "DATETIME ";
    case MYSQL_TYPE_YEAR: quotedDefault = true; return "YEAR ";
    case MYSQL_TYPE_BIT: return field.length < 2 ? "BIT " : "BIT(" + width + ") ";
    case MYSQL_TYPE_GEOMETRY: return "GEOMETRY ";
    case MYSQL_TYPE_NULL: return "NULL ";
    default:
      // Character types, and types this code does not know: the server's own words, so
      // the column stays in the definition that the rows are inserted into. Their
      // defaults are text, and a bare word after DEFAULT would not restore.
      quotedDefault = true;
      return DeclaredType(connection, table, field.name != nullptr ? field.name : "", quote) + " ";
  }
}

}  // namespace

bool ReadCreateTable(CMySQLConnection& connection, const std::string& table, std::string& out) {
  out.clear();
  if (!connection.Execute("SHOW CREATE TABLE " + QuoteName(table, true))) return false;
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result) return false;
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || mysql_num_fields(result.get()) < 2 || row[1] == nullptr) return true;
  const unsigned long* lengths = mysql_fetch_lengths(result.get());
  out.reserve(lengths[1]);
  for (unsigned long i = 0; i < lengths[1]; ++i) {
    const char c = row[1][i];
    if (c != '\r' && c != '\n') out += c;
  }
  if (out.size() > kCreateTable.size() && std::string_view(out).substr(0, 12) == kCreateTable) {
    out.replace(0, kCreateTable.size(), "CREATE TABLE IF NOT EXISTS");
  }
  return true;
}

std::string SynthesizeCreateTable(CMySQLConnection* connection, const std::string& table,
                                  const std::string& engine, const MYSQL_FIELD* fields,
                                  unsigned int count, bool quote) {
  std::string statement = "CREATE TABLE IF NOT EXISTS " + QuoteName(table, quote) + "(";
  std::string primaryKey;
  for (unsigned int i = 0; i < count; ++i) {
    const MYSQL_FIELD& field = fields[i];
    const std::string name = QuoteName(field.name != nullptr ? field.name : "", quote);
    bool quotedDefault = false;
    std::string clause = name + " " + TypePart(connection, table, field, quote, quotedDefault);
    clause += (field.flags & NOT_NULL_FLAG) != 0 ? "NOT NULL " : "NULL ";
    const std::string defaultValue = field.def != nullptr ? field.def : "";
    if ((field.flags & AUTO_INCREMENT_FLAG) != 0) {
      clause += "AUTO_INCREMENT ";
    } else if (!defaultValue.empty()) {
      clause += "DEFAULT ";
      if (quotedDefault && defaultValue != "NULL") {
        clause += "'" + EscapeDefault(connection, defaultValue) + "'";
      } else {
        clause += defaultValue;
      }
      clause += " ";
    }
    if (!clause.empty() && clause.back() == ' ') clause.pop_back();
    statement += clause + ", ";
    if ((field.flags & PRI_KEY_FLAG) != 0) {
      if (!primaryKey.empty()) primaryKey += ", ";
      primaryKey += name;
    }
  }
  if (statement.size() > 1) statement.erase(statement.size() - 2);
  if (!primaryKey.empty()) statement += ", PRIMARY KEY (" + primaryKey + ")";
  statement += engine.empty() ? ")" : ")TYPE=" + engine;
  return statement;
}

bool GetTableDefinition(CMySQLConnection& connection, const std::string& table,
                        const std::string& engine, const MYSQL_FIELD* fields, unsigned int count,
                        bool quote, bool hasShowCreateTable, std::string& out) {
  if (hasShowCreateTable) {
    if (!ReadCreateTable(connection, table, out)) return false;
  } else {
    out = SynthesizeCreateTable(&connection, table, engine, fields, count, quote);
  }
  if (!out.empty() && out.back() == ';') out.pop_back();
  return true;
}

std::vector<std::string> ColumnsNamedForInvisible(CMySQLConnection& connection,
                                                  const std::string& table, bool quote,
                                                  bool withComputed) {
  if (!connection.IsOpen() || !connection.Execute("SHOW COLUMNS FROM " + QuoteName(table, quote))) {
    return {};
  }
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result) return {};
  const unsigned int count = mysql_num_fields(result.get());
  const MYSQL_FIELD* fields = mysql_fetch_fields(result.get());
  unsigned int extra = count;
  for (unsigned int i = 0; i < count; ++i) {
    if (fields[i].name != nullptr && Upper(fields[i].name) == "EXTRA") extra = i;
  }
  if (extra == count) return {};
  std::vector<std::string> columns;
  bool invisible = false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr) return {};
    const std::string flags = row[extra] != nullptr ? Upper(row[extra]) : std::string();
    // Generated and row-period values are the server's own: an INSERT naming them fails.
    // A default expression ("DEFAULT_GENERATED") is an ordinary column.
    const bool computed = flags.find("VIRTUAL GENERATED") != std::string::npos ||
                          flags.find("STORED GENERATED") != std::string::npos ||
                          flags.find("PERSISTENT") != std::string::npos ||
                          flags.find("ROW START") != std::string::npos ||
                          flags.find("ROW END") != std::string::npos;
    if (computed && !withComputed) continue;
    if (flags.find("INVISIBLE") != std::string::npos) invisible = true;
    columns.emplace_back(row[0]);
  }
  if (!invisible) return {};
  return columns;
}

std::string SelectRowsQuery(const std::string& table, const std::vector<std::string>& columns,
                            bool quote, const std::string& extra) {
  std::string query = "SELECT ";
  if (columns.empty()) query += '*';
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) query += ',';
    query += QuoteName(columns[i], quote);
  }
  return query + extra + " FROM " + QuoteName(table, quote);
}

}  // namespace brevanto
