#include "engines/BackupToFilesRun.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "engines/ParallelItems.h"

namespace brevanto {

void CBackupToFilesRun::OpenMoreLanes(int wanted) {
  for (int i = 1; i < wanted; ++i) {
    auto lane = std::make_unique<DumpLane>(m_context);
    MySqlError error;
    if (!ConnectServer(m_task.SourceServer, lane->connection, error, ConnectPurpose::StreamRows)) {
      m_context.Log(LogLevel::Warning,
                    WithServerError("Could not open another connection; " +
                                        std::to_string(i) + " at a time",
                                    error));
      return;
    }
    if (m_settings.SetConnectionCharset != 0) {
      (void)ApplyDefaultCharset(lane->connection, false, lane->connection.ServerVersion());
    }
    // A lane reading in another time zone or SQL mode would shift TIMESTAMP values or
    // escape differently: not used.
    Status session = UseKnownSqlMode(lane->connection);
    if (session.ok()) session = UseUtcTimeZone(lane->connection);
    if (!session.ok()) {
      m_context.Log(LogLevel::Warning, "Could not open another connection; " +
                                           std::to_string(i) + " at a time - " + session.message());
      return;
    }
    m_moreLanes.push_back(std::move(lane));
  }
}

RunOutcome CBackupToFilesRun::BackupInParallel(const std::vector<DatabaseItem>& resolved) {
  // One item per file: a database, or a table with its place in its database.
  struct Item {
    const DatabaseItem* Database;
    const TableItem* Table;  // null: the whole database
    bool First;              // the database's first file
    bool Last;               // its last file: routines and events go there
  };
  const bool perTable = FileGrouping() == Grouping::PerTable;
  std::vector<Item> items;
  // Of each database, read up front: its triggers, routines and events, and its views,
  // which its last file takes whenever the files of the tables they read are written.
  std::vector<std::vector<SchemaObject>> objects;
  std::vector<std::vector<CBackupTableDumper::DeferredView>> views;
  std::vector<std::size_t> objectsOf;  // index into `objects` and `views` per item
  for (const DatabaseItem& database : resolved) {
    if (database.Selected == 0) continue;
    if (!perTable) {
      items.push_back({&database, nullptr, true, true});
      continue;
    }
    const std::size_t first = items.size();
    for (const TableItem* table : TablesInWritingOrder(database)) {
      items.push_back({&database, table, items.size() == first, false});
    }
    if (items.size() == first) continue;
    items.back().Last = true;
    if (!UseDatabase(m_main, database.DatabaseName)) {
      if (SessionLost(m_main)) return RunOutcome::Failed;
      items.resize(first);  // logged; its tables cannot be read either
      continue;
    }
    objects.push_back(ReadObjects(m_main, database.DatabaseName));
    CBackupTableDumper reader(m_main.context, m_main.connection, m_options, database.DatabaseName,
                              m_main.databaseCharset);
    for (std::size_t i = first; i < items.size(); ++i) reader.ReadViewAhead(*items[i].Table);
    views.push_back(reader.TakeDeferredViews());
    objectsOf.resize(items.size(), objects.size() - 1);
  }
  if (Canceled()) return RunOutcome::Canceled;

  std::vector<DumpLane*> lanes{&m_main};
  for (const auto& lane : m_moreLanes) lanes.push_back(lane.get());
  std::vector<std::vector<std::string>> files(items.size());
  std::atomic<bool> failed{false};
  std::atomic<bool> canceled{false};
  const int laneCount = static_cast<int>(std::min(lanes.size(), std::max<std::size_t>(items.size(), 1)));
  RunInParallel(laneCount, items.size(), [&](int laneIndex, std::size_t index) {
    DumpLane& lane = *lanes[laneIndex];
    const Item& item = items[index];
    const std::string& name = item.Database->DatabaseName;
    if (Canceled()) {
      canceled = true;
      return false;
    }
    RunOutcome outcome = RunOutcome::Finished;
    if (item.Table == nullptr) {
      outcome = BackupDatabase(lane, *item.Database, files[index]);
    } else {
      if (item.First) lane.context.Log(LogLevel::General, "Backing up the database " + name + "...");
      if (!UseDatabase(lane, name)) {
        if (SessionLost(lane)) failed = true;
        return !failed;
      }
      const TableItem& table = *item.Table;
      AnnounceTable(lane, name, table);
      if (!OpenNewFile(lane, name, table.TableName)) return true;
      CBackupTableDumper dumper(lane.context, lane.connection, m_options, name,
                                lane.databaseCharset, &m_collected);
      outcome = dumper.DumpTable(*lane.writer, table);
      if (outcome != RunOutcome::Canceled && SessionLost(lane)) outcome = RunOutcome::Failed;
      (void)dumper.TakeDeferredViews();  // read up front for the last file
      if (item.Last) dumper.AddDeferredViews(views[objectsOf[index]]);
      if (outcome == RunOutcome::Finished) {
        std::string path =
            FinishTableFile(lane, dumper, objects[objectsOf[index]], table.TableName, item.Last);
        if (!path.empty()) files[index].push_back(std::move(path));
      }
    }
    if (outcome == RunOutcome::Canceled) canceled = true;
    if (outcome == RunOutcome::Failed) failed = true;
    return outcome == RunOutcome::Finished;
  });
  // A stopped run leaves its open files unfinished; a lane that failed mid-file keeps
  // it as incomplete.
  if (canceled || Canceled()) return RunOutcome::Canceled;
  for (DumpLane* lane : lanes) (void)FinishFile(*lane);
  if (failed) return RunOutcome::Failed;
  for (const auto& list : files) m_createdFiles.insert(m_createdFiles.end(), list.begin(), list.end());
  return RunOutcome::Finished;
}

}  // namespace brevanto
