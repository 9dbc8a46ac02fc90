#include "engines/ServerCopyWorker.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engines/BackupTableDumper.h"
#include "engines/ErrorCountingContext.h"
#include "engines/InsertStatements.h"
#include "engines/LoadTransaction.h"
#include "engines/MySqlConnection.h"
#include "engines/ParallelItems.h"
#include "engines/ProgressPlan.h"
#include "engines/SchemaObjects.h"
#include "engines/ServerCopyText.h"
#include "engines/Snapshot.h"
#include "engines/StatementSender.h"
#include "engines/TableDefinition.h"
#include "engines/ValueRenderer.h"

namespace brevanto {
namespace {

// What follows a step: go on, skip the rest of the table or database, end the run for a
// stop request, or end it as failed.
enum class Next { Continue, Skip, Stop, Refuse };

// "LIKE" pattern text that matches exactly `name`: quotes escaped, wildcards literal.
std::string LikeLiteral(MYSQL* handle, const std::string& name) {
  std::string escaped(name.size() * 2 + 1, '\0');
  escaped.resize(mysql_real_escape_string(handle, escaped.data(), name.data(), name.size()));
  std::string out;
  for (char c : escaped) {
    if (c == '%' || c == '_') out += '\\';
    out += c;
  }
  return out;
}

using LogEntries = std::vector<std::pair<LogLevel, std::string>>;

// The views of a database, created after its tables.
struct PendingView {
  std::size_t Order;  // the view's place in the selection
  std::string Name;
  std::string Definition;
  std::string Charset;  // the source session's character set when the text was read
};

// One reading connection and the destination connection its rows go to, with what each
// session reads and writes in now ("" for the client library's default), so that rows
// read in one character set are written in the same one. Used by one thread at a time.
struct CopyLane {
  CMySQLConnection source;
  CMySQLConnection destination;
  std::string databaseCharset;
  std::string sourceCharset;
  std::string destinationCharset;
  bool fastLoad = false;     // the destination loads with its checks off
  bool hasDatabase = false;  // both sessions use the current database
  // While tables go several at a time, a table's entries are held here and logged
  // together, so that its records line follows its own table.
  LogEntries* heldLog = nullptr;
  std::vector<PendingView> pendingViews;
};

// One run of a copy task. Owns every connection; lives on the worker thread, and with
// Threads above one also on the lanes RunInParallel starts for a database's tables.
class CServerCopyRun {
 public:
  explicit CServerCopyRun(TaskRunContext& context)
      : m_context(context),
        m_task(context.Task()),
        m_settings(m_task.BackupSettings),
        m_wording(WordingFor(m_task.GetType())),
        m_advanced(AdvancedOptionsOf(m_task)),
        m_pipelined(FindAdvancedOptions(m_task).has_value()) {}
  ~CServerCopyRun() { m_context.SetCancelHook({}); }
  CServerCopyRun(const CServerCopyRun&) = delete;
  CServerCopyRun& operator=(const CServerCopyRun&) = delete;

  // The copy, and for one that logged errors a last entry saying it is incomplete.
  RunOutcome Run();

 private:
  RunOutcome Copy();
  bool Canceled() { return m_context.StopRequested(); }
  void Log(CopyLane& lane, LogLevel level, const std::string& text) {
    if (lane.heldLog != nullptr) {
      lane.heldLog->emplace_back(level, text);
    } else {
      m_context.Log(level, text);
    }
  }
  void Info(CopyLane& lane, const std::string& text) { Log(lane, LogLevel::General, text); }
  void Info(const std::string& text) { Info(Main(), text); }
  // Logs `text` with the failing server's reason. Once a session is lost nothing more
  // can run on it: that one entry ends the copy, and nothing is logged after it.
  void Error(CopyLane& lane, const std::string& text) {
    if (m_sessionLost) return;
    // A stop cancels every lane's statements at once: their failures are the stop's.
    if (lane.heldLog != nullptr && m_context.StopRequested()) return;
    const MySqlError destination = lane.destination.LastError();
    const MySqlError source = lane.source.LastError();
    Log(lane, LogLevel::Error,
        WithServerError(text, destination.Number != 0 ? destination : source));
    if (IsLostConnection(destination.Number) || IsLostConnection(source.Number)) {
      m_sessionLost = true;
    }
  }
  void Error(const std::string& text) { Error(Main(), text); }
  // Logs a table's held entries as one block.
  void ReleaseLog(LogEntries& entries);
  CopyLane& Main() { return *m_lanes.front(); }
  void SendToDestination(CopyLane& lane, const std::vector<std::string>& statements);
  void FollowSourceCharset(CopyLane& lane);
  // The destination session's set-up, after its connect.
  void PrepareDestination(CopyLane& lane);
  // Up to `wanted` lanes in all, set up as the first; a Warning says when fewer.
  void OpenMoreLanes(int wanted);
  // How many tables may go at a time for this selection.
  int LanesWanted(const std::vector<DatabaseItem>& databases) const;

