#include "engines/RestoreFilesWorker.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engines/ErrorCountingContext.h"
#include "engines/LoadTransaction.h"
#include "engines/MySqlConnection.h"
#include "engines/ParallelItems.h"
#include "engines/ProgressPlan.h"
#include "engines/ScriptWorker.h"
#include "engines/SqlInput.h"
#include "engines/StatementReadAhead.h"
#include "engines/StatementSplitter.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {
namespace {

constexpr unsigned int kNoSuchTable = 1146;  // ER_NO_SUCH_TABLE
// The largest max_allowed_packet a server accepts.
constexpr std::size_t kLargestPacket = 1024UL * 1024 * 1024;
// A restore's table transaction is committed once this many bytes went through it. One
// transaction over a whole table of 22 MB cost MariaDB 10.11 about twice the CPU of a
// commit every megabyte or two, and commits this far apart cost next to nothing.
constexpr std::size_t kRestoreCommitBytes = 1024 * 1024;

enum class Next { Continue, Stop, Cancel };

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$';
}

// Only names and mode lists the server itself gave, so they can be put in quotes as
// they are.
bool IsPlainSetting(const std::string& value) {
  return std::all_of(value.begin(), value.end(), [](char c) { return IsWordByte(c) || c == ','; });
}

// A CREATE VIEW that failed because a table it reads was not there yet, with the session
// state it ran in, for a retry after the last file.
struct DeferredView {
  std::string Statement;
  bool HasDatabase = false;
  std::string Database;
  std::string SqlMode;
  std::string CharacterSetClient;
  std::string CollationConnection;
  MySqlError Error;
};

// One session of a restore and what it keeps between statements. A parallel restore has
// one per thread.
struct RestoreLane {
  CMySQLConnection connection;
  std::string loadTable;   // the table the open transaction loads
  bool fileLocks = false;  // the file's own LOCK TABLES is in force
  // Other sessions load beside this one. A file's own LOCK TABLES is then left out: a
  // table another file creates meanwhile with a foreign key to the locked one makes
  // the server refuse rows for it ("was not locked with LOCK TABLES").
  bool shared = false;
  std::vector<DeferredView> deferred;
};

// Whether the file starts as the dumps this program writes do: such a file creates and
// selects its own database, so a set of them may be restored in any order.
bool IsOwnDumpFile(const std::string& path) {
  static constexpr std::string_view kHeader = "-- Brevanto ";
  std::unique_ptr<CSqlInput> input;
  if (!OpenSqlInput(path, input).ok()) return false;
  char buffer[64];
  std::size_t have = 0;
  while (have < kHeader.size()) {
    std::size_t got = 0;
    if (!input->Read(buffer + have, sizeof buffer - have, got).ok() || got == 0) return false;
    have += got;
  }
  return std::string_view(buffer, kHeader.size()) == kHeader;
}

// One run of a restore task. Owns its connections; lives on the worker thread (and the
// lanes of a parallel restore on theirs).
class CRestoreRun {
 public:
  explicit CRestoreRun(TaskRunContext& context)
      : m_context(context),
        m_options(context.Task().RestoreOptions),
        m_advanced(AdvancedOptionsOf(context.Task())),
        m_readAhead(FindAdvancedOptions(context.Task()).has_value()) {}
  ~CRestoreRun() { m_context.SetCancelHook({}); }
  CRestoreRun(const CRestoreRun&) = delete;
  CRestoreRun& operator=(const CRestoreRun&) = delete;

  RunOutcome Run();

