#include "engines/ServerCatalogue.h"

#include <cctype>
#include <optional>

#include "engines/MySqlConnection.h"
#include "engines/SessionCharset.h"
#include "engines/SqlQuoting.h"

namespace brevanto {

namespace {

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

std::uint8_t ClassifyTable(CMySQLConnection& connection, const std::string& table, bool quote) {
  if (!connection.IsOpen()) return 0;
  MySqlResult result =
      StoreQuery(connection.Handle(), "SHOW CREATE TABLE " + QuoteName(table, quote));
  if (!result || mysql_num_fields(result.get()) == 0) return 0;
  const MYSQL_FIELD* field = mysql_fetch_field_direct(result.get(), 0);
  if (field == nullptr || field->name == nullptr) return 0;
  const std::string name = field->name;
  if (name == "Table") return 1;
  if (name == "View") return 2;
  return 0;
}

bool SelectDatabase(CMySQLConnection& connection, const std::string& database) {
  if (!connection.IsOpen()) return false;
  std::optional<Utf8mb4Names> names;
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
  std::optional<Utf8mb4Names> names;
  if (!IsAscii(database)) names.emplace(connection);
  MySqlResult result =
      StoreQuery(connection.Handle(), "SHOW CREATE DATABASE " + QuoteName(database, true));
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
  Utf8mb4Names utf8mb4(connection);
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
  Utf8mb4Names utf8mb4(connection);
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
  Utf8mb4Names utf8mb4(connection);
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

}  // namespace brevanto
