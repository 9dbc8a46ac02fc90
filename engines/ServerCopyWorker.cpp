#include "engines/ServerCopyWorker.h"

#include <string>
#include <vector>

#include "engines/LoadTransaction.h"
#include "engines/SchemaObjects.h"
#include "engines/ServerCopyRun.h"
#include "engines/Snapshot.h"

namespace brevanto {

RunOutcome CServerCopyRun::Run() {
  const RunOutcome outcome = Copy();
  if (outcome != RunOutcome::Finished || m_context.Errors() != 0) LogIncompleteTables();
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
  for (CMySQLConnection* session : {&m_source, &m_destination}) {
    Status setup = UseKnownSqlMode(*session);
    if (setup.ok()) setup = UseUtcTimeZone(*session);
    if (!setup.ok()) {
      Error(setup.message());
      return RunOutcome::Failed;
    }
  }

  if (m_settings.SetConnectionCharset) {
    m_serverCharset = ApplyDefaultCharset(m_source, false, m_sourceVersion);
  }
  Main().sourceCharset = m_serverCharset.empty() ? SessionCharset(m_source) : m_serverCharset;
  m_watchdog.emplace(m_context);
  m_watchdog->Watch(m_destination);
  Info(m_wording.CopyingSelection);

  // Resolved before the destination is touched: a selection of nothing changes nothing.
  std::vector<std::string> problems;
  const std::vector<DatabaseItem> databases =
      ResolveSelection(m_source, m_settings, m_task.BackupDatabases, m_quote, &problems);
  for (const std::string& problem : problems) Error(problem);
  if (!SelectionHasTables(databases)) {
    m_context.Log(LogLevel::Error, kNoTableSelected);
    return RunOutcome::Failed;
  }
  PrepareDestination(Main());
  if (m_settings.FlushLogsBeforeStart) (void)m_source.Execute("FLUSH LOGS");
  if (Canceled()) return RunOutcome::Canceled;

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
    const CopyStep next = CopyDatabase(database);
    if (next == CopyStep::Stop) return RunOutcome::Canceled;
    if (next == CopyStep::Refuse) return RunOutcome::Failed;
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

void CServerCopyRun::ReleaseLog(LogEntries& entries) {
  std::lock_guard lock(m_logBlocks);
  for (const HeldEntry& entry : entries) m_context.LogAt(entry.Level, entry.Text, entry.When);
  entries.clear();
}

void CServerCopyRun::LogIncompleteTables() {
  if (m_incompleteTables.empty()) return;
  // One entry holds a few hundred bytes: a long list ends with how many it left out.
  constexpr std::size_t kListBytes = 250;
  std::string list;
  std::size_t named = 0;
  for (const std::string& table : m_incompleteTables) {
    if (!list.empty() && list.size() + table.size() + 2 > kListBytes) break;
    list += (list.empty() ? "" : ", ") + table;
    ++named;
  }
  if (named < m_incompleteTables.size()) {
    list += " and " + std::to_string(m_incompleteTables.size() - named) + " more";
  }
  m_context.Log(LogLevel::Warning, "Tables left incomplete on the destination: " + list);
  m_incompleteTables.clear();
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

CopyStep CServerCopyRun::CopyDatabase(const DatabaseItem& database) {
  const std::string& name = database.DatabaseName;
  Info(m_wording.CopyingDatabase + name + "...");
  const std::string destinationName = DestinationDatabaseName(name);
  if (m_sameServer && destinationName == name) {
    Error("The destination database can't same as the source database! - " + name);
    return CopyStep::Refuse;
  }
  if (!UseSourceDatabase(Main(), name)) {
    Error("Failed to use database " + name + " on the source server!");
    return CopyStep::Skip;
  }
  DatabaseDefaults defaults;
  if (m_settings.AddCreateDatabase) defaults = ReadDatabaseDefaults(m_source, name);
  if (defaults.Charset.empty()) defaults = {Main().databaseCharset, {}};
  if (m_settings.AddCreateDatabase && !m_destination.Execute(CreateDatabaseStatement(
                                          destinationName, m_quote, defaults.Charset,
                                          m_destinationCharsetClause, defaults.Collation))) {
    Error("Failed to create database " + destinationName + " on the destination server!");
    return CopyStep::Skip;
  }
  if (!SelectDatabase(m_destination, destinationName)) {
    Error("Failed to use database " + destinationName + " on the destination server!");
    return CopyStep::Skip;
  }

  if (m_lanes.size() > 1) {
    if (CopyTablesInParallel(database, destinationName) == CopyStep::Stop) return CopyStep::Stop;
    if (m_sessionLost) return CopyStep::Skip;
  } else {
    std::size_t order = 0;
    for (const TableItem& table : database.Tables) {
      if (table.Selected == 0) continue;
      if (Canceled()) return CopyStep::Stop;
      StartTableProgress(m_context, m_estimates, name, table.TableName);
      if (CopyTable(Main(), table, order++) == CopyStep::Stop) return CopyStep::Stop;
      if (m_sessionLost) return CopyStep::Skip;
    }
  }
  CreatePendingViews();
  CopySchemaObjects(name);
  return CopyStep::Continue;
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
RunOutcome ServerCopyWorker(TaskRunContext& context) {
  CServerCopyRun run(context);
  return run.Run();
}

}  // namespace brevanto
