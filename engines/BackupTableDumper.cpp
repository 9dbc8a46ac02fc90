#include "engines/BackupTableDumper.h"

#include <cctype>
#include <utility>

#include "engines/ContentDigest.h"
#include "engines/InsertStatements.h"
#include "engines/MySqlConnection.h"
#include "engines/OutputFile.h"
#include "engines/SqlDumpWriter.h"
#include "engines/TableDefinition.h"
#include "engines/ValueRenderer.h"

namespace brevanto {

namespace {

constexpr std::size_t kCreateTemporaryLength = 17;  // "CREATE TEMPORARY "
constexpr std::size_t kTableWordLength = 6;         // "TABLE "

enum class RowsResult { Written, Failed, SkipRest, Canceled };

}  // namespace

DumpOptions MakeDumpOptions(const BackupSettings& settings, unsigned long serverVersion) {
  DumpOptions options;
  options.Settings = settings;
  options.ServerVersion = serverVersion;
  options.Quote = settings.QuoteNames != 0 && AllowsBacktickQuoting(serverVersion);
  options.HasShowCreateTable = HasShowCreateTable(serverVersion);
  options.HasCharacterSets = HasCharacterSets(serverVersion);
  options.Inserts = ChooseInsertShape(settings.MultipleRowInsert != 0, 0, 0);
  options.ViewsInLastFile = settings.FileMode != 1 && settings.FileGrouping == 3;
  return options;
}

bool SupportsDelayedInsert(const std::string& engine) {
  std::string upper;
  for (char c : engine) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.empty() || upper == "MYISAM" || upper == "MEMORY" || upper == "ARCHIVE" ||
         upper == "ARIA" || upper == "HEAP" || upper == "BLACKHOLE";
}

std::string MakeInsertPrefix(const BackupSettings& settings, bool quote, const std::string& table,
                             const std::vector<std::string>& columns, const std::string& engine,
                             bool nameColumns) {
  std::string prefix = settings.UseReplace != 0 ? "REPLACE" : "INSERT";
  // The server refuses DELAYED for most engines (InnoDB) and inside LOCK TABLES, and
  // REPLACE IGNORE is no statement at all: each would make every row fail to restore.
  if (settings.InsertDelayed != 0 && settings.AddLockTables == 0 && SupportsDelayedInsert(engine)) {
    prefix += " DELAYED";
  }
  if (settings.InsertIgnore != 0 && settings.UseReplace == 0) prefix += " IGNORE";
  prefix += " INTO " + QuoteName(table, quote);
  if (settings.CompleteInsert != 0 || nameColumns) {
    prefix += "(";
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) prefix += ",";
      prefix += QuoteName(columns[i], settings.AllowKeywordColumnNames != 0);
    }
    prefix += ")";
  }
  prefix += " VALUES ";
  return prefix;
}

CBackupTableDumper::CBackupTableDumper(TaskRunContext& context, CMySQLConnection& connection,
                                       const DumpOptions& options, std::string database,
                                       std::string databaseCharset, ManifestCollector* collected)
    : m_context(context),
      m_connection(connection),
      m_options(options),
      m_settings(options.Settings),
      m_database(std::move(database)),
      m_databaseCharset(std::move(databaseCharset)),
      m_collected(collected) {}

void CBackupTableDumper::ServerError(const std::string& text) {
  Error(WithServerError(text, m_connection.LastError()));
}

bool CBackupTableDumper::Written(CSqlDumpWriter& writer, const std::string& what,
                                 const Status& status) {
  if (!status.ok()) {
    Error(WithFileError(
        "Failed to write " + what + " to the backup file! - " + writer.File().Path(), status));
  }
  return status.ok();
}

void CBackupTableDumper::Error(const std::string& text) {
  // After a stop request the connection may have been cancelled under us; what fails
  // then is the cancel, not the server, and the run ends with "User canceled!".
  if (m_context.StopRequested()) return;
  m_context.Log(LogLevel::Error, text);
}

