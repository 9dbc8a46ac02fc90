#include "engines/RestoreFilesWorker.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "engines/LoadTransaction.h"
#include "engines/MySqlConnection.h"
#include "engines/ProgressPlan.h"
#include "engines/ScriptWorker.h"
#include "engines/SqlInput.h"
#include "engines/StatementSplitter.h"
#include "tasks/AdvancedOptions.h"

namespace brevanto {
namespace {

constexpr unsigned int kNoSuchTable = 1146;  // ER_NO_SUCH_TABLE
// The largest max_allowed_packet a server accepts.
constexpr std::size_t kLargestPacket = 1024UL * 1024 * 1024;

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

// One run of a restore task. Owns its connection; lives on the worker thread.
class CRestoreRun {
 public:
  explicit CRestoreRun(TaskRunContext& context)
      : m_context(context),
        m_options(context.Task().RestoreOptions),
        m_advanced(AdvancedOptionsOf(context.Task())) {}
  ~CRestoreRun() { m_context.SetCancelHook({}); }
  CRestoreRun(const CRestoreRun&) = delete;
  CRestoreRun& operator=(const CRestoreRun&) = delete;

  RunOutcome Run();

 private:
  Next RestoreFile(const std::string& path);
  Next Execute(const std::string& statement);
  // Execute, with the rows of one table in one transaction when the task asks for it.
  Next ExecuteInLoad(const std::string& statement, CLoadTransaction& transaction);
  Next StatementFailed(const std::string& statement, const MySqlError& error);
  Next FileError(const std::string& path, const std::string& reason);
  Next RetryDeferredViews();
  bool Defer(const std::string& statement, const MySqlError& error);
  bool RestoreSessionOf(const DeferredView& view);
  std::size_t MaxStatementBytes();

