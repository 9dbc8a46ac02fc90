#pragma once
// One-line CREATE TABLE statements: read from the server (SHOW CREATE TABLE) or, for
// servers without it, synthesized from the column descriptions. Called on the thread
// that owns the connection.

#include <string>
#include <vector>

#include <mysql.h>

namespace brevanto {

class CMySQLConnection;

// SHOW CREATE TABLE `table` (always backticks), column 1 of the first row with every CR
// and LF dropped; "CREATE TABLE" becomes "CREATE TABLE IF NOT EXISTS". False when the
// query or storing its result fails; no row gives true and an empty `out`.
[[nodiscard]] bool ReadCreateTable(CMySQLConnection& connection, const std::string& table,
                                   std::string& out);

// The definition built from `fields` (mysql_list_fields of the table) for servers older
// than 3.23.20. Character, ENUM and SET columns ask the server for their declared type.
std::string SynthesizeCreateTable(CMySQLConnection* connection, const std::string& table,
                                  const std::string& engine, const MYSQL_FIELD* fields,
                                  unsigned int count, bool quote);

// ReadCreateTable when `hasShowCreateTable`, else SynthesizeCreateTable; a trailing ";"
// is removed either way.
[[nodiscard]] bool GetTableDefinition(CMySQLConnection& connection, const std::string& table,
                                      const std::string& engine, const MYSQL_FIELD* fields,
                                      unsigned int count, bool quote, bool hasShowCreateTable,
                                      std::string& out);

// SELECT * and an INSERT without a column list both leave out INVISIBLE columns, so a
// table that has them is read and written by name. Returns every column a row can be
// inserted into, in table order (generated and row-period columns left out), when
// `table` has a user INVISIBLE column; empty when it has none or the server cannot say,
// and the table is then read with SELECT * as before. `withComputed` keeps the generated
// and row-period columns too, for readers that only read (exports).
std::vector<std::string> ColumnsNamedForInvisible(CMySQLConnection& connection,
                                                  const std::string& table, bool quote,
                                                  bool withComputed = false);

// "SELECT * FROM table", or with `columns` "SELECT a,b FROM table"; `extra` (",expr...")
// goes at the end of the select list.
std::string SelectRowsQuery(const std::string& table, const std::vector<std::string>& columns,
                            bool quote, const std::string& extra = {});

}  // namespace brevanto
