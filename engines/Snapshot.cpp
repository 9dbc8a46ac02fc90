#include "engines/Snapshot.h"

#include <cstdlib>
#include <optional>

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

// The first row of a small result, NULL as nullopt; empty when the query fails or
// returns no row.
std::vector<std::optional<std::string>> FirstRow(CMySQLConnection& connection,
                                                 const std::string& query) {
  std::vector<std::optional<std::string>> values;
  if (!connection.Execute(query)) return values;
  MySqlResult result(mysql_store_result(connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return values;
  const unsigned long* lengths = mysql_fetch_lengths(result.get());
  for (unsigned int i = 0; i < mysql_num_fields(result.get()); ++i) {
    if (row[i] == nullptr) {
      values.emplace_back();
    } else {
      values.emplace_back(std::string(row[i], lengths[i]));
    }
  }
  return values;
}

bool WritesBinaryLog(CMySQLConnection& connection) {
  const auto row = FirstRow(connection, "SELECT @@GLOBAL.log_bin");
  return !row.empty() && row[0] && (*row[0] == "1" || *row[0] == "ON");
}

// MariaDB: the position the connection's snapshot transaction saw, and its GTID position.
std::optional<ManifestBinlog> SnapshotBinlogPosition(CMySQLConnection& connection) {
  if (!connection.Execute("SHOW STATUS LIKE 'binlog_snapshot_%'")) return std::nullopt;
  MySqlResult result(mysql_store_result(connection.Handle()));
  if (!result) return std::nullopt;
  ManifestBinlog binlog;
  bool hasPosition = false;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    if (row[0] == nullptr || row[1] == nullptr) continue;
    const std::string name = row[0];
    if (name == "Binlog_snapshot_file") binlog.File = row[1];
    if (name == "Binlog_snapshot_position") {
      binlog.Position = std::strtoull(row[1], nullptr, 10);
      hasPosition = true;
    }
  }
  if (binlog.File.empty() || !hasPosition) return std::nullopt;
  const auto gtid =
      FirstRow(connection, "SELECT BINLOG_GTID_POS(" + Literal(connection.Handle(), binlog.File) +
                               ", " + std::to_string(binlog.Position) + ")");
  if (!gtid.empty() && gtid[0]) binlog.GtidPosition = *gtid[0];
  return binlog;
}

// Other servers, while writes are held: the log's current end and the executed GTID set.
std::optional<ManifestBinlog> LockedBinlogPosition(CMySQLConnection& connection) {
  auto row = FirstRow(connection, "SHOW MASTER STATUS");
  if (row.empty()) row = FirstRow(connection, "SHOW BINARY LOG STATUS");
  if (row.size() < 2 || !row[0] || !row[1] || row[0]->empty()) return std::nullopt;
  ManifestBinlog binlog;
  binlog.File = *row[0];
  binlog.Position = std::strtoull(row[1]->c_str(), nullptr, 10);
  if (row.size() > 4 && row[4]) binlog.GtidPosition = *row[4];
  return binlog;
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

SnapshotOpened BeginConsistentSnapshot(TaskRunContext& context,
                                       const std::vector<CMySQLConnection*>& readers,
                                       const std::vector<DatabaseItem>& selection,
                                       bool binlogPosition) {
  SnapshotOpened opened;
  if (readers.empty()) return opened;
  CMySQLConnection& first = *readers.front();
  const bool binlog = binlogPosition && WritesBinaryLog(first);
  const bool mariadb = first.ServerVersionText().find("MariaDB") != std::string::npos;
  // One reader needs no lock: its own snapshot is the run's. Several start theirs while
  // writes wait, so all see the same moment.
  bool locked = false;
  if (readers.size() > 1 || (binlog && !mariadb)) {
    locked = first.Execute("FLUSH TABLES WITH READ LOCK");
    if (!locked && readers.size() > 1) {
      context.Log(LogLevel::Warning,
                  WithServerError("Could not hold writes while the snapshot starts; each "
                                  "connection reads its own moment",
                                  first.LastError()));
    }
  }
  bool started = true;
  for (CMySQLConnection* reader : readers) {
    if (!reader->Execute("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ") ||
        !reader->Execute("START TRANSACTION WITH CONSISTENT SNAPSHOT")) {
      started = false;
      context.Log(LogLevel::Warning,
                  WithServerError("Could not start a consistent snapshot; tables are read one "
                                  "after another",
                                  reader->LastError()));
    }
  }
  if (binlog && started) {
    if (mariadb) {
      opened.Binlog = SnapshotBinlogPosition(first);
    } else if (locked) {
      opened.Binlog = LockedBinlogPosition(first);
    }
  }
  if (locked) (void)first.Execute("UNLOCK TABLES");
  opened.Consistent = started && (readers.size() == 1 || locked);
  if (binlog && opened.Consistent && !opened.Binlog) {
    context.Log(LogLevel::Warning,
                WithServerError("Could not read the binary log position of the snapshot; the "
                                "copy does not record it",
                                first.LastError()));
  }

  const std::string plain = NonTransactionalTables(first, selection);
  if (!plain.empty()) {
    context.Log(LogLevel::Warning, "Tables without transactions are read as they are when the "
                                   "run reaches them, outside the snapshot: " +
                                       plain);
  }
  return opened;
}

}  // namespace brevanto