  TaskRunContext& m_context;
  const RestoreOptions& m_options;
  const CAdvancedOptions m_advanced;
  CMySQLConnection m_connection;
  std::string m_loadTable;     // the table the open transaction loads
  bool m_fileLocks = false;    // the file's own LOCK TABLES is in force
  std::vector<DeferredView> m_deferred;
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
  const bool fastLoad = m_advanced.TransactionPerTable && BeginFastLoad(m_connection);
  m_context.Log(LogLevel::General, "Restoring MySQL databases by SQL files: " +
                                       std::to_string(files.size()) + " files");
  PlanFileProgress(m_context, files);
  for (const RestoreFileItem& file : files) {
    if (file.IconIndex != 0) continue;
    m_context.ProgressItem(file.FullPath, FileSizeOf(file));
    m_context.Log(LogLevel::General, "Restoring...  " + file.FullPath);
    const Next next = RestoreFile(file.FullPath);
    if (next == Next::Cancel) return RunOutcome::Canceled;
    if (next == Next::Stop) return RunOutcome::Failed;
    if (m_context.StopRequested()) return RunOutcome::Canceled;
  }
  const Next next = RetryDeferredViews();
  if (next == Next::Cancel) return RunOutcome::Canceled;
  if (next == Next::Stop) return RunOutcome::Failed;
  if (fastLoad) (void)EndFastLoad(m_connection);
  m_connection.Close();
  return RunOutcome::Finished;
}

std::size_t CRestoreRun::MaxStatementBytes() {
  // A statement over the server's packet limit would make the server drop the session;
  // the splitter skips it with an error instead. One byte of the packet is the command.
  const std::size_t packet = MaxAllowedPacket(m_connection);
  if (packet < 2 || packet > kLargestPacket) return kLargestPacket;
  return packet - 1;
}

Next CRestoreRun::FileError(const std::string& path, const std::string& reason) {
  m_context.Log(LogLevel::Error,
                "Failed to get a SQL statement from the SQL file! " + path + ": " + reason);
  return m_options.ContinueOnFileError ? Next::Continue : Next::Stop;
}

Next CRestoreRun::RestoreFile(const std::string& path) {
  std::unique_ptr<CSqlInput> input;
  const Status opened = OpenSqlInput(path, input);
  if (!opened.ok()) return FileError(path, opened.message());
  CStatementSplitter splitter(*input, MaxStatementBytes());
  SqlStatement statement;
  CLoadTransaction transaction(m_connection, LoadCommitBytes(m_advanced.StatementBytes));
  // What the file loaded stays loaded, whichever way it ends.
  struct CommitAtEnd {
    CLoadTransaction& transaction;
    ~CommitAtEnd() { (void)transaction.Commit(); }
  } commitAtEnd{transaction};
  m_fileLocks = false;
  for (;;) {
    splitter.SetBackslashEscapes(!NoBackslashEscapes(m_connection));
    Next next = Next::Continue;
    const SplitResult result = splitter.Next(statement);
    if (result != SplitResult::End) {
      m_context.ProgressAdvance(static_cast<std::int64_t>(statement.Text.size()) + 1, 0);
    }
    switch (result) {
      case SplitResult::End: return Next::Continue;
      case SplitResult::Error: return FileError(path, splitter.ErrorText());
      case SplitResult::TooLong:
        m_context.Log(LogLevel::Error, "Failed to execute the SQL statement: " + statement.Text +
                                           " ... (" + path + ": " + splitter.ErrorText() +
                                           " by the server's max_allowed_packet)");
        next = m_options.ContinueOnSqlError ? Next::Continue : Next::Stop;
        break;
      case SplitResult::Statement:
        next = m_advanced.TransactionPerTable ? ExecuteInLoad(statement.Text, transaction)
                                              : Execute(statement.Text);
        break;
    }
    if (next != Next::Continue) return next;
    if (m_context.StopRequested()) return Next::Cancel;
  }
}

Next CRestoreRun::Execute(const std::string& statement) {
  MySqlError error;
  if (ExecuteScriptStatement(m_connection, statement, error)) return Next::Continue;
  if (error.Number == kNoSuchTable && IsCreateViewStatement(statement) && Defer(statement, error)) {
    return Next::Continue;
  }
  return StatementFailed(statement, error);
}

Next CRestoreRun::ExecuteInLoad(const std::string& statement, CLoadTransaction& transaction) {
  std::string table = InsertTarget(statement);
  if (table.empty()) {
    // START TRANSACTION would end a table lock of the file's own: none while it holds.
    const TableLockChange lock = TableLockChangeOf(statement);
    if (lock != TableLockChange::None) m_fileLocks = lock == TableLockChange::Lock;
  }
  if (transaction.IsOpen() && table != m_loadTable && !transaction.Commit()) {
    return StatementFailed("COMMIT", m_connection.LastError());
  }
  if (!table.empty() && !m_fileLocks && !transaction.IsOpen()) {
    if (!transaction.Begin()) return StatementFailed("START TRANSACTION", m_connection.LastError());
    m_loadTable = table;
  }
  const Next next = Execute(statement);
  if (next == Next::Continue && !transaction.Sent(statement.size())) {
    return StatementFailed("COMMIT", m_connection.LastError());
  }
  return next;
}

Next CRestoreRun::StatementFailed(const std::string& statement, const MySqlError& error) {
  m_context.Log(
      LogLevel::Error,
      WithServerError("Failed to execute the SQL statement: " + LoggedStatement(statement), error));
  // Nothing more can run on a lost session: one entry, whatever the options say.
  if (IsLostConnection(error.Number)) return Next::Stop;
  return m_options.ContinueOnSqlError ? Next::Continue : Next::Stop;
}

bool CRestoreRun::Defer(const std::string& statement, const MySqlError& error) {
  if (!m_connection.Execute("SELECT DATABASE(), @@sql_mode, @@character_set_client, "
                            "@@collation_connection")) {
    return false;
  }
  MySqlResult result(mysql_store_result(m_connection.Handle()));
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
  m_deferred.push_back(std::move(view));
  return true;
}

bool CRestoreRun::RestoreSessionOf(const DeferredView& view) {
  if (view.HasDatabase && !m_connection.Execute("USE " + QuoteName(view.Database, true))) {
    return false;
  }
  if (!IsPlainSetting(view.SqlMode) || !IsPlainSetting(view.CharacterSetClient) ||
      !IsPlainSetting(view.CollationConnection)) {
    return true;
  }
  return m_connection.Execute("SET SESSION sql_mode = '" + view.SqlMode +
                              "', character_set_client = '" + view.CharacterSetClient +
                              "', collation_connection = '" + view.CollationConnection + "'");
}

Next CRestoreRun::RetryDeferredViews() {
  // Views may read views that were deferred too: retry until a round creates none.
  bool created = true;
  while (!m_deferred.empty() && created) {
    created = false;
    std::vector<DeferredView> waiting;
    for (DeferredView& view : m_deferred) {
      MySqlError error;
      if (RestoreSessionOf(view) && ExecuteScriptStatement(m_connection, view.Statement, error)) {
        created = true;
      } else {
        if (error.Number == 0) error = m_connection.LastError();
        if (IsLostConnection(error.Number)) return StatementFailed(view.Statement, error);
        view.Error = error;
        waiting.push_back(std::move(view));
      }
      if (m_context.StopRequested()) return Next::Cancel;
    }
    m_deferred.swap(waiting);
  }
  for (const DeferredView& view : m_deferred) {
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