 private:
  Next RestoreFile(RestoreLane& lane, const std::string& path);
  // The statements of one file, as CStatementSplitter or CStatementReadAhead give them.
  template <typename Statements>
  Next RestoreStatements(RestoreLane& lane, const std::string& path, Statements& statements);
  // One file: its progress, its log entry and its statements.
  Next RestoreItem(RestoreLane& lane, const RestoreFileItem& file);
  // The files on several sessions at once, when the task asks for it and every file is
  // one of ours. Returns how the files went, or nothing when they are to go one by one.
  std::optional<Next> RestoreInParallel(const std::vector<RestoreFileItem>& files);
  Next Execute(RestoreLane& lane, const std::string& statement);
  // Execute, with the rows of one table in one transaction when the task asks for it.
  Next ExecuteInLoad(RestoreLane& lane, const std::string& statement,
                     CLoadTransaction& transaction);
  Next StatementFailed(const std::string& statement, const MySqlError& error);
  Next FileError(const std::string& path, const std::string& reason);
  Next RetryDeferredViews(RestoreLane& lane);
  bool Defer(RestoreLane& lane, const std::string& statement, const MySqlError& error);
  bool RestoreSessionOf(RestoreLane& lane, const DeferredView& view);
  std::size_t MaxStatementBytes(RestoreLane& lane);

  CErrorCountingContext m_context;  // serialises the lanes' entries
  const RestoreOptions& m_options;
  const CAdvancedOptions m_advanced;
  RestoreLane m_main;
  CMySQLConnection& m_connection = m_main.connection;
  bool m_fastLoad = false;
  // Tasks with the advanced options read each file ahead on a thread of its own.
  const bool m_readAhead;
};

RunOutcome CRestoreRun::Run() {
  const std::vector<RestoreFileItem>& files = m_context.Task().RestoreFiles;
  if (files.empty()) {
    m_context.Log(LogLevel::Error, "There are not any files to restore!");
    return RunOutcome::Failed;
  }
  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  // No read time-out: a restored ALTER TABLE or index build may run for hours.
  if (!ConnectServerForTask(m_context, m_context.Task().DestinationServer,
                            ServerRole::OnlyDestination, m_connection,
                            ConnectPurpose::Statements)) {
    return RunOutcome::Failed;
  }
  UseScriptCharacterSet(m_connection);
  m_fastLoad = m_advanced.TransactionPerTable && BeginFastLoad(m_connection);
  m_context.Log(LogLevel::General, "Restoring MySQL databases by SQL files: " +
                                       std::to_string(files.size()) + " files");
  PlanFileProgress(m_context, files);
  if (const std::optional<Next> parallel = RestoreInParallel(files)) {
    if (*parallel == Next::Cancel) return RunOutcome::Canceled;
    if (*parallel == Next::Stop) return RunOutcome::Failed;
  } else {
    for (const RestoreFileItem& file : files) {
      if (file.IconIndex != 0) continue;
      const Next next = RestoreItem(m_main, file);
      if (next == Next::Cancel) return RunOutcome::Canceled;
      if (next == Next::Stop) return RunOutcome::Failed;
      if (m_context.StopRequested()) return RunOutcome::Canceled;
    }
  }
  const Next next = RetryDeferredViews(m_main);
  if (next == Next::Cancel) return RunOutcome::Canceled;
  if (next == Next::Stop) return RunOutcome::Failed;
  if (m_fastLoad) (void)EndFastLoad(m_connection);
  m_connection.Close();
  return RunOutcome::Finished;
}

Next CRestoreRun::RestoreItem(RestoreLane& lane, const RestoreFileItem& file) {
  m_context.ProgressItem(file.FullPath, FileSizeOf(file));
  m_context.Log(LogLevel::General, "Restoring...  " + file.FullPath);
  return RestoreFile(lane, file.FullPath);
}