  Next CopyDatabase(const DatabaseItem& database);
  std::string DestinationDatabaseName(const std::string& sourceDatabase) const;
  // Makes `database` the source session's current database with its character set.
  bool UseSourceDatabase(CopyLane& lane, const std::string& database);
  // The database's tables over every lane; Stop for a stop request.
  Next CopyTablesInParallel(const DatabaseItem& database, const std::string& destinationName);
  Next CopyTable(CopyLane& lane, const TableItem& item, std::size_t order);
  // A table up to its rows: its entry, structure or view placeholder. `kind` is what
  // the rows step needs; `lockSource` also flushes and locks it on the source as the
  // task asks.
  Next PrepareTable(CopyLane& lane, const TableItem& item, std::size_t order, bool lockSource,
                    std::uint8_t& kind);
  Next FlushAndLockSource(CopyLane& lane, const std::string& quoted);
  void AlignTableCharset(CopyLane& lane, const std::string& database, const std::string& table);
  Next ReadEngine(CopyLane& lane, const std::string& table, std::string& engine);
  Next CopyStructure(CopyLane& lane, const TableItem& item, std::size_t order, std::uint8_t kind,
                     const std::string& engine, MYSQL_RES* fields);
  Next CopyViewPlaceholder(CopyLane& lane, const TableItem& item, std::size_t order);
  Next CopyRows(CopyLane& lane, const TableItem& item, std::uint8_t kind);
  void CreatePendingViews();
  // The triggers, routines and events of the current database, after its tables and views.
  void CopySchemaObjects(const std::string& database);

  CErrorCountingContext m_context;
  const CTaskItem& m_task;
  const BackupSettings& m_settings;
  const CopyWording& m_wording;
  const CAdvancedOptions m_advanced;
  // Tasks with the advanced options send a table's rows from a thread of their own
  // while its next rows are read; a task without them runs as it always did.
  const bool m_pipelined;

  // The first is the main lane: the run's own two connections.
  std::vector<std::unique_ptr<CopyLane>> m_lanes = [] {
    std::vector<std::unique_ptr<CopyLane>> lanes;
    lanes.push_back(std::make_unique<CopyLane>());
    return lanes;
  }();
  CMySQLConnection& m_source = m_lanes.front()->source;
  CMySQLConnection& m_destination = m_lanes.front()->destination;
  unsigned long m_sourceVersion = 0;
  bool m_quote = false;
  bool m_showCreate = false;
  bool m_destinationCharsetClause = false;
  // Both sessions report the same host name, port and data folder.
  bool m_sameServer = false;
  std::size_t m_destinationMaxPacket = 0;  // 0 when the server would not say
  std::atomic<bool> m_sessionLost{false};  // a connection died: the run ends with its one Error
  std::mutex m_logBlocks;                  // one lane's held entries at a time