RunOutcome CBackupTableDumper::DumpTable(CSqlDumpWriter& writer, const TableItem& item) {
  const RunOutcome outcome = DumpTableSteps(writer, item);
  return m_context.StopRequested() ? RunOutcome::Canceled : outcome;
}

RunOutcome CBackupTableDumper::DumpTableSteps(CSqlDumpWriter& writer, const TableItem& item) {
  const std::string& name = item.TableName;
  const std::string quoted = QuoteName(name, m_options.Quote);
  const unsigned long version = m_options.ServerVersion;

  // A column in another character set than the database's is read (and written) in
  // utf8mb4, or the characters the database default cannot hold would become "?".
  m_readCharset = TableReadCharset(m_connection, m_database, name, m_databaseCharset);
  const bool otherCharset = m_readCharset != m_databaseCharset;
  if (otherCharset) SetConnectionCharacterSet(m_connection, m_readCharset, version);
  bool locked = false;
  // Whatever path leaves the table releases its source lock (the UNLOCK TABLES of the
  // rows step) and its character set.
  struct TableGuard {
    CBackupTableDumper& dumper;
    bool& locked;
    bool otherCharset;
    ~TableGuard() {
      if (locked) (void)dumper.m_connection.Execute("UNLOCK TABLES");
      if (otherCharset) {
        SetConnectionCharacterSet(dumper.m_connection, dumper.m_databaseCharset,
                                  dumper.m_options.ServerVersion);
      }
    }
  } guard{*this, locked, otherCharset};

  if (m_settings.AddSetNames != 0 && !m_readCharset.empty()) {
    writer.WriteCharsetStatements(m_readCharset, version);
  } else {
    writer.DeclareCharset(m_readCharset.empty() ? m_options.SessionCharset : m_readCharset);
  }
  if (m_settings.AddCreateDatabase != 0 && !m_defaults) {
    m_defaults = ReadDatabaseDefaults(m_connection, m_database);
    if (m_defaults->Charset.empty()) m_defaults = DatabaseDefaults{m_databaseCharset, {}};
  }
  if (m_settings.AddCreateDatabase != 0 &&
      !Written(writer, "the CREATE and USE database",
               writer.WriteCreateDatabase(m_database, m_options.Quote, m_options.HasCharacterSets,
                                          m_defaults->Charset, m_defaults->Collation))) {
    return RunOutcome::Finished;
  }
  if (m_settings.FlushTablesBeforeStart != 0) (void)m_connection.Execute("FLUSH TABLE " + quoted);
  if (m_settings.LockTablesBeforeStart != 0) {
    (void)m_connection.Execute("LOCK TABLES " + quoted + " READ LOCAL");
    locked = true;
  }
  std::uint8_t kind = item.Kind;
  if (m_settings.IncludeStructure != 0) kind = ClassifyTable(m_connection, name, m_options.Quote);
  const bool isView = kind == 2;

  std::string engine;
  if (!ReadEngine(name, engine)) return RunOutcome::Finished;
  MySqlResult fieldList(mysql_list_fields(m_connection.Handle(), name.c_str(), nullptr));
  if (!fieldList) {
    ServerError("No result of list table fields: " + name);
    return RunOutcome::Finished;
  }
  const unsigned int count = mysql_num_fields(fieldList.get());
  const MYSQL_FIELD* fields = mysql_fetch_fields(fieldList.get());

  if (m_settings.IncludeStructure != 0) {
    // A placeholder must not drop the real view a set restored out of order has made.
    if (m_settings.AddDropTable != 0 && !(isView && m_options.ViewsInLastFile)) {
      if (isView) (void)writer.AppendStatement("DROP VIEW IF EXISTS " + quoted);
      (void)writer.AppendStatement("DROP TABLE IF EXISTS " + quoted);
    }
    const bool written = isView ? DumpViewStructure(writer, name)
                                : DumpTableStructure(writer, name, engine, fields, count);
    if (!written) return RunOutcome::Finished;
  } else {
    m_context.Log(LogLevel::General, "Structure option is unchecked.");
  }
  if (isView) return RunOutcome::Finished;

  if (m_settings.AddDeleteAllRecords != 0 &&
      !Written(writer, "the DELETE", writer.AppendStatement("DELETE FROM " + quoted))) {
    return RunOutcome::Finished;
  }
  if (m_settings.IncludeRecords == 0) {
    // The copy holds none of its rows: described without a digest.
    if (m_collected != nullptr) m_collected->AddTable({m_database, name, engine, 0, {}});
    return RunOutcome::Finished;
  }
  if (m_context.StopRequested()) return RunOutcome::Canceled;
  return DumpRows(writer, name, engine);
}

