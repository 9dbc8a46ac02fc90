#include "engines/ServerCopyWorker.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "engines/BackupTableDumper.h"
#include "engines/ErrorCountingContext.h"
#include "engines/InsertStatements.h"
#include "engines/LoadTransaction.h"
#include "engines/MySqlConnection.h"
#include "engines/ProgressPlan.h"
#include "engines/SchemaObjects.h"
#include "engines/Snapshot.h"
#include "engines/ServerCopyText.h"
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

// One run of a copy task. Owns both connections; lives on the worker thread.
class CServerCopyRun {
 public:
  explicit CServerCopyRun(TaskRunContext& context)
      : m_context(context),
        m_task(context.Task()),
        m_settings(m_task.BackupSettings),
        m_wording(WordingFor(m_task.GetType())),
        m_advanced(AdvancedOptionsOf(m_task)) {}
  ~CServerCopyRun() { m_context.SetCancelHook({}); }
  CServerCopyRun(const CServerCopyRun&) = delete;
  CServerCopyRun& operator=(const CServerCopyRun&) = delete;

  // The copy, and for one that logged errors a last entry saying it is incomplete.
  RunOutcome Run();

 private:
  RunOutcome Copy();
  bool Canceled() { return m_context.StopRequested(); }
  void Info(const std::string& text) { m_context.Log(LogLevel::General, text); }
  // Logs `text` with the failing server's reason. Once a session is lost nothing more
  // can run on it: that one entry ends the copy, and nothing is logged after it.
  void Error(const std::string& text) {
    if (m_sessionLost) return;
    const MySqlError destination = m_destination.LastError();
    const MySqlError source = m_source.LastError();
    m_context.Log(LogLevel::Error,
                  WithServerError(text, destination.Number != 0 ? destination : source));
    m_sessionLost = IsLostConnection(destination.Number) || IsLostConnection(source.Number);
  }
  void SendToDestination(const std::vector<std::string>& statements);
  void FollowSourceCharset();

  Next CopyDatabase(const DatabaseItem& database);
  std::string DestinationDatabaseName(const std::string& sourceDatabase) const;
  Next CopyTable(const TableItem& item);
  void AlignTableCharset(const std::string& database, const std::string& table);
  Next ReadEngine(const std::string& table, std::string& engine);
  Next CopyStructure(const TableItem& item, std::uint8_t kind, const std::string& engine,
                     MYSQL_RES* fields);
  Next CopyViewPlaceholder(const TableItem& item);
  Next CopyRows(const TableItem& item, std::uint8_t kind, MYSQL_RES* fields);
  void CreatePendingViews();
  // The triggers, routines and events of the current database, after its tables and views.
  void CopySchemaObjects(const std::string& database);

  CErrorCountingContext m_context;
  const CTaskItem& m_task;
  const BackupSettings& m_settings;
  const CopyWording& m_wording;
  const CAdvancedOptions m_advanced;

  CMySQLConnection m_source;
  CMySQLConnection m_destination;
  unsigned long m_sourceVersion = 0;
  bool m_quote = false;
  bool m_showCreate = false;
  bool m_destinationCharsetClause = false;
  // Both sessions report the same host name, port and data folder.
  bool m_sameServer = false;
  std::size_t m_destinationMaxPacket = 0;  // 0 when the server would not say
  bool m_sessionLost = false;  // a connection died: the run ends with its one Error
  bool m_fastLoad = false;     // the destination loads with its checks off

  std::string m_serverCharset;
  std::string m_databaseCharset;
  // What each session reads and writes in now ("" for the client library's default),
  // so that rows read in one character set are written in the same one.
  std::string m_sourceCharset;
  std::string m_destinationCharset;
  CTableRowEstimates m_estimates;

  // The views of the current database, created after its tables.
  struct PendingView {
    std::string Name;
    std::string Definition;
    std::string Charset;  // the source session's character set when the text was read
  };
  std::vector<PendingView> m_pendingViews;
};