  std::string m_serverCharset;
  CTableRowEstimates m_estimates;
};

RunOutcome CServerCopyRun::Run() {
  const RunOutcome outcome = Copy();
  if (outcome != RunOutcome::Finished || m_context.Errors() == 0) return outcome;
  // A copy with failed statements is not a good copy: the log must not end "Finished".
  if (m_context.LastLevel() != LogLevel::Error || m_context.Errors() > 1) {
    m_context.Log(LogLevel::Error, "The copy is incomplete (" + std::to_string(m_context.Errors()) +
                                       (m_context.Errors() == 1 ? " error)." : " errors)."));
  }
  return RunOutcome::Failed;
}

RunOutcome CServerCopyRun::Copy() {
  if (m_task.BackupDatabases.empty()) {
    Error(m_wording.NothingToCopy);
    return RunOutcome::Failed;
  }
  m_context.SetCancelHook(
      [source = m_source.CancelHandle(), destination = m_destination.CancelHandle()] {
        source->Cancel();
        destination->Cancel();
      });

  if (!ConnectServerForTask(m_context, m_task.SourceServer, ServerRole::Source, m_source,
                            ConnectPurpose::StreamRows)) {
    return RunOutcome::Failed;
  }
  if (Canceled()) return RunOutcome::Canceled;
  m_sourceVersion = m_source.ServerVersion();
  m_quote = m_settings.QuoteNames != 0 && AllowsBacktickQuoting(m_sourceVersion);
  m_showCreate = HasShowCreateTable(m_sourceVersion);

  if (!ConnectServerForTask(m_context, m_task.DestinationServer, ServerRole::Destination,
                            m_destination)) {
    return RunOutcome::Failed;
  }
  if (Canceled()) return RunOutcome::Canceled;
  m_destinationCharsetClause = HasCharacterSets(m_destination.ServerVersion());
  // The host text does not tell: "localhost" and 127.0.0.1, a name and its address, or a
  // forwarded port may all reach the source itself, whose tables the copy would drop.
  const std::string sourceIdentity = ServerIdentity(m_source);
  m_sameServer = !sourceIdentity.empty() && sourceIdentity == ServerIdentity(m_destination);
  m_destinationMaxPacket = MaxAllowedPacket(m_destination);
  (void)UseUtcTimeZone(m_source);
  (void)UseUtcTimeZone(m_destination);

  if (m_settings.SetConnectionCharset) {
    m_serverCharset = ApplyDefaultCharset(m_source, false, m_sourceVersion);
  }
  Main().sourceCharset = m_serverCharset.empty() ? SessionCharset(m_source) : m_serverCharset;
  Info(m_wording.CopyingSelection);

  PrepareDestination(Main());
  if (m_settings.FlushLogsBeforeStart) (void)m_source.Execute("FLUSH LOGS");
  if (Canceled()) return RunOutcome::Canceled;

  const std::vector<DatabaseItem> databases =
      ResolveSelection(m_source, m_settings, m_task.BackupDatabases, m_quote);
  m_estimates = PlanTableProgress(m_context, m_source, databases);
  if (const int wanted = LanesWanted(databases); wanted > 1) {
    OpenMoreLanes(wanted);
    // A stop must reach every connection of every lane.
    std::vector<std::shared_ptr<ConnectionCanceler>> cancelers;
    for (const auto& lane : m_lanes) {
      cancelers.push_back(lane->source.CancelHandle());
      cancelers.push_back(lane->destination.CancelHandle());
    }
    m_context.SetCancelHook([cancelers] {
      for (const auto& canceler : cancelers) canceler->Cancel();
    });
    if (Canceled()) return RunOutcome::Canceled;
  }
  if (m_advanced.ConsistentSnapshot) {
    std::vector<CMySQLConnection*> readers;
    for (const auto& lane : m_lanes) readers.push_back(&lane->source);
    BeginConsistentSnapshot(m_context, readers, databases);
  }
  for (const DatabaseItem& database : databases) {
    if (database.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    const Next next = CopyDatabase(database);
    if (next == Next::Stop) return RunOutcome::Canceled;
    if (next == Next::Refuse) return RunOutcome::Failed;
    if (Canceled()) return RunOutcome::Canceled;
    if (m_sessionLost) return RunOutcome::Failed;
  }

  if (Main().fastLoad) (void)EndFastLoad(m_destination);
  SendToDestination(Main(), DestinationEpilogue(m_settings, m_serverCharset));
  m_context.SetCancelHook({});  // before closing what it cancels
  for (const auto& lane : m_lanes) {
    lane->source.Close();
    lane->destination.Close();
  }
  return RunOutcome::Finished;
}

void CServerCopyRun::PrepareDestination(CopyLane& lane) {
  SendToDestination(lane, DestinationPrologue(m_settings, m_serverCharset, m_sourceVersion));
  // The rows come from a source that checked them: the load skips the checks (and may
  // create a child table before its parent).
  lane.fastLoad = m_advanced.TransactionPerTable && BeginFastLoad(lane.destination);
  if (m_settings.AddSetNames) lane.destinationCharset = m_serverCharset;
  FollowSourceCharset(lane);
}

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
    (void)UseUtcTimeZone(lane->source);
    (void)UseUtcTimeZone(lane->destination);
    if (m_settings.SetConnectionCharset) {
      (void)ApplyDefaultCharset(lane->source, false, m_sourceVersion);
    }
    lane->sourceCharset = m_serverCharset.empty() ? SessionCharset(lane->source) : m_serverCharset;
    PrepareDestination(*lane);
    m_lanes.push_back(std::move(lane));
  }
}

void CServerCopyRun::ReleaseLog(LogEntries& entries) {
  std::lock_guard lock(m_logBlocks);
  for (const auto& [level, text] : entries) m_context.Log(level, text);
  entries.clear();
}

void CServerCopyRun::SendToDestination(CopyLane& lane, const std::vector<std::string>& statements) {
  for (const std::string& statement : statements) (void)lane.destination.Execute(statement);
}

void CServerCopyRun::FollowSourceCharset(CopyLane& lane) {
  // Rows are sent in the bytes they were read in: the destination must take them in
  // the same character set, whatever the SET NAMES setting says.
  if (lane.sourceCharset.empty() || lane.sourceCharset == lane.destinationCharset) return;
  SendToDestination(lane, CharsetStatements(lane.sourceCharset, m_sourceVersion));
  lane.destinationCharset = lane.sourceCharset;
}

std::string CServerCopyRun::DestinationDatabaseName(const std::string& sourceDatabase) const {
  if (!CopiesIntoNamedDatabase(m_task.GetType())) return sourceDatabase;
  if (!m_settings.CreateNewDestinationDatabase) return m_settings.DestinationDatabase;
  return ExpandDestinationDatabaseName(m_settings.DestinationDatabase, m_task.TaskName,
                                       m_task.SourceServer.Host, sourceDatabase,
                                       m_context.RunStartTime());
}

bool CServerCopyRun::UseSourceDatabase(CopyLane& lane, const std::string& database) {
  if (!SelectDatabase(lane.source, database)) return false;
  lane.databaseCharset.clear();
  if (m_settings.SetConnectionCharset) {
    lane.databaseCharset = ApplyDefaultCharset(lane.source, true, m_sourceVersion);
    if (!lane.databaseCharset.empty()) lane.sourceCharset = lane.databaseCharset;
  }
  if (m_settings.AddSetNames && !lane.databaseCharset.empty()) {
    SendToDestination(lane, CharsetStatements(lane.databaseCharset, m_sourceVersion));
    lane.destinationCharset = lane.databaseCharset;
  }
  FollowSourceCharset(lane);
  return true;
}

Next CServerCopyRun::CopyDatabase(const DatabaseItem& database) {
  const std::string& name = database.DatabaseName;
  Info(m_wording.CopyingDatabase + name + "...");
  const std::string destinationName = DestinationDatabaseName(name);
  if (m_sameServer && destinationName == name) {
    Error("The destination database can't same as the source database! - " + name);
    return Next::Refuse;
  }
  if (!UseSourceDatabase(Main(), name)) {
    Error("Failed to use database " + name + " on the source server!");
    return Next::Skip;
  }
  if (m_settings.AddCreateDatabase &&
      !m_destination.Execute(CreateDatabaseStatement(
          destinationName, m_quote, Main().databaseCharset, m_destinationCharsetClause))) {
    Error("Failed to create database " + destinationName + " on the destination server!");
    return Next::Skip;
  }
  if (!SelectDatabase(m_destination, destinationName)) {
    Error("Failed to use database " + destinationName + " on the destination server!");
    return Next::Skip;
  }

  if (m_lanes.size() > 1) {
    if (CopyTablesInParallel(database, destinationName) == Next::Stop) return Next::Stop;
    if (m_sessionLost) return Next::Skip;
  } else {
    std::size_t order = 0;
    for (const TableItem& table : database.Tables) {
      if (table.Selected == 0) continue;
      if (Canceled()) return Next::Stop;
      StartTableProgress(m_context, m_estimates, name, table.TableName);
      if (CopyTable(Main(), table, order++) == Next::Stop) return Next::Stop;
      if (m_sessionLost) return Next::Skip;
    }
  }
  CreatePendingViews();
  CopySchemaObjects(name);
  return Next::Continue;
}

Next CServerCopyRun::CopyTablesInParallel(const DatabaseItem& database,
                                          const std::string& destinationName) {
  const std::string& name = database.DatabaseName;
  struct Table {
    const TableItem* Item;
    std::uint8_t Kind = 0;
    Next Prepared = Next::Continue;
    LogEntries Log;
  };
  std::vector<Table> tables;
  for (const TableItem& table : database.Tables) {
    if (table.Selected != 0) tables.push_back({&table, 0, Next::Continue, {}});
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
    if (tables[i].Prepared == Next::Stop || m_sessionLost) {
      releaseAll();
      return tables[i].Prepared == Next::Stop ? Next::Stop : Next::Skip;
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
    if (table.Prepared != Next::Continue || table.Kind == 2) {
      StartTableProgress(m_context, m_estimates, name, table.Item->TableName);
      ReleaseLog(table.Log);
      return true;
    }
    if (Canceled()) {
      stopped = true;
      return false;
    }
    lane.heldLog = &table.Log;
    Next next = Next::Continue;
    if (!lane.hasDatabase) {
      // The main lane made and chose the database; the others only choose it.
      if (!UseSourceDatabase(lane, name)) {
        Error(lane, "Failed to use database " + name + " on the source server!");
        next = Next::Skip;
      } else if (!SelectDatabase(lane.destination, destinationName)) {
        Error(lane, "Failed to use database " + destinationName + " on the destination server!");
        next = Next::Skip;
      } else {
        lane.hasDatabase = true;
      }
    }
    if (next == Next::Continue) {
      StartTableProgress(m_context, m_estimates, name, table.Item->TableName);
      AlignTableCharset(lane, name, table.Item->TableName);
      next = FlushAndLockSource(lane, QuoteName(table.Item->TableName, m_quote));
    }
    if (next == Next::Continue && Canceled()) next = Next::Stop;
    if (next == Next::Continue) next = CopyRows(lane, *table.Item, table.Kind);
    lane.heldLog = nullptr;
    ReleaseLog(table.Log);
    if (next == Next::Stop) stopped = true;
    return next != Next::Stop && !m_sessionLost;
  });
  releaseAll();  // what a stop left unlogged
  return stopped || Canceled() ? Next::Stop : Next::Continue;
}

void CServerCopyRun::CopySchemaObjects(const std::string& database) {
  const SchemaObjectKinds kinds = KindsOf(m_advanced);
  if (auto warning = LeftOutObjectsWarning(m_source, database, kinds, "copy")) {
    m_context.Log(LogLevel::Warning, *warning);
  }
  if (!kinds.Any()) return;
  std::vector<std::string> problems;
  for (const SchemaObject& object : ReadSchemaObjects(m_source, database, kinds, problems)) {
    // Every statement runs, so the session gets its own SQL mode back after a failure.
    bool failed = false;
    for (const std::string& statement : MakeObjectStatements(object)) {
      if (m_destination.Execute(statement) || failed) continue;
      failed = true;
      Error(WithServerError(std::string("Failed to create the ") +
                                ObjectKindName(object.ObjectKind) + " " + object.Name +
                                " on the destination server!",
                            m_destination.LastError()));
    }
  }
  for (const std::string& problem : problems) m_context.Log(LogLevel::Warning, problem);
}

Next CServerCopyRun::CopyTable(CopyLane& lane, const TableItem& item, std::size_t order) {
  std::uint8_t kind = 0;
  const Next next = PrepareTable(lane, item, order, true, kind);
  if (next != Next::Continue) return next;
  if (Canceled()) return Next::Stop;
  return CopyRows(lane, item, kind);
}

Next CServerCopyRun::PrepareTable(CopyLane& lane, const TableItem& item, std::size_t order,
                                  bool lockSource, std::uint8_t& kind) {
  const std::string& table = item.TableName;
  Info(lane, (item.Kind == 2 ? m_wording.CopyingView : m_wording.CopyingTable) + item.DatabaseName +
                 "." + table + "...");
  if (Canceled()) return Next::Stop;
  // First: every statement below names the table in the session's character set.
  AlignTableCharset(lane, item.DatabaseName, table);
  if (lockSource) {
    const Next next = FlushAndLockSource(lane, QuoteName(table, m_quote));
    if (next != Next::Continue) return next;
  }
  kind = m_settings.IncludeStructure ? ClassifyTable(lane.source, table, m_quote) : item.Kind;
  if (Canceled()) return Next::Stop;

  std::string engine;
  Next next = ReadEngine(lane, table, engine);
  if (next != Next::Continue) return next;
  if (Canceled()) return Next::Stop;

  MySqlResult fields(mysql_list_fields(lane.source.Handle(), table.c_str(), nullptr));
  if (!fields) {
    Error(lane, "No result of list table fields: " + table);
    return Next::Skip;
  }
  if (Canceled()) return Next::Stop;

  if (m_settings.IncludeStructure) {
    next = CopyStructure(lane, item, order, kind, engine, fields.get());
    if (next != Next::Continue) return next;
  } else {
    Info(lane, "Structure option is unchecked.");
  }
  return Next::Continue;
}

Next CServerCopyRun::FlushAndLockSource(CopyLane& lane, const std::string& quoted) {
  // FLUSH and LOCK TABLES would end the snapshot's transaction.
  if (m_settings.FlushTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    (void)lane.source.Execute("FLUSH TABLE " + quoted);
    if (Canceled()) return Next::Stop;
  }
  if (m_settings.LockTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    // Replaces the previous table's lock; released after the rows or by the next LOCK.
    (void)lane.source.Execute("LOCK TABLES " + quoted + " READ LOCAL");
    if (Canceled()) return Next::Stop;
  }
  return Next::Continue;
}

void CServerCopyRun::AlignTableCharset(CopyLane& lane, const std::string& database,
                                       const std::string& table) {
  const std::string& base =
      lane.databaseCharset.empty() ? lane.sourceCharset : lane.databaseCharset;
  const std::string wanted = TableReadCharset(lane.source, database, table, base);
  if (wanted != lane.sourceCharset) {
    SetConnectionCharacterSet(lane.source, wanted, m_sourceVersion);
    lane.sourceCharset = wanted;
  }
  FollowSourceCharset(lane);
}

Next CServerCopyRun::ReadEngine(CopyLane& lane, const std::string& table, std::string& engine) {
  engine = "MyISAM";
  if (!lane.source.Execute("SHOW TABLE STATUS LIKE '" + LikeLiteral(lane.source.Handle(), table) +
                           "'")) {
    Error(lane, "Failed to show table status: " + table);
    return Next::Skip;
  }
  MySqlResult status(mysql_store_result(lane.source.Handle()));
  if (!status) {
    Error(lane, "No result of show table status: " + table);
    return Next::Skip;
  }
  MYSQL_ROW row = mysql_fetch_row(status.get());
  if (row != nullptr && mysql_num_fields(status.get()) > 1 && row[1] != nullptr) engine = row[1];
  return Next::Continue;
}

Next CServerCopyRun::CopyStructure(CopyLane& lane, const TableItem& item, std::size_t order,
                                   std::uint8_t kind, const std::string& engine,
                                   MYSQL_RES* fields) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  if (m_settings.AddDropTable) {
    if (kind == 2) (void)lane.destination.Execute("DROP VIEW IF EXISTS " + quoted);
    if (!lane.destination.Execute("DROP TABLE IF EXISTS " + quoted)) {
      Error(lane, "Failed to drop table " + table + "!");
      return Next::Skip;
    }
  }
  if (kind == 2) return CopyViewPlaceholder(lane, item, order);

