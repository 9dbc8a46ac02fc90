#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engines/LoadTransaction.h"
#include "engines/ParallelItems.h"
#include "engines/ServerCopyRun.h"

namespace brevanto {

int CServerCopyRun::LanesWanted(const std::vector<DatabaseItem>& databases) const {
  // With foreign-key checks on, a child table's rows must wait for its parent's: the
  // tables then go one after another, in the selection's order.
  if (m_advanced.Threads <= 1 ||
      !(m_advanced.TransactionPerTable || m_settings.AddSetForeignKeyChecks)) {
    return 1;
  }
  std::size_t most = 0;
  for (const DatabaseItem& database : databases) {
    if (database.Selected == 0) continue;
    std::size_t selected = 0;
    for (const TableItem& table : database.Tables) selected += table.Selected != 0 ? 1 : 0;
    most = std::max(most, selected);
  }
  return static_cast<int>(std::min<std::size_t>(m_advanced.Threads, most));
}

void CServerCopyRun::OpenMoreLanes(int wanted) {
  for (int i = 1; i < wanted; ++i) {
    auto lane = std::make_unique<CopyLane>();
    MySqlError error;
    if (!ConnectServer(m_task.SourceServer, lane->source, error, ConnectPurpose::StreamRows) ||
        !ConnectServer(m_task.DestinationServer, lane->destination, error)) {
      m_context.Log(LogLevel::Warning, WithServerError("Could not open another connection; " +
                                                           std::to_string(i) + " at a time",
                                                       error));
      return;
    }
    // The same sessions as the main lane's, set up in the same order.
    // A lane in another time zone would shift TIMESTAMP values: not used.
    const Status sourceUtc = UseUtcTimeZone(lane->source);
    const Status utc = sourceUtc.ok() ? UseUtcTimeZone(lane->destination) : sourceUtc;
    if (!utc.ok()) {
      m_context.Log(LogLevel::Warning, "Could not open another connection; " + std::to_string(i) +
                                           " at a time - " + utc.message());
      return;
    }
    if (m_settings.SetConnectionCharset) {
      (void)ApplyDefaultCharset(lane->source, false, m_sourceVersion);
    }
    lane->sourceCharset = m_serverCharset.empty() ? SessionCharset(lane->source) : m_serverCharset;
    PrepareDestination(*lane);
    m_lanes.push_back(std::move(lane));
  }
}

CopyStep CServerCopyRun::CopyTablesInParallel(const DatabaseItem& database,
                                              const std::string& destinationName) {
  const std::string& name = database.DatabaseName;
  struct Table {
    const TableItem* Item;
    std::uint8_t Kind = 0;
    CopyStep Prepared = CopyStep::Continue;
    LogEntries Log;
  };
  std::vector<Table> tables;
  for (const TableItem& table : database.Tables) {
    if (table.Selected != 0) tables.push_back({&table, 0, CopyStep::Continue, {}});
  }
  const auto releaseAll = [&] {
    for (Table& table : tables) ReleaseLog(table.Log);
  };
  // Every structure first, on the main lane in the selection's order: a table created
  // while another session holds its parent under LOCK TABLES makes that session's
  // INSERTs into the parent fail.
  CopyLane& main = Main();
  // A source lock the last table kept would refuse every other table's statements.
  if (m_settings.LockTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    (void)main.source.Execute("UNLOCK TABLES");
  }
  for (std::size_t i = 0; i < tables.size(); ++i) {
    main.heldLog = &tables[i].Log;
    tables[i].Prepared = PrepareTable(main, *tables[i].Item, i, false, tables[i].Kind);
    main.heldLog = nullptr;
    if (tables[i].Prepared == CopyStep::Stop || m_sessionLost) {
      releaseAll();
      return tables[i].Prepared == CopyStep::Stop ? CopyStep::Stop : CopyStep::Skip;
    }
  }

  main.hasDatabase = true;
  for (std::size_t i = 1; i < m_lanes.size(); ++i) m_lanes[i]->hasDatabase = false;
  std::atomic<bool> stopped{false};
  const int lanes =
      static_cast<int>(std::min(m_lanes.size(), std::max<std::size_t>(tables.size(), 1)));
  RunInParallel(lanes, tables.size(), [&](int laneIndex, std::size_t index) {
    CopyLane& lane = *m_lanes[laneIndex];
    Table& table = tables[index];
    if (table.Prepared != CopyStep::Continue || table.Kind == 2) {
      StartTableProgress(m_context, m_estimates, name, table.Item->TableName);
      ReleaseLog(table.Log);
      return true;
    }
    if (Canceled()) {
      stopped = true;
      return false;
    }
    lane.heldLog = &table.Log;
    CopyStep next = CopyStep::Continue;
    if (!lane.hasDatabase) {
      // The main lane made and chose the database; the others only choose it.
      if (!UseSourceDatabase(lane, name)) {
        Error(lane, "Failed to use database " + name + " on the source server!");
        next = CopyStep::Skip;
      } else if (!SelectDatabase(lane.destination, destinationName)) {
        Error(lane, "Failed to use database " + destinationName + " on the destination server!");
        next = CopyStep::Skip;
      } else {
        lane.hasDatabase = true;
      }
    }
    if (next == CopyStep::Continue) {
      StartTableProgress(m_context, m_estimates, name, table.Item->TableName);
      AlignTableCharset(lane, name, table.Item->TableName);
      next = FlushAndLockSource(lane, QuoteName(table.Item->TableName, m_quote));
    }
    if (next == CopyStep::Continue && Canceled()) next = CopyStep::Stop;
    if (next == CopyStep::Continue) next = CopyRows(lane, *table.Item, table.Kind);
    lane.heldLog = nullptr;
    ReleaseLog(table.Log);
    if (next == CopyStep::Stop) stopped = true;
    return next != CopyStep::Stop && !m_sessionLost;
  });
  releaseAll();  // what a stop left unlogged
  return stopped || Canceled() ? CopyStep::Stop : CopyStep::Continue;
}
}  // namespace brevanto