RunOutcome CServerCopyRun::Run() {
  const RunOutcome outcome = Copy();
  if (outcome != RunOutcome::Finished || m_context.Errors() == 0) return outcome;
  // A copy with failed statements is not a good copy: the log must not end "Finished".
  if (m_context.LastLevel() != LogLevel::Error || m_context.Errors() > 1) {
    m_context.Log(LogLevel::Error, "The copy is incomplete (" +
                                       std::to_string(m_context.Errors()) +
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
  m_sourceCharset = m_serverCharset.empty() ? SessionCharset(m_source) : m_serverCharset;
  Info(m_wording.CopyingSelection);

  SendToDestination(DestinationPrologue(m_settings, m_serverCharset, m_sourceVersion));
  // The rows come from a source that checked them: the load skips the checks (and may
  // create a child table before its parent).
  m_fastLoad = m_advanced.TransactionPerTable && BeginFastLoad(m_destination);
  if (m_settings.AddSetNames) m_destinationCharset = m_serverCharset;
  FollowSourceCharset();
  if (m_settings.FlushLogsBeforeStart) (void)m_source.Execute("FLUSH LOGS");
  if (Canceled()) return RunOutcome::Canceled;

  const std::vector<DatabaseItem> databases =
      ResolveSelection(m_source, m_settings, m_task.BackupDatabases, m_quote);
  m_estimates = PlanTableProgress(m_context, m_source, databases);
  if (m_advanced.ConsistentSnapshot) BeginConsistentSnapshot(m_context, {&m_source}, databases);
  for (const DatabaseItem& database : databases) {
    if (database.Selected == 0) continue;
    if (Canceled()) return RunOutcome::Canceled;
    const Next next = CopyDatabase(database);
    if (next == Next::Stop) return RunOutcome::Canceled;
    if (next == Next::Refuse) return RunOutcome::Failed;
    if (Canceled()) return RunOutcome::Canceled;
    if (m_sessionLost) return RunOutcome::Failed;
  }

  if (m_fastLoad) (void)EndFastLoad(m_destination);
  SendToDestination(DestinationEpilogue(m_settings, m_serverCharset));
  m_source.Close();
  m_destination.Close();
  return RunOutcome::Finished;
}

void CServerCopyRun::SendToDestination(const std::vector<std::string>& statements) {
  for (const std::string& statement : statements) (void)m_destination.Execute(statement);
}

void CServerCopyRun::FollowSourceCharset() {
  // Rows are sent in the bytes they were read in: the destination must take them in
  // the same character set, whatever the SET NAMES setting says.
  if (m_sourceCharset.empty() || m_sourceCharset == m_destinationCharset) return;
  SendToDestination(CharsetStatements(m_sourceCharset, m_sourceVersion));
  m_destinationCharset = m_sourceCharset;
}

std::string CServerCopyRun::DestinationDatabaseName(const std::string& sourceDatabase) const {
  if (!CopiesIntoNamedDatabase(m_task.GetType())) return sourceDatabase;
  if (!m_settings.CreateNewDestinationDatabase) return m_settings.DestinationDatabase;
  return ExpandDestinationDatabaseName(m_settings.DestinationDatabase, m_task.TaskName,
                                       m_task.SourceServer.Host, sourceDatabase,
                                       m_context.RunStartTime());
}

Next CServerCopyRun::CopyDatabase(const DatabaseItem& database) {
  const std::string& name = database.DatabaseName;
  Info(m_wording.CopyingDatabase + name + "...");
  const std::string destinationName = DestinationDatabaseName(name);
  if (m_sameServer && destinationName == name) {
    Error("The destination database can't same as the source database! - " + name);
    return Next::Refuse;
  }
  if (!SelectDatabase(m_source, name)) {
    Error("Failed to use database " + name + " on the source server!");
    return Next::Skip;
  }
  m_databaseCharset.clear();
  if (m_settings.SetConnectionCharset) {
    m_databaseCharset = ApplyDefaultCharset(m_source, true, m_sourceVersion);
    if (!m_databaseCharset.empty()) m_sourceCharset = m_databaseCharset;
  }
  if (m_settings.AddSetNames && !m_databaseCharset.empty()) {
    SendToDestination(CharsetStatements(m_databaseCharset, m_sourceVersion));
    m_destinationCharset = m_databaseCharset;
  }
  FollowSourceCharset();

  if (m_settings.AddCreateDatabase &&
      !m_destination.Execute(CreateDatabaseStatement(destinationName, m_quote, m_databaseCharset,
                                                     m_destinationCharsetClause))) {
    Error("Failed to create database " + destinationName + " on the destination server!");
    return Next::Skip;
  }
  if (!SelectDatabase(m_destination, destinationName)) {
    Error("Failed to use database " + destinationName + " on the destination server!");
    return Next::Skip;
  }

  for (const TableItem& table : database.Tables) {
    if (table.Selected == 0) continue;
    if (Canceled()) return Next::Stop;
    StartTableProgress(m_context, m_estimates, name, table.TableName);
    if (CopyTable(table) == Next::Stop) return Next::Stop;
    if (m_sessionLost) return Next::Skip;
  }
  CreatePendingViews();
  CopySchemaObjects(name);
  return Next::Continue;
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

Next CServerCopyRun::CopyTable(const TableItem& item) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  Info((item.Kind == 2 ? m_wording.CopyingView : m_wording.CopyingTable) + item.DatabaseName + "." +
       table + "...");
  if (Canceled()) return Next::Stop;
  // First: every statement below names the table in the session's character set.
  AlignTableCharset(item.DatabaseName, table);
  // FLUSH and LOCK TABLES would end the snapshot's transaction.
  if (m_settings.FlushTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    (void)m_source.Execute("FLUSH TABLE " + quoted);
    if (Canceled()) return Next::Stop;
  }
  if (m_settings.LockTablesBeforeStart && !m_advanced.ConsistentSnapshot) {
    // Replaces the previous table's lock; released after the rows or by the next LOCK.
    (void)m_source.Execute("LOCK TABLES " + quoted + " READ LOCAL");
    if (Canceled()) return Next::Stop;
  }
  const std::uint8_t kind =
      m_settings.IncludeStructure ? ClassifyTable(m_source, table, m_quote) : item.Kind;
  if (Canceled()) return Next::Stop;

  std::string engine;
  Next next = ReadEngine(table, engine);
  if (next != Next::Continue) return next;
  if (Canceled()) return Next::Stop;

  MySqlResult fields(mysql_list_fields(m_source.Handle(), table.c_str(), nullptr));
  if (!fields) {
    Error("No result of list table fields: " + table);
    return Next::Skip;
  }
  if (Canceled()) return Next::Stop;

  if (m_settings.IncludeStructure) {
    next = CopyStructure(item, kind, engine, fields.get());
    if (next != Next::Continue) return next;
  } else {
    Info("Structure option is unchecked.");
  }
  if (Canceled()) return Next::Stop;
  return CopyRows(item, kind, fields.get());
}

void CServerCopyRun::AlignTableCharset(const std::string& database, const std::string& table) {
  const std::string& base = m_databaseCharset.empty() ? m_sourceCharset : m_databaseCharset;
  const std::string wanted = TableReadCharset(m_source, database, table, base);
  if (wanted != m_sourceCharset) {
    SetConnectionCharacterSet(m_source, wanted, m_sourceVersion);
    m_sourceCharset = wanted;
  }
  FollowSourceCharset();
}

Next CServerCopyRun::ReadEngine(const std::string& table, std::string& engine) {
  engine = "MyISAM";
  if (!m_source.Execute("SHOW TABLE STATUS LIKE '" + LikeLiteral(m_source.Handle(), table) + "'")) {
    Error("Failed to show table status: " + table);
    return Next::Skip;
  }
  MySqlResult status(mysql_store_result(m_source.Handle()));
  if (!status) {
    Error("No result of show table status: " + table);
    return Next::Skip;
  }
  MYSQL_ROW row = mysql_fetch_row(status.get());
  if (row != nullptr && mysql_num_fields(status.get()) > 1 && row[1] != nullptr) engine = row[1];
  return Next::Continue;
}

Next CServerCopyRun::CopyStructure(const TableItem& item, std::uint8_t kind,
                                   const std::string& engine, MYSQL_RES* fields) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  if (m_settings.AddDropTable) {
    if (kind == 2) (void)m_destination.Execute("DROP VIEW IF EXISTS " + quoted);
    if (!m_destination.Execute("DROP TABLE IF EXISTS " + quoted)) {
      Error("Failed to drop table " + table + "!");
      return Next::Skip;
    }
  }
  if (kind == 2) return CopyViewPlaceholder(item);

  std::string definition;
  if (!GetTableDefinition(m_source, table, engine, mysql_fetch_fields(fields),
                          mysql_num_fields(fields), m_quote, m_showCreate, definition) ||
      definition.empty()) {
    Error("Failed to get create table! - " + table);
    return Next::Skip;
  }
  if (!m_destination.Execute(definition)) {
    Error(CopiesIntoNamedDatabase(m_task.GetType())
              ? "Failed to CREATE TABLE " + table + " on the destination server!"
              : "Failed to CREATE TABLE " + item.DatabaseName + "." + table +
                    " on the destination server!");
    return Next::Skip;
  }
  return Next::Continue;
}

Next CServerCopyRun::CopyViewPlaceholder(const TableItem& item) {
  const std::string& view = item.TableName;
  // Views exist only on servers that know backticks: the source's statements always
  // quote, or a view named with a blank, a dash, a dot or a keyword would be lost.
  const std::string quoted = QuoteName(view, true);
  // The temporary table takes the view's columns and hides the view in this session.
  if (!m_source.Execute("CREATE TEMPORARY TABLE " + quoted + " SELECT * FROM " + quoted +
                        " WHERE 0")) {
    Error("Failed to create temporary table for the view " + view);
    return Next::Skip;
  }
  std::string definition;
  if (!ReadCreateTable(m_source, view, definition) || definition.empty()) {
    Error("Failed to show temporary table for the view " + view);
    (void)m_source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return Next::Skip;
  }
  // "CREATE TEMPORARY TABLE ..." minus "CREATE TEMPORARY " is "TABLE ...".
  constexpr std::size_t kTemporaryPrefix = 17;
  if (definition.size() <= kTemporaryPrefix ||
      !m_destination.Execute("CREATE " + definition.substr(kTemporaryPrefix))) {
    Error("Failed to create temporary table on the destination server for the view " + view + "!");
    (void)m_source.Execute("DROP TEMPORARY TABLE IF EXISTS " + quoted);
    return Next::Skip;
  }
  if (!m_source.Execute("DROP TEMPORARY TABLE " + quoted)) {
    Error("Failed to drop temporary table for the view " + view);
    return Next::Skip;
  }
  std::string createView;
  if (!ReadCreateTable(m_source, view, createView) || createView.empty()) {
    Error("Failed to show view " + view);
    return Next::Skip;
  }
  m_pendingViews.push_back({view, std::move(createView), m_sourceCharset});
  Info(m_wording.ViewDone + item.DatabaseName + "." + view + " - OK");
  return Next::Continue;
}

Next CServerCopyRun::CopyRows(const TableItem& item, std::uint8_t kind, MYSQL_RES* fields) {
  const std::string& table = item.TableName;
  const std::string quoted = QuoteName(table, m_quote);
  if (m_settings.AddDeleteAllRecords && kind != 2 &&
      !m_destination.Execute("DELETE FROM " + quoted)) {
    Error("Failed to DELETE " + table + "!");
    return Next::Skip;
  }
  if (!m_settings.IncludeRecords || kind == 2) return Next::Continue;

  MYSQL* source = m_source.Handle();
  const std::vector<std::string> named = ColumnsNamedForInvisible(m_source, table, m_quote);
  if (!m_source.Execute(SelectRowsQuery(table, named, m_quote))) {
    Error("Failed to get all records of table " + table + " !");
    return Next::Skip;
  }
  // Freed on every path; freeing an unread remainder drains it from the source.
  MySqlResult rows(mysql_use_result(source));
  if (!rows) {
    Error("No records of the table " + table);
    return Next::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !m_destination.Execute("ALTER TABLE " + quoted + " DISABLE KEYS")) {
    Error("Failed to DISABLE KEYS of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddLockTables && !m_destination.Execute("LOCK TABLES " + quoted + " WRITE")) {
    Error("Failed to LOCK TABLES " + table + "!");
    return Next::Skip;
  }
  // One transaction for the table's rows; START TRANSACTION would end the table lock
  // and the task's own autocommit setting already makes one.
  CLoadTransaction transaction(m_destination, LoadCommitBytes(m_advanced.StatementBytes));
  const bool transactionPerTable = m_advanced.TransactionPerTable && !m_settings.AddLockTables &&
                                   !m_settings.AddSetAutocommit;
  // A table that ends early gives its destination lock back, or every later table of the
  // run would fail as "not locked with LOCK TABLES"; the rows it sent are kept.
  const auto endLockedTable = [&] {
    (void)transaction.Commit();
    if (m_settings.AddLockTables) (void)m_destination.Execute("UNLOCK TABLES");
    return Next::Skip;
  };
  if (transactionPerTable && !transaction.Begin()) {
    Error("Failed to start the transaction of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddSetAutocommit && !m_destination.Execute("SET AUTOCOMMIT=0")) {
    Error("Failed to SET AUTOCOMMIT of the table " + table + "!");
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
  const auto send = [&]() {
    const std::string& statement = inserts.Ready();
    if (m_destinationMaxPacket != 0 && statement.size() > m_destinationMaxPacket) {
      Error("A record of the table " + table + " needs a statement of " +
            std::to_string(statement.size()) +
            " bytes, more than the destination server's max_allowed_packet of " +
            std::to_string(m_destinationMaxPacket) + " bytes!");
      tooLarge = true;
      return false;
    }
    return m_destination.Execute(statement);
  };
  long long copied = 0;
  while (MYSQL_ROW row = mysql_fetch_row(rows.get())) {
    if (Canceled()) {
      // Cut the source off so that freeing the result does not read the rest.
      m_source.CancelHandle()->Cancel();
      return Next::Stop;
    }
    const unsigned long* lengths = mysql_fetch_lengths(rows.get());
    const bool ready = inserts.AddRow([&](std::string& text) {
      AppendRenderedRow(text, row, lengths, columns, columnCount, source);
    });
    ++copied;
    m_context.ProgressAdvance(1, 0);
    if (!ready) continue;
    if (!send()) {
      complete = false;
      if (!multiRow) {
        if (!tooLarge) Error("Failed to insert a record to the table " + table + "!");
        --copied;
        break;
      }
      // The batch stays as it is and is sent once more below.
      if (!tooLarge) Error("Failed to insert multi-rows records to the table " + table + "!");
      failedBatch = true;
      break;
    }
    const std::size_t sentBytes = inserts.Ready().size();
    m_context.ProgressAdvance(0, static_cast<std::int64_t>(sentBytes));
    inserts.Sent();
    if (!transaction.Sent(sentBytes)) {
      Error("Failed to commit the records of the table " + table + "!");
      complete = false;
      break;
    }
  }
  if (complete && mysql_errno(source) != 0) {
    // The source went away mid-table: what was read is sent, but the table is not whole.
    Error("Failed to get all records of table " + table + " !");
    complete = false;
  }
  rows.reset();

  if (multiRow && !tooLarge && (failedBatch || inserts.Finish()) && !send()) {
    if (!tooLarge) Error("Failed to insert multi-row records to the table " + table + "!");
    return endLockedTable();
  }
  if (!transaction.Commit()) {
    Error("Failed to commit the records of the table " + table + "!");
    return endLockedTable();
  }
  if (m_settings.LockTablesBeforeStart) (void)m_source.Execute("UNLOCK TABLES");
  if (m_settings.AddLockTables && !m_destination.Execute("UNLOCK TABLES")) {
    Error("Failed to UNLOCK TABLES on the destination server! - " + table);
    return Next::Skip;
  }
  if (m_settings.AddDisableKeys &&
      !m_destination.Execute("ALTER TABLE " + quoted + " ENABLE KEYS")) {
    Error("Failed to ENABLE KEYS of the table " + table + "!");
    return Next::Skip;
  }
  if (m_settings.AddSetAutocommit && !m_destination.Execute("COMMIT")) {
    Error("Failed to COMMIT of the table " + table + "!");
    return Next::Skip;
  }
  if (complete) Info(m_wording.RecordsDone + std::to_string(copied) + " records");
  return Next::Continue;
}

void CServerCopyRun::CreatePendingViews() {
  for (const PendingView& view : m_pendingViews) {
    if (view.Name.empty() || view.Definition.empty()) continue;
    const std::string quoted = QuoteName(view.Name, m_quote);
    if (!m_destination.Execute("DROP TABLE IF EXISTS " + quoted)) {
      Error("Failed to DROP TABLE " + view.Name + "!");
      continue;
    }
    (void)m_destination.Execute("DROP VIEW IF EXISTS " + quoted);
    // A later table may have switched the destination to another character set; the
    // view's text must be taken in the one it was read in, or its literals change.
    if (!m_destinationCharset.empty() && !view.Charset.empty() &&
        view.Charset != m_destinationCharset) {
      SendToDestination(CharsetStatements(view.Charset, m_sourceVersion));
      m_destinationCharset = view.Charset;
    }
    if (!m_destination.Execute(view.Definition)) Error("Failed to CREATE VIEW " + view.Name + "!");
  }
  m_pendingViews.clear();
}

}  // namespace

RunOutcome ServerCopyWorker(TaskRunContext& context) {
  CServerCopyRun run(context);
  return run.Run();
}

}  // namespace brevanto