  std::string definition;
  if (!GetTableDefinition(lane.source, table, engine, mysql_fetch_fields(fields),
                          mysql_num_fields(fields), m_quote, m_showCreate, definition) ||
      definition.empty()) {
    Error(lane, "Failed to get create table! - " + table);
    return Next::Skip;
  }
  if (!lane.destination.Execute(definition)) {
    Error(lane, CopiesIntoNamedDatabase(m_task.GetType())
                    ? "Failed to CREATE TABLE " + table + " on the destination server!"
                    : "Failed to CREATE TABLE " + item.DatabaseName + "." + table +
                          " on the destination server!");
    return Next::Skip;
  }
  return Next::Continue;
}

Next CServerCopyRun::CopyViewPlaceholder(CopyLane& lane, const TableItem& item, std::size_t order) {
  const std::string& view = item.TableName;
  // Views exist only on servers that know backticks: the source's statements always
  // quote, or a view named with a blank, a dash, a dot or a keyword would be lost.
  const std::string quoted = QuoteName(view, true);
  // The temporary table takes the view's columns and hides the view in this session.
  if (!lane.source.Execute("CREATE TEMPORARY TABLE " + quoted + " SELECT * FROM " + quoted +
                           " WHERE 0")) {
    Error(lane, "Failed to create temporary table for the view " + view);
    return Next::Skip;
  }
  std::string definition;
  if (!ReadCreateTable(lane.source, view, definition) || definition.empty()) {
    Error(lane, "Failed to show temporary table for the view " + view);
    (void)lane.source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return Next::Skip;
  }
  // "CREATE TEMPORARY TABLE ..." minus "CREATE TEMPORARY " is "TABLE ...".
  constexpr std::size_t kTemporaryPrefix = 17;
  if (definition.size() <= kTemporaryPrefix ||
      !lane.destination.Execute("CREATE " + definition.substr(kTemporaryPrefix))) {
    Error(lane,
          "Failed to create temporary table on the destination server for the view " + view + "!");
    (void)lane.source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return Next::Skip;
  }
  if (!lane.source.Execute("DROP TEMPORARY TABLE " + quoted)) {
    Error(lane, "Failed to drop temporary table for the view " + view);
    return Next::Skip;
  }
  std::string createView;
  if (!ReadCreateTable(lane.source, view, createView) || createView.empty()) {
    Error(lane, "Failed to show view " + view);
    return Next::Skip;
  }
  lane.pendingViews.push_back({order, view, std::move(createView), lane.sourceCharset});
  Info(lane, m_wording.ViewDone + item.DatabaseName + "." + view + " - OK");
  return Next::Continue;
}

