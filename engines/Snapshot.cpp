#include "engines/Snapshot.h"

#include "engines/MySqlConnection.h"
#include "schedule/TaskRoutine.h"

namespace brevanto {
namespace {

// At most this many table names in one Warning.
constexpr int kNamesInWarning = 10;

std::string Literal(MYSQL* handle, const std::string& text) {
  std::string escaped(text.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(handle, escaped.data(), text.data(),
                                          static_cast<unsigned long>(text.size())));
  return "'" + escaped + "'";
}

}  // namespace

void DropSnapshotBreakingSettings(BackupSettings& settings) {
  settings.LockTablesBeforeStart = 0;
  settings.FlushTablesBeforeStart = 0;
}

std::string NonTransactionalTables(CMySQLConnection& connection,
                                   const std::vector<DatabaseItem>& selection) {
  std::string names;
  int listed = 0;
  int more = 0;
  for (const DatabaseItem& database : selection) {
    if (database.Selected == 0 || database.Tables.empty()) continue;
    const std::string schema = Literal(connection.Handle(), database.DatabaseName);
    if (!connection.Execute("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
                            schema +
                            " AND TABLE_TYPE = 'BASE TABLE' AND ENGINE IS NOT NULL AND ENGINE "
                            "NOT IN ('InnoDB', 'XtraDB', 'RocksDB', 'TokuDB') ORDER BY TABLE_NAME")) {
      continue;
    }
    MySqlResult result(mysql_store_result(connection.Handle()));
    if (!result) continue;
    while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
      const unsigned long* lengths = mysql_fetch_lengths(result.get());
      const std::string table(row[0], lengths[0]);
      bool selected = false;
      for (const TableItem& item : database.Tables) {
        selected = selected || (item.Selected != 0 && item.TableName == table);
      }
      if (!selected) continue;
      if (listed == kNamesInWarning) {
        ++more;
        continue;
      }
      if (listed++ > 0) names += ", ";
      names += database.DatabaseName + "." + table;
    }
  }
  if (more > 0) names += " and " + std::to_string(more) + " more";
  return names;
}

void BeginConsistentSnapshot(TaskRunContext& context, const std::vector<CMySQLConnection*>& readers,
                             const std::vector<DatabaseItem>& selection) {
  if (readers.empty()) return;
  CMySQLConnection& first = *readers.front();
  // One reader needs no lock: its own snapshot is the run's. Several start theirs while
  // writes wait, so all see the same moment.
  bool locked = false;
  if (readers.size() > 1) {
    locked = first.Execute("FLUSH TABLES WITH READ LOCK");
    if (!locked) {
      context.Log(LogLevel::Warning,
                  WithServerError("Could not hold writes while the snapshot starts; each "
                                  "connection reads its own moment",
                                  first.LastError()));
    }
  }
  for (CMySQLConnection* reader : readers) {
    if (!reader->Execute("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ") ||
        !reader->Execute("START TRANSACTION WITH CONSISTENT SNAPSHOT")) {
      context.Log(LogLevel::Warning,
                  WithServerError("Could not start a consistent snapshot; tables are read one "
                                  "after another",
                                  reader->LastError()));
    }
  }
  if (locked) (void)first.Execute("UNLOCK TABLES");

  const std::string plain = NonTransactionalTables(first, selection);
  if (!plain.empty()) {
    context.Log(LogLevel::Warning, "Tables without transactions are read as they are when the "
                                   "run reaches them, outside the snapshot: " +
                                       plain);
  }
}

}  // namespace brevanto
