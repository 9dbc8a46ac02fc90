#pragma once
// One run of a copy task, shared by the files that make it up: ServerCopyWorker.cpp (the
// run, its connections and databases), ServerCopyTables.cpp (a table up to its rows),
// ServerCopyRows.cpp (its rows) and ServerCopyParallel.cpp (several tables at a time).
// Not used outside engines/.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "engines/ErrorCountingContext.h"
#include "engines/MySqlConnection.h"
#include "engines/ProgressPlan.h"
#include "engines/ServerCopyText.h"
#include "engines/StatementWatchdog.h"
#include "schedule/TaskRoutine.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {

// What follows a step: go on, skip the rest of the table or database, end the run for a
// stop request, or end it as failed.
enum class CopyStep { Continue, Skip, Stop, Refuse };

// An entry held back while tables go several at a time, with the time it happened.
struct HeldEntry {
  LogLevel Level;
  std::string Text;
  TaskDateTime When;
};
using LogEntries = std::vector<HeldEntry>;

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
  // While tables go several at a time, a table's rows entries are held here and logged
  // together, so that its records line follows its own table.
  LogEntries* heldLog = nullptr;
  bool rowsComplete = false;  // the last CopyRows copied every row and ended the table
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
      lane.heldLog->push_back({level, text, m_context.GetClock().Now()});
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
  // Logs a table's held entries as one block, each stamped when it happened.
  void ReleaseLog(LogEntries& entries);
  // For a copy that failed or stopped: one entry naming the destination tables that a
  // parallel pass dropped, created or began to fill but did not finish.
  void LogIncompleteTables();
  CopyLane& Main() { return *m_lanes.front(); }
  void SendToDestination(CopyLane& lane, const std::vector<std::string>& statements);
  void FollowSourceCharset(CopyLane& lane);
  // The destination session's set-up, after its connect.
  void PrepareDestination(CopyLane& lane);
  // Up to `wanted` lanes in all, set up as the first; a Warning says when fewer.
  void OpenMoreLanes(int wanted);
  // How many tables may go at a time for this selection.
  int LanesWanted(const std::vector<DatabaseItem>& databases) const;

  CopyStep CopyDatabase(const DatabaseItem& database);
  std::string DestinationDatabaseName(const std::string& sourceDatabase) const;
  // Makes `database` the source session's current database with its character set.
  bool UseSourceDatabase(CopyLane& lane, const std::string& database);
  // The database's tables over every lane; Stop for a stop request.
  CopyStep CopyTablesInParallel(const DatabaseItem& database, const std::string& destinationName);
  CopyStep CopyTable(CopyLane& lane, const TableItem& item, std::size_t order);
  // A table up to its rows: its entry, structure or view placeholder. `kind` is what
  // the rows step needs; `lockSource` also flushes and locks it on the source as the
  // task asks.
  CopyStep PrepareTable(CopyLane& lane, const TableItem& item, std::size_t order, bool lockSource,
                        std::uint8_t& kind);
  CopyStep FlushAndLockSource(CopyLane& lane, const std::string& quoted);
  void AlignTableCharset(CopyLane& lane, const std::string& database, const std::string& table);
  CopyStep ReadEngine(CopyLane& lane, const std::string& table, std::string& engine);
  CopyStep CopyStructure(CopyLane& lane, const TableItem& item, std::size_t order,
                         std::uint8_t kind, const std::string& engine, MYSQL_RES* fields);
  CopyStep CopyViewPlaceholder(CopyLane& lane, const TableItem& item, std::size_t order);
  CopyStep CopyRows(CopyLane& lane, const TableItem& item, std::uint8_t kind);
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
  std::vector<std::string> m_incompleteTables;  // "database.table" on the destination
  // Last: it stops before the connections it watches close.
  std::optional<CStatementWatchdog> m_watchdog;
};

}  // namespace brevanto
