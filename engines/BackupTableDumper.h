#pragma once
// CBackupTableDumper: writes one database's tables and views into a dump file (the
// statements of one table in the order the backup options ask for) and keeps the views
// whose definitions wait until the database's tables are written. Used by the
// BackupToFiles run on its worker thread; borrows the run's connection.

#include <optional>
#include <string>
#include <vector>

#include <mysql.h>

#include "core/Status.h"
#include "engines/InsertStatements.h"
#include "engines/MySqlConnection.h"
#include "schedule/TaskRoutine.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class CSqlDumpWriter;
class ManifestCollector;

// What a run derives once from the task's settings and the server version.
struct DumpOptions {
  BackupSettings Settings;
  unsigned long ServerVersion = 0;
  bool Quote = false;               // QuoteNames, and the server knows backticks
  bool HasShowCreateTable = false;  // >= 3.23.20
  bool HasCharacterSets = false;    // >= 4.1.0
  // What the session reads in before any database's character set is applied (the
  // server's, or the library default without "Set connection character set").
  std::string SessionCharset;
  // How rows become INSERT statements (the task's own shape unless the run fills them).
  InsertShape Inserts;
  // One file per table: a view's own file holds only its placeholder, created unless the
  // name exists already (the view may be back from the database's last file), and the
  // real view waits for that file.
  bool ViewsInLastFile = false;
};

DumpOptions MakeDumpOptions(const BackupSettings& settings, unsigned long serverVersion);

// Whether INSERT DELAYED works on tables of `engine` ("" counts as MyISAM).
bool SupportsDelayedInsert(const std::string& engine);

// The statement that starts every row's INSERT: verb, options, table, column list.
// `columns` are used only with CompleteInsert or `nameColumns`; DELAYED only for engines
// that take it and without AddLockTables, IGNORE only with INSERT.
std::string MakeInsertPrefix(const BackupSettings& settings, bool quote, const std::string& table,
                             const std::vector<std::string>& columns,
                             const std::string& engine = "", bool nameColumns = false);

class CBackupTableDumper {
 public:
  // REQUIRES: `database` is the connection's current database and `databaseCharset` its
  // character set as applied to the connection (empty when not set). With `collected`,
  // each table whose rows are written completely, and each view written, is described
  // there with its digest (engines/ContentDigest.h).
  CBackupTableDumper(TaskRunContext& context, CMySQLConnection& connection,
                     const DumpOptions& options, std::string database, std::string databaseCharset,
                     ManifestCollector* collected = nullptr);

  // One table or view. Logs every failure itself; returns Canceled when a stop request
  // was seen, Finished otherwise (also after a logged failure: the run goes on).
  RunOutcome DumpTable(CSqlDumpWriter& writer, const TableItem& table);

  // Writes and forgets the views collected so far.
  void WriteDeferredViews(CSqlDumpWriter& writer);

  struct DeferredView {
    std::string Name;
    std::string Definition;
    std::string Charset;  // the character set its definition was read in
  };
  // Hands the views collected so far over, forgetting them here.
  std::vector<DeferredView> TakeDeferredViews() { return std::move(m_views); }
  void AddDeferredViews(const std::vector<DeferredView>& views);
  // When `item` is a view: reads its definition as DumpTable would and keeps it for
  // WriteDeferredViews, writing nothing. Logs a failure.
  void ReadViewAhead(const TableItem& item);

 private:
  // SHOW CREATE of `view` in m_readCharset, kept for WriteDeferredViews.
  bool ReadViewDefinition(const std::string& view);

  void Error(const std::string& text);
  // Error with the connection's last server error appended.
  void ServerError(const std::string& text);
  // Whether `status` of a write is ok; if not, logs "Failed to write `what` to the backup
  // file! - path" with the system's reason.
  bool Written(CSqlDumpWriter& writer, const std::string& what, const Status& status);
  RunOutcome DumpTableSteps(CSqlDumpWriter& writer, const TableItem& table);
  bool DumpViewStructure(CSqlDumpWriter& writer, const std::string& view);
  bool DumpTableStructure(CSqlDumpWriter& writer, const std::string& table,
                          const std::string& engine, const MYSQL_FIELD* fields, unsigned int count);
  // The INSERT statements and what surrounds them. REQUIRES: no result is pending.
  RunOutcome DumpRows(CSqlDumpWriter& writer, const std::string& table, const std::string& engine);
  // SHOW TABLE STATUS: the engine name; false (logged) when the server refuses.
  bool ReadEngine(const std::string& table, std::string& engine);

  TaskRunContext& m_context;
  CMySQLConnection& m_connection;
  const DumpOptions& m_options;
  const BackupSettings& m_settings;
  const std::string m_database;
  const std::string m_databaseCharset;
  std::string m_readCharset;  // the connection's character set for the current table
  std::optional<DatabaseDefaults> m_defaults;  // of the database, read at its first CREATE
  std::vector<DeferredView> m_views;
  ManifestCollector* m_collected = nullptr;
};

}  // namespace brevanto