bool CBackupTableDumper::ReadEngine(const std::string& table, std::string& engine) {
  MYSQL* handle = m_connection.Handle();
  if (!m_connection.Execute("SHOW TABLE STATUS LIKE '" + ExactLikePattern(handle, table) + "'")) {
    ServerError("Failed to show table status: " + table);
    return false;
  }
  MySqlResult status(mysql_store_result(handle));
  if (!status) {
    ServerError("No result of show table status: " + table);
    return false;
  }
  MYSQL_ROW row = mysql_fetch_row(status.get());
  if (row == nullptr) {
    engine = "MyISAM";
  } else if (mysql_num_fields(status.get()) > 1 && row[1] != nullptr) {
    engine = row[1];
  }
  return true;
}

bool CBackupTableDumper::DumpViewStructure(CSqlDumpWriter& writer, const std::string& view) {
  // The temporary table of the view's name hides the view, so SHOW CREATE TABLE gives a
  // plain table with the view's columns, for anything defined before the view itself.
  // The name is always quoted for the server (views exist only where backticks do), so
  // views with odd names work too.
  const std::string temporary = QuoteName(view, true);
  if (!m_connection.Execute("CREATE TEMPORARY TABLE " + temporary + " SELECT * FROM " + temporary +
                            " WHERE 0")) {
    ServerError("Failed to create temporary table for the view " + view);
    return false;
  }
  struct TemporaryGuard {
    CMySQLConnection& connection;
    std::string name;
    bool dropped = false;
    ~TemporaryGuard() {
      if (!dropped) (void)connection.Execute("DROP TEMPORARY TABLE IF EXISTS " + name);
    }
  } guard{m_connection, temporary};

  std::string definition;
  if (!ReadCreateTable(m_connection, view, definition) ||
      definition.size() <= kCreateTemporaryLength) {
    ServerError("Failed to show temporary table for the view " + view);
    return false;
  }
  const std::string placeholder =
      m_options.ViewsInLastFile ? "CREATE TABLE IF NOT EXISTS " +
                                      definition.substr(kCreateTemporaryLength + kTableWordLength)
                                : "CREATE " + definition.substr(kCreateTemporaryLength);
  if (!Written(writer, "create temporary table for the view " + view,
               writer.AppendStatement(placeholder))) {
    return false;
  }
  guard.dropped = true;
  if (!m_connection.Execute("DROP TEMPORARY TABLE " + temporary)) {
    ServerError("Failed to drop temporary table for the view " + view);
    return false;
  }
  if (!ReadViewDefinition(view)) return false;
  m_context.Log(LogLevel::General, "Backup the view " + m_database + "." + view + " - OK");
  return true;
}

bool CBackupTableDumper::ReadViewDefinition(const std::string& view) {
  std::string definition;
  if (!ReadCreateTable(m_connection, view, definition) || definition.empty()) {
    ServerError("Failed to show view " + view);
    return false;
  }
  m_views.push_back({view, std::move(definition), m_readCharset});
  return true;
}

void CBackupTableDumper::ReadViewAhead(const TableItem& item) {
  if (m_settings.IncludeStructure == 0 ||
      ClassifyTable(m_connection, item.TableName, m_options.Quote) != 2) {
    return;
  }
  m_readCharset = TableReadCharset(m_connection, m_database, item.TableName, m_databaseCharset);
  const bool otherCharset = m_readCharset != m_databaseCharset;
  if (otherCharset) SetConnectionCharacterSet(m_connection, m_readCharset, m_options.ServerVersion);
  (void)ReadViewDefinition(item.TableName);
  if (otherCharset) {
    SetConnectionCharacterSet(m_connection, m_databaseCharset, m_options.ServerVersion);
  }
}