Next CServerCopyRun::CopyRows(CopyLane& lane, const TableItem& item, std::uint8_t kind) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  if (m_settings.AddDeleteAllRecords && kind != 2 &&
      !lane.destination.Execute("DELETE FROM " + quoted)) {
    Error(lane, "Failed to DELETE " + table + "!");
    return Next::Skip;
  }
  if (!m_settings.IncludeRecords || kind == 2) return Next::Continue;

  MYSQL* source = lane.source.Handle();
  const std::vector<std::string> named = ColumnsNamedForInvisible(lane.source, table, m_quote);
  if (!lane.source.Execute(SelectRowsQuery(table, named, m_quote))) {
    Error(lane, "Failed to get all records of table " + table + " !");
    return Next::Skip;
  }
  // Freed on every path; freeing an unread remainder drains it from the source.
  MySqlResult rows(mysql_use_result(source));
  if (!rows) {
    Error(lane, "No records of the table " + table);
    return Next::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !lane.destination.Execute("ALTER TABLE " + quoted + " DISABLE KEYS")) {
    Error(lane, "Failed to DISABLE KEYS of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddLockTables && !lane.destination.Execute("LOCK TABLES " + quoted + " WRITE")) {
    Error(lane, "Failed to LOCK TABLES " + table + "!");
    return Next::Skip;
  }
  // One transaction for the table's rows; START TRANSACTION would end the table lock
  // and the task's own autocommit setting already makes one.
  CLoadTransaction transaction(lane.destination, LoadCommitBytes(m_advanced.StatementBytes));
  const bool transactionPerTable =
      m_advanced.TransactionPerTable && !m_settings.AddLockTables && !m_settings.AddSetAutocommit;
  // A table that ends early gives its destination lock back, or every later table of the
  // run would fail as "not locked with LOCK TABLES"; the rows it sent are kept.
  const auto endLockedTable = [&] {
    (void)transaction.Commit();
    if (m_settings.AddLockTables) (void)lane.destination.Execute("UNLOCK TABLES");
    return Next::Skip;
  };
  if (transactionPerTable && !transaction.Begin()) {
    Error(lane, "Failed to start the transaction of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddSetAutocommit && !lane.destination.Execute("SET AUTOCOMMIT=0")) {
    Error(lane, "Failed to SET AUTOCOMMIT of the table " + table + "!");
    return endLockedTable();
  }

  // Names and types come from the rows' own result, not the table's field list: the two
  // differ when SELECT * leaves out INVISIBLE columns. A table that has them is read by
  // name and its INSERTs name the columns, or those values would be lost.
  const MYSQL_FIELD* columns = mysql_fetch_fields(rows.get());
  const unsigned int columnCount = mysql_num_fields(rows.get());
  std::vector<std::string> names;
  for (unsigned int i = 0; i < columnCount; ++i) names.emplace_back(columns[i].name);
  // A multi-row statement must fit the destination's packet too, where that is smaller.
  const InsertShape shape = ChooseInsertShape(m_settings.MultipleRowInsert != 0,
                                              m_advanced.StatementBytes, m_destinationMaxPacket);
  const bool multiRow = shape.MultiRow;
  CInsertStatements inserts(MakeInsertPrefix(m_settings, m_quote, table, names, "", !named.empty()),
                            shape);
  // False once a row could not be sent or read: the table is then not reported OK.
  bool complete = true;
  bool failedBatch = false;
  bool tooLarge = false;
  // One statement per row, or several rows up to the size cap: the only statement the
  // destination cannot take is a single row beyond its max_allowed_packet.
  const auto fits = [&](const std::string& statement) {
    if (m_destinationMaxPacket == 0 || statement.size() <= m_destinationMaxPacket) return true;
    Error(lane, "A record of the table " + table + " needs a statement of " +
                    std::to_string(statement.size()) +
                    " bytes, more than the destination server's max_allowed_packet of " +
                    std::to_string(m_destinationMaxPacket) + " bytes!");
    tooLarge = true;
    return false;
  };
  const auto send = [&](const std::string& statement) {
    return fits(statement) && lane.destination.Execute(statement);
  };

  // Filled statements of a task with the advanced options go to the destination from a
  // thread of their own; a failure there is logged here, in the order one thread would
  // have met it.
  enum class SendFailure { None, Insert, Commit };
  SendFailure failure = SendFailure::None;  // set on the sender's thread before it stops
  std::optional<CStatementSender> sender;
  if (m_pipelined && multiRow) {
    // Two statements waiting keep the destination busy while the next one is built.
    constexpr std::size_t kStatementsWaiting = 2;
    sender.emplace(
        [&](const std::string& statement) {
          if (!lane.destination.Execute(statement)) {
            failure = SendFailure::Insert;
            return false;
          }
          m_context.ProgressAdvance(0, static_cast<std::int64_t>(statement.size()));
          if (!transaction.Sent(statement.size())) {
            failure = SendFailure::Commit;
            return false;
          }
          return true;
        },
        kStatementsWaiting);
  }
  bool senderFinished = false;

  long long copied = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    if (Canceled()) {
      // Cut the source off so that freeing the result does not read the rest.
      lane.source.CancelHandle()->Cancel();
      return Next::Stop;
    }
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    const bool ready = inserts.AddRow([&](std::string& text) {
      AppendRenderedRow(text, row, lengths, columns, columnCount, source);
    });
    ++copied;
    m_context.ProgressAdvance(1, 0);
    if (!ready) continue;
    if (sender) {
      if (m_destinationMaxPacket != 0 && inserts.Ready().size() > m_destinationMaxPacket) {
        // The statements before it go first, as one thread would have sent them.
        senderFinished = true;
        if (sender->Finish()) {
          (void)fits(inserts.Ready());
          complete = false;
        }
        break;
      }
      if (!sender->Push(inserts.TakeReady(sender->TakeSpare()))) break;
      continue;
    }
    if (!send(inserts.Ready())) {
      complete = false;
      if (!multiRow) {
        if (!tooLarge) Error(lane, "Failed to insert a record to the table " + table + "!");
        --copied;
        break;
      }
      // The batch stays as it is and is sent once more below.
      if (!tooLarge) Error(lane, "Failed to insert multi-rows records to the table " + table + "!");
      failedBatch = true;
      break;
    }
    const std::size_t sentBytes = inserts.Ready().size();
    m_context.ProgressAdvance(0, static_cast<std::int64_t>(sentBytes));
    inserts.Sent();
    if (!transaction.Sent(sentBytes)) {
      Error(lane, "Failed to commit the records of the table " + table + "!");
      complete = false;
      break;
    }
  }
  if (sender && !senderFinished) (void)sender->Finish();
  if (failure != SendFailure::None) {
    complete = false;
    // A destination statement cut off by a stop request is no failure of the copy.
    if (Canceled()) {
      lane.source.CancelHandle()->Cancel();
      return Next::Stop;
    }
    if (failure == SendFailure::Insert) {
      Error(lane, "Failed to insert multi-rows records to the table " + table + "!");
      failedBatch = true;
    } else {
      Error(lane, "Failed to commit the records of the table " + table + "!");
    }
  }
  if (complete && mysql_errno(source) != 0) {
    // The source went away mid-table: what was read is sent, but the table is not whole.
    Error(lane, "Failed to get all records of table " + table + " !");
    complete = false;
  }
  rows.reset();

  const std::string& last = failedBatch && sender ? sender->Failed() : inserts.Ready();
  if (multiRow && !tooLarge && (failedBatch || inserts.Finish()) && !send(last)) {
    if (!tooLarge) Error(lane, "Failed to insert multi-row records to the table " + table + "!");
    return endLockedTable();
  }
  if (!transaction.Commit()) {
    Error(lane, "Failed to commit the records of the table " + table + "!");
    return endLockedTable();
  }
  if (m_settings.LockTablesBeforeStart) (void)lane.source.Execute("UNLOCK TABLES");
  if (m_settings.AddLockTables && !lane.destination.Execute("UNLOCK TABLES")) {
    Error(lane, "Failed to UNLOCK TABLES on the destination server! - " + table);
    return Next::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !lane.destination.Execute("ALTER TABLE " + quoted + " ENABLE KEYS")) {
    Error(lane, "Failed to ENABLE KEYS of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddSetAutocommit && !lane.destination.Execute("COMMIT")) {
    Error(lane, "Failed to COMMIT of the table " + table + "!");
    return Next::Skip;
  }
  if (complete) Info(lane, m_wording.RecordsDone + std::to_string(copied) + " records");
  return Next::Continue;
}

void CServerCopyRun::CreatePendingViews() {
  CopyLane& lane = Main();
  for (const PendingView& view : lane.pendingViews) {
    if (view.Name.empty() || view.Definition.empty()) continue;
    const std::string quoted = QuoteName(view.Name, m_quote);
    if (!m_destination.Execute("DROP TABLE IF EXISTS " + quoted)) {
      Error("Failed to DROP TABLE " + view.Name + "!");
      continue;
    }
    (void)m_destination.Execute("DROP VIEW IF EXISTS " + quoted);
    // A later table may have switched the destination to another character set; the
    // view's text must be taken in the one it was read in, or its literals change.
    if (!lane.destinationCharset.empty() && !view.Charset.empty() &&
        view.Charset != lane.destinationCharset) {
      SendToDestination(lane, CharsetStatements(view.Charset, m_sourceVersion));
      lane.destinationCharset = view.Charset;
    }
    if (!m_destination.Execute(view.Definition)) Error("Failed to CREATE VIEW " + view.Name + "!");
  }
  lane.pendingViews.clear();
}

}  // namespace

RunOutcome ServerCopyWorker(TaskRunContext& context) {
  CServerCopyRun run(context);
  return run.Run();
}

}  // namespace brevanto