std::optional<Next> CRestoreRun::RestoreInParallel(const std::vector<RestoreFileItem>& files) {
  std::vector<const RestoreFileItem*> items;
  for (const RestoreFileItem& file : files) {
    if (file.IconIndex == 0) items.push_back(&file);
  }
  if (m_advanced.Threads < 2 || items.size() < 2) return std::nullopt;
  for (const RestoreFileItem* file : items) {
    if (!IsOwnDumpFile(file->FullPath)) return std::nullopt;
  }
  // Largest first, so no lane is left with a big file while the others have finished.
  std::vector<std::pair<std::int64_t, const RestoreFileItem*>> bySize;
  for (const RestoreFileItem* file : items) bySize.emplace_back(FileSizeOf(*file), file);
  std::stable_sort(bySize.begin(), bySize.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = bySize[i].second;
  const int wanted = static_cast<int>(std::min<std::size_t>(m_advanced.Threads, items.size()));
  std::vector<std::unique_ptr<RestoreLane>> more;
  for (int i = 1; i < wanted; ++i) {
    auto lane = std::make_unique<RestoreLane>();
    MySqlError error;
    if (!ConnectServer(m_context.Task().DestinationServer, lane->connection, error,
                       ConnectPurpose::Statements)) {
      m_context.Log(LogLevel::Warning,
                    WithServerError("Could not open another connection; " + std::to_string(i) +
                                        " at a time",
                                    error));
      break;
    }
    UseScriptCharacterSet(lane->connection);
    if (m_fastLoad) (void)BeginFastLoad(lane->connection);
    more.push_back(std::move(lane));
  }
  std::vector<RestoreLane*> lanes{&m_main};
  for (const auto& lane : more) lanes.push_back(lane.get());
  for (RestoreLane* lane : lanes) lane->shared = lanes.size() > 1;
  // A stop must reach every session.
  std::vector<std::shared_ptr<ConnectionCanceler>> cancelers;
  for (RestoreLane* lane : lanes) cancelers.push_back(lane->connection.CancelHandle());
  m_context.SetCancelHook([cancelers] {
    for (const auto& canceler : cancelers) canceler->Cancel();
  });
  std::atomic<Next> end{Next::Continue};
  RunInParallel(static_cast<int>(lanes.size()), items.size(), [&](int lane, std::size_t index) {
    Next next = RestoreItem(*lanes[lane], *items[index]);
    if (next == Next::Continue && m_context.StopRequested()) next = Next::Cancel;
    if (next == Next::Continue) return true;
    Next expected = Next::Continue;
    end.compare_exchange_strong(expected, next);
    return false;
  });
  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  m_main.shared = false;
  // Views that waited for tables of other files are created once all files are in.
  for (const auto& lane : more) {
    for (DeferredView& view : lane->deferred) m_main.deferred.push_back(std::move(view));
  }
  return end.load();
}

std::size_t CRestoreRun::MaxStatementBytes(RestoreLane& lane) {
  // A statement over the server's packet limit would make the server drop the session;
  // the splitter skips it with an error instead. One byte of the packet is the command.
  const std::size_t packet = MaxAllowedPacket(lane.connection);
  if (packet < 2 || packet > kLargestPacket) return kLargestPacket;
  return packet - 1;
}

Next CRestoreRun::FileError(const std::string& path, const std::string& reason) {
  m_context.Log(LogLevel::Error,
                "Failed to get a SQL statement from the SQL file! " + path + ": " + reason);
  return m_options.ContinueOnFileError ? Next::Continue : Next::Stop;
}

Next CRestoreRun::RestoreFile(RestoreLane& lane, const std::string& path) {
  std::unique_ptr<CSqlInput> input;
  const Status opened = OpenSqlInput(path, input);
  if (!opened.ok()) return FileError(path, opened.message());
  if (m_readAhead) {
    CStatementReadAhead reader(std::move(input), MaxStatementBytes(lane),
                               !NoBackslashEscapes(lane.connection));
    return RestoreStatements(lane, path, reader);
  }
  // One by one: the splitter reads how backslashes read before every statement.
  struct InTurn {
    CStatementSplitter splitter;
    CMySQLConnection& connection;
    SplitResult Next(SqlStatement& statement) {
      splitter.SetBackslashEscapes(!NoBackslashEscapes(connection));
      return splitter.Next(statement);
    }
    const std::string& ErrorText() const { return splitter.ErrorText(); }
    void Ran(bool) {}
  } inTurn{CStatementSplitter(*input, MaxStatementBytes(lane)), lane.connection};
  return RestoreStatements(lane, path, inTurn);
}

template <typename Statements>
Next CRestoreRun::RestoreStatements(RestoreLane& lane, const std::string& path,
                                    Statements& statements) {
  SqlStatement statement;
  CLoadTransaction transaction(lane.connection, kRestoreCommitBytes);
  // What the file loaded stays loaded, whichever way it ends.
  struct CommitAtEnd {
    CLoadTransaction& transaction;
    ~CommitAtEnd() { (void)transaction.Commit(); }
  } commitAtEnd{transaction};
  lane.fileLocks = false;
  for (;;) {
    Next next = Next::Continue;
    const SplitResult result = statements.Next(statement);
    if (result != SplitResult::End) {
      m_context.ProgressAdvance(static_cast<std::int64_t>(statement.Text.size()) + 1, 0);
    }
    switch (result) {
      case SplitResult::End: return Next::Continue;
      case SplitResult::Error: return FileError(path, statements.ErrorText());
      case SplitResult::TooLong:
        m_context.Log(LogLevel::Error, "Failed to execute the SQL statement: " + statement.Text +
                                           " ... (" + path + ": " + statements.ErrorText() +
                                           " by the server's max_allowed_packet)");
        next = m_options.ContinueOnSqlError ? Next::Continue : Next::Stop;
        break;
      case SplitResult::Statement:
        if (lane.shared && TableLockChangeOf(statement.Text) != TableLockChange::None) {
          next = Next::Continue;
        } else if (m_advanced.TransactionPerTable) {
          next = ExecuteInLoad(lane, statement.Text, transaction);
        } else {
          next = Execute(lane, statement.Text);
        }
        statements.Ran(!NoBackslashEscapes(lane.connection));
        break;
    }
    if (next != Next::Continue) return next;
    if (m_context.StopRequested()) return Next::Cancel;
  }
}

Next CRestoreRun::Execute(RestoreLane& lane, const std::string& statement) {
  MySqlError error;
  if (ExecuteScriptStatement(lane.connection, statement, error)) return Next::Continue;
  if (error.Number == kNoSuchTable && IsCreateViewStatement(statement) && Defer(lane, statement, error)) {
    return Next::Continue;
  }
  return StatementFailed(statement, error);
}

Next CRestoreRun::ExecuteInLoad(RestoreLane& lane, const std::string& statement,
                                CLoadTransaction& transaction) {
  std::string table = InsertTarget(statement);
  if (table.empty()) {
    // START TRANSACTION would end a table lock of the file's own: none while it holds.
    const TableLockChange lock = TableLockChangeOf(statement);
    if (lock != TableLockChange::None) lane.fileLocks = lock == TableLockChange::Lock;
  }
  if (transaction.IsOpen() && table != lane.loadTable && !transaction.Commit()) {
    return StatementFailed("COMMIT", lane.connection.LastError());
  }
  if (!table.empty() && !lane.fileLocks && !transaction.IsOpen()) {
    if (!transaction.Begin()) return StatementFailed("START TRANSACTION", lane.connection.LastError());
    lane.loadTable = table;
  }
  const Next next = Execute(lane, statement);
  if (next == Next::Continue && !transaction.Sent(statement.size())) {
    return StatementFailed("COMMIT", lane.connection.LastError());
  }
  return next;
}

Next CRestoreRun::StatementFailed(const std::string& statement, const MySqlError& error) {
  // After a stop request the sessions may have been cancelled under us: what failed is
  // the cancel, not the statement, and the run ends as stopped.
  if (m_context.StopRequested()) return Next::Cancel;
  m_context.Log(
      LogLevel::Error,
      WithServerError("Failed to execute the SQL statement: " + LoggedStatement(statement), error));
  // Nothing more can run on a lost session: one entry, whatever the options say.
  if (IsLostConnection(error.Number)) return Next::Stop;
  return m_options.ContinueOnSqlError ? Next::Continue : Next::Stop;
}

bool CRestoreRun::Defer(RestoreLane& lane, const std::string& statement,
                        const MySqlError& error) {
  if (!lane.connection.Execute("SELECT DATABASE(), @@sql_mode, @@character_set_client, "
                            "@@collation_connection")) {
    return false;
  }
  MySqlResult result(mysql_store_result(lane.connection.Handle()));
  MYSQL_ROW row = result ? mysql_fetch_row(result.get()) : nullptr;
  if (row == nullptr) return false;
  DeferredView view;
  view.Statement = statement;
  view.HasDatabase = row[0] != nullptr;
  view.Database = row[0] != nullptr ? row[0] : "";
  view.SqlMode = row[1] != nullptr ? row[1] : "";
  view.CharacterSetClient = row[2] != nullptr ? row[2] : "";
  view.CollationConnection = row[3] != nullptr ? row[3] : "";
  view.Error = error;
  lane.deferred.push_back(std::move(view));
  return true;
}

bool CRestoreRun::RestoreSessionOf(RestoreLane& lane, const DeferredView& view) {
  if (view.HasDatabase && !lane.connection.Execute("USE " + QuoteName(view.Database, true))) {
    return false;
  }
  if (!IsPlainSetting(view.SqlMode) || !IsPlainSetting(view.CharacterSetClient) ||
      !IsPlainSetting(view.CollationConnection)) {
    return true;
  }
  return lane.connection.Execute("SET SESSION sql_mode = '" + view.SqlMode +
                              "', character_set_client = '" + view.CharacterSetClient +
                              "', collation_connection = '" + view.CollationConnection + "'");
}

Next CRestoreRun::RetryDeferredViews(RestoreLane& lane) {
  // Views may read views that were deferred too: retry until a round creates none.
  bool created = true;
  while (!lane.deferred.empty() && created) {
    created = false;
    std::vector<DeferredView> waiting;
    for (DeferredView& view : lane.deferred) {
      MySqlError error;
      if (RestoreSessionOf(lane, view) && ExecuteScriptStatement(lane.connection, view.Statement, error)) {
        created = true;
      } else {
        if (error.Number == 0) error = lane.connection.LastError();
        if (IsLostConnection(error.Number)) return StatementFailed(view.Statement, error);
        view.Error = error;
        waiting.push_back(std::move(view));
      }
      if (m_context.StopRequested()) return Next::Cancel;
    }
    lane.deferred.swap(waiting);
  }
  for (const DeferredView& view : lane.deferred) {
    if (StatementFailed(view.Statement, view.Error) == Next::Stop) return Next::Stop;
  }
  return Next::Continue;
}

}  // namespace