void CBackupTableDumper::AddDeferredViews(const std::vector<DeferredView>& views) {
  m_views.insert(m_views.end(), views.begin(), views.end());
}

bool CBackupTableDumper::DumpTableStructure(CSqlDumpWriter& writer, const std::string& table,
                                            const std::string& engine, const MYSQL_FIELD* fields,
                                            unsigned int count) {
  std::string definition;
  if (!GetTableDefinition(m_connection, table, engine, fields, count, m_options.Quote,
                          m_options.HasShowCreateTable, definition) ||
      definition.empty()) {
    ServerError("Failed to get create table! - " + table);
    return false;
  }
  return Written(writer, "the CREATE TABLE", writer.AppendStatement(definition));
}

RunOutcome CBackupTableDumper::DumpRows(CSqlDumpWriter& writer, const std::string& table,
                                        const std::string& engine) {
  const std::string quoted = QuoteName(table, m_options.Quote);
  const std::vector<std::string> named =
      ColumnsNamedForInvisible(m_connection, table, m_options.Quote);
  // The rows digest is taken from this very read; a server that cannot list the columns
  // gets none.
  std::optional<DumpRowsDigest> digest;
  std::vector<DigestColumn> digestColumns;
  std::string resultsCharset;
  if (m_collected != nullptr &&
      ReadDigestColumns(m_connection, m_database, table, digestColumns, resultsCharset)) {
    digest.emplace(std::move(digestColumns), resultsCharset);
  }
  if (!m_connection.Execute(
          SelectRowsQuery(table, named, m_options.Quote, digest ? digest->ExtraSelect() : ""))) {
    ServerError("Failed to get all records of table " + table + " !");
    return RunOutcome::Finished;
  }
  MySqlResult result(mysql_use_result(m_connection.Handle()));
  if (!result) {
    ServerError("No records of the table " + table);
    return RunOutcome::Finished;
  }
  if (m_settings.AddDisableKeys != 0 &&
      !Written(writer, "DISABLE KEYS",
               writer.AppendStatement("ALTER TABLE " + quoted + " DISABLE KEYS"))) {
    return RunOutcome::Finished;
  }
  if (m_settings.AddLockTables != 0 &&
      !Written(writer, "LOCK TABLES", writer.AppendStatement("LOCK TABLES " + quoted + " WRITE"))) {
    return RunOutcome::Finished;
  }
  if (m_settings.AddSetAutocommit != 0 &&
      !Written(writer, "SET AUTOCOMMIT", writer.AppendStatement("SET AUTOCOMMIT=0;"))) {
    return RunOutcome::Finished;
  }

  const MYSQL_FIELD* fields = mysql_fetch_fields(result.get());
  const unsigned int received = mysql_num_fields(result.get());
  if (digest && !digest->Bind(fields, received)) digest.reset();
  // The digest's own columns come last and are not written.
  const unsigned int count = received - (digest ? digest->ExtraColumns() : 0);
  // The column list names the columns of the values: those the SELECT returned. Without
  // it an INSERT cannot reach invisible columns, so a table that has them always names.
  std::vector<std::string> columns;
  for (unsigned int i = 0; i < count; ++i) {
    columns.emplace_back(fields[i].name != nullptr ? fields[i].name : "");
  }
  CInsertStatements inserts(
      MakeInsertPrefix(m_settings, m_options.Quote, table, columns, engine, !named.empty()),
      m_options.Inserts);
  MYSQL* handle = m_connection.Handle();
  long long rows = 0;
  RowsResult outcome = RowsResult::Written;
  while (MYSQL_ROW row = mysql_fetch_row(result.get())) {
    const unsigned long* lengths = mysql_fetch_lengths(result.get());
    ++rows;
    if (digest) digest->AddRow(row, lengths);
    const bool ready = inserts.AddRow([&](std::string& text) {
      AppendRenderedRow(text, row, lengths, fields, count, handle);
    });
    m_context.ProgressAdvance(1, 0);
    if (ready) {
      const bool single = inserts.ReadyRows() == 1 && !m_options.Inserts.MultiRow;
      const Status written = writer.AppendStatementInPlace(inserts.Ready());
      if (written.ok()) m_context.ProgressAdvance(0, static_cast<std::int64_t>(inserts.Ready().size()));
      inserts.Sent();
      if (!Written(writer, single ? "a record" : "multi-rows records", written)) {
        outcome = RowsResult::Failed;
        break;
      }
    }
    if (m_context.StopRequested()) {
      outcome = RowsResult::Canceled;
      break;
    }
  }
  if (outcome == RowsResult::Written && mysql_errno(handle) != 0) {
    // The connection broke off mid-table: the rows read so far are written below, but
    // the table is not reported as backed up.
    if (m_context.StopRequested()) {
      outcome = RowsResult::Canceled;
    } else {
      ServerError("Failed to get all records of table " + table + " !");
      outcome = RowsResult::Failed;
    }
  }
  if (outcome == RowsResult::Canceled) {
    // Freeing an unfinished result reads the rest of the table; cut the connection first.
    m_connection.CancelHandle()->Cancel();
    return RunOutcome::Canceled;
  }
  if (outcome != RowsResult::Failed || mysql_errno(handle) != 0) {
    if (inserts.Finish() &&
        !Written(writer, "multi-row records", writer.AppendStatementInPlace(inserts.Ready()))) {
      outcome = RowsResult::SkipRest;
    }
  }
  // A table whose rows failed gets no closing statements: its file must not end like a
  // complete one.
  if (outcome != RowsResult::Written) return RunOutcome::Finished;

  if (m_settings.AddLockTables != 0 &&
      !Written(writer, "UNLOCK TABLES", writer.AppendStatement("UNLOCK TABLES"))) {
    return RunOutcome::Finished;
  }
  if (m_settings.AddDisableKeys != 0 &&
      !Written(writer, "ENABLE KEYS",
               writer.AppendStatement("ALTER TABLE " + quoted + " ENABLE KEYS"))) {
    return RunOutcome::Finished;
  }
  if (m_settings.AddSetAutocommit != 0 &&
      !Written(writer, "COMMIT", writer.AppendStatement("COMMIT"))) {
    return RunOutcome::Finished;
  }
  if (m_collected != nullptr) {
    m_collected->AddTable({m_database, table, engine, static_cast<std::uint64_t>(rows),
                           digest ? digest->Text() : std::string()});
  }
  m_context.Log(LogLevel::General,
                "Backup the records from the table OK - " + std::to_string(rows) + " records");
  return RunOutcome::Finished;
}

void CBackupTableDumper::WriteDeferredViews(CSqlDumpWriter& writer) {
  for (const DeferredView& view : m_views) {
    const std::string quoted = QuoteName(view.Name, m_options.Quote);
    (void)writer.AppendStatement("DROP TABLE IF EXISTS " + quoted);
    (void)writer.AppendStatement("DROP VIEW IF EXISTS " + quoted);
    // A view read in another character set than the file's last table keeps its own.
    if (m_settings.AddSetNames != 0 && !view.Charset.empty() &&
        view.Charset != writer.CurrentCharset()) {
      writer.WriteCharsetStatements(view.Charset, m_options.ServerVersion);
    } else if (m_settings.AddSetNames == 0 || view.Charset.empty()) {
      writer.DeclareCharset(view.Charset.empty() ? m_options.SessionCharset : view.Charset);
    }
    if (Written(writer, "CREATE VIEW", writer.AppendStatement(view.Definition)) &&
        m_collected != nullptr) {
      m_collected->AddObject({"view", m_database, view.Name, DefinitionDigest(view.Definition)});
    }
  }
  m_views.clear();
}

}  // namespace brevanto
