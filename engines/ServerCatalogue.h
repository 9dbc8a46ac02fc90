#pragma once
// What a server holds: its databases and their tables (classified as tables or views),
// a database's defaults, and the run's selection resolved against them.

#include <cstdint>
#include <string>
#include <vector>

#include "tasks/TaskItem.h"

namespace brevanto {

class CMySQLConnection;

// A database's default character set and collation; either is empty when unknown.
struct DatabaseDefaults {
  std::string Charset;
  std::string Collation;
};

// What SHOW CREATE DATABASE says of `database` (servers from 4.1 on). Its collation must
// go with every CREATE DATABASE a dump or copy makes: without it the database, and the
// triggers, routines and events created in it, get the server's default collation.
DatabaseDefaults ReadDatabaseDefaults(CMySQLConnection& connection, const std::string& database);

// mysql_select_db; a name that is not ASCII is sent in utf8mb4, as names are listed.
[[nodiscard]] bool SelectDatabase(CMySQLConnection& connection, const std::string& database);

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

}  // namespace brevanto