bool IsCreateViewStatement(const std::string& statement) {
  const std::size_t size = statement.size();
  bool first = true;
  int words = 0;
  std::size_t i = 0;
  while (i < size && words < 24) {
    const char c = statement[i];
    if (c == '/' && i + 1 < size && statement[i + 1] == '*') {
      // Conditional markers are read through; other comments are skipped.
      i += 2;
      if (i < size && statement[i] == 'M') ++i;
      if (i < size && statement[i] == '!') {
        ++i;
        while (i < size && statement[i] >= '0' && statement[i] <= '9') ++i;
      } else {
        const std::size_t close = statement.find("*/", i);
        i = close == std::string::npos ? size : close + 2;
      }
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      const std::size_t close = statement.find(c, i + 1);
      i = close == std::string::npos ? size : close + 1;
      ++words;
      continue;
    }
    if (!IsWordByte(c)) {
      ++i;
      continue;
    }
    std::string word;
    while (i < size && IsWordByte(statement[i])) {
      char w = statement[i++];
      if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
      word.push_back(w);
    }
    ++words;
    if (first) {
      if (word != "CREATE") return false;
      first = false;
    } else if (word == "VIEW") {
      return true;
    } else if (word == "AS" || word == "SELECT" || word == "TABLE" || word == "PROCEDURE" ||
               word == "FUNCTION" || word == "TRIGGER" || word == "EVENT" || word == "INDEX" ||
               word == "DATABASE" || word == "SCHEMA") {
      return false;
    }
  }
  return false;
}

RunOutcome RestoreFilesWorker(TaskRunContext& context) {
  CRestoreRun run(context);
  return run.Run();
}

}  // namespace brevanto
