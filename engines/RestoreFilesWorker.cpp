#include "engines/RestoreFilesWorker.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "core/AtomicFile.h"
#include "engines/OffsiteRestore.h"
#include "engines/ProgressPlan.h"
#include "engines/RemoteSqlInput.h"
#include "engines/RestoreRun.h"
#include "engines/ScriptWorker.h"
#include "engines/SqlInput.h"
#include "engines/StatementReadAhead.h"
#include "engines/StatementSplitter.h"
#include "tasks/EncryptionOptions.h"

namespace brevanto {
namespace {

constexpr unsigned int kNoSuchTable = 1146;  // ER_NO_SUCH_TABLE
constexpr unsigned int kTableExists = 1050;  // ER_TABLE_EXISTS_ERROR
// The largest max_allowed_packet a server accepts.
constexpr std::size_t kLargestPacket = 1024UL * 1024 * 1024;
// A restore's table transaction is committed once this many bytes went through it. One
// transaction over a whole table of 22 MB cost MariaDB 10.11 about twice the CPU of a
// commit every megabyte or two, and commits this far apart cost next to nothing.
constexpr std::size_t kRestoreCommitBytes = 1024 * 1024;

}  // namespace

RunOutcome CRestoreRun::Run() {
  const std::vector<RestoreFileItem>& files = m_request.Files;
  if (files.empty()) {
    m_context.Log(LogLevel::Error, "There are not any files to restore!");
    return RunOutcome::Failed;
  }
  if (!m_request.IdentityFile.empty() && !LoadIdentities()) return RunOutcome::Failed;
  if (!m_request.TargetDatabase.empty() && !PrepareRename()) return RunOutcome::Failed;
  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  // No read time-out: a restored ALTER TABLE or index build may run for hours.
  if (!ConnectServerForTask(m_context, m_request.Server, ServerRole::OnlyDestination, m_connection,
                            ConnectPurpose::Statements)) {
    return RunOutcome::Failed;
  }
  m_watchdog.emplace(m_context);
  m_watchdog->Watch(m_connection);
  UseScriptCharacterSet(m_connection);
  m_fastLoad = m_advanced.TransactionPerTable && BeginFastLoad(m_connection);
  m_context.Log(LogLevel::General, "Restoring MySQL databases by SQL files: " +
                                       std::to_string(files.size()) + " files");
  PlanFileProgress(m_context, files);
  if (const std::optional<RestoreStep> parallel = RestoreInParallel(files)) {
    if (*parallel == RestoreStep::Cancel) return RunOutcome::Canceled;
    if (*parallel == RestoreStep::Stop) return RunOutcome::Failed;
  } else {
    for (const RestoreFileItem& file : files) {
      if (file.IconIndex != 0) continue;
      const RestoreStep next = RestoreItem(m_main, file);
      if (next == RestoreStep::Cancel) return RunOutcome::Canceled;
      if (next == RestoreStep::Stop) return RunOutcome::Failed;
      if (m_context.StopRequested()) return RunOutcome::Canceled;
    }
  }
  const RestoreStep next = RetryDeferredViews(m_main);
  if (next == RestoreStep::Cancel) return RunOutcome::Canceled;
  if (next == RestoreStep::Stop) return RunOutcome::Failed;
  if (m_fastLoad) (void)EndFastLoad(m_connection);
  m_connection.Close();
  return RunOutcome::Finished;
}

RestoreStep CRestoreRun::RestoreItem(RestoreLane& lane, const RestoreFileItem& file) {
  m_context.ProgressItem(file.FullPath, FileSizeOf(file));
  m_context.Log(LogLevel::General, "Restoring...  " + file.FullPath);
  return RestoreFile(lane, file.FullPath);
}

std::size_t CRestoreRun::MaxStatementBytes(RestoreLane& lane) {
  // A statement over the server's packet limit would make the server drop the session;
  // the splitter skips it with an error instead. One byte of the packet is the command.
  const std::size_t packet = MaxAllowedPacket(lane.connection);
  if (packet < 2 || packet > kLargestPacket) return kLargestPacket;
  return packet - 1;
}

bool CRestoreRun::LoadIdentities() {
  const std::string& path = m_request.IdentityFile;
  std::string text;
  if (!ReadFileBytes(path, text, std::size_t{1} << 20)) {
    m_context.Log(LogLevel::Error, "Failed to read the identity file! - " + path);
    return false;
  }
  const char* passphrase = std::getenv("BREVANTO_IDENTITY_PASSPHRASE");
  const Status parsed =
      ParseAgeIdentityFile(text, passphrase != nullptr ? passphrase : "", m_identities);
  OPENSSL_cleanse(text.data(), text.size());
  if (!parsed.ok()) {
    m_context.Log(LogLevel::Error, parsed.message() + " - " + path);
    return false;
  }
  return true;
}

RestoreStep CRestoreRun::FileError(const std::string& path, const std::string& reason) {
  // A read from a store ends when the run is stopped: what failed is the stop.
  if (m_context.StopRequested()) return RestoreStep::Cancel;
  m_context.Log(LogLevel::Error,
                "Failed to get a SQL statement from the SQL file! " + path + ": " + reason);
  return m_options.ContinueOnFileError ? RestoreStep::Continue : RestoreStep::Stop;
}

Status CRestoreRun::OpenInput(const std::string& path, std::unique_ptr<CSqlInput>& input) {
  if (!m_request.Offsite) return OpenSqlInput(path, m_identities, input);
  input.reset();
  const auto file = m_request.Offsite->Files.find(path);
  if (file == m_request.Offsite->Files.end()) {
    return Status::Error("the off-site copy has no such file");
  }
  std::unique_ptr<RemoteStore> store;
  if (Status opened = m_request.Offsite->OpenStore(m_transfer, store); !opened.ok()) return opened;
  return OpenSqlInputStream(std::make_unique<CRemoteSqlInput>(std::move(store), path, file->second),
                            m_identities, input);
}

RestoreStep CRestoreRun::RestoreFile(RestoreLane& lane, const std::string& path) {
  std::unique_ptr<CSqlInput> input;
  const Status opened = OpenInput(path, input);
  if (!opened.ok()) return FileError(path, opened.message());
  if (m_filesWithoutDatabase.count(path) != 0) {
    if (const RestoreStep entered = EnterTarget(lane); entered != RestoreStep::Continue) {
      return entered;
    }
  }
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
RestoreStep CRestoreRun::RestoreStatements(RestoreLane& lane, const std::string& path,
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
    RestoreStep next = RestoreStep::Continue;
    const SplitResult result = statements.Next(statement);
    if (result != SplitResult::End) {
      m_context.ProgressAdvance(static_cast<std::int64_t>(statement.Text.size()) + 1, 0);
    }
    switch (result) {
      case SplitResult::End: return RestoreStep::Continue;
      case SplitResult::Error: return FileError(path, statements.ErrorText());
      case SplitResult::TooLong:
        m_context.Log(LogLevel::Error, "Failed to execute the SQL statement: " + statement.Text +
                                           " ... (" + path + ": " + statements.ErrorText() +
                                           " by the server's max_allowed_packet)");
        next = m_options.ContinueOnSqlError ? RestoreStep::Continue : RestoreStep::Stop;
        break;
      case SplitResult::Statement:
        if (!Renamed(statement.Text, lane, next)) {
          // Not run; `next` says whether the restore goes on.
        } else if (lane.shared && TableLockChangeOf(statement.Text) != TableLockChange::None) {
          next = RestoreStep::Continue;
        } else if (m_advanced.TransactionPerTable) {
          next = ExecuteInLoad(lane, statement.Text, transaction);
        } else {
          next = Execute(lane, statement.Text);
        }
        statements.Ran(!NoBackslashEscapes(lane.connection));
        break;
    }
    if (next != RestoreStep::Continue) return next;
    if (m_context.StopRequested()) return RestoreStep::Cancel;
  }
}

RestoreStep CRestoreRun::Execute(RestoreLane& lane, const std::string& statement) {
  MySqlError error;
  if (ExecuteScriptStatement(lane.connection, statement, error)) return RestoreStep::Continue;
  // On parallel lanes another file of the set may put a view's placeholder table back
  // between this file's DROP and its CREATE VIEW: the view then waits for the end too.
  const bool deferrable =
      error.Number == kNoSuchTable || (error.Number == kTableExists && lane.shared);
  if (deferrable && IsCreateViewStatement(statement) && Defer(lane, statement, error)) {
    return RestoreStep::Continue;
  }
  return StatementFailed(statement, error);
}

RestoreStep CRestoreRun::ExecuteInLoad(RestoreLane& lane, const std::string& statement,
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
    if (!transaction.Begin())
      return StatementFailed("START TRANSACTION", lane.connection.LastError());
    lane.loadTable = table;
  }
  const RestoreStep next = Execute(lane, statement);
  if (next == RestoreStep::Continue && !transaction.Sent(statement.size())) {
    return StatementFailed("COMMIT", lane.connection.LastError());
  }
  return next;
}

RestoreStep CRestoreRun::StatementFailed(const std::string& statement, const MySqlError& error) {
  // After a stop request the sessions may have been cancelled under us: what failed is
  // the cancel, not the statement, and the run ends as stopped.
  if (m_context.StopRequested()) return RestoreStep::Cancel;
  m_context.Log(
      LogLevel::Error,
      WithServerError("Failed to execute the SQL statement: " + LoggedStatement(statement), error));
  // Nothing more can run on a lost session: one entry, whatever the options say.
  if (IsLostConnection(error.Number)) return RestoreStep::Stop;
  return m_options.ContinueOnSqlError ? RestoreStep::Continue : RestoreStep::Stop;
}

RestoreFilesRequest RestoreFilesRequestOf(const CTaskItem& task) {
  RestoreFilesRequest request;
  request.Server = task.DestinationServer;
  request.Files = task.RestoreFiles;
  request.Options = task.RestoreOptions;
  request.Advanced = AdvancedOptionsOf(task);
  request.ReadAhead = FindAdvancedOptions(task).has_value();
  request.IdentityFile = EncryptionOptionsOf(task).IdentityFile;
  request.Offsite = OffsiteSourceOf(task);
  if (request.Offsite) {
    // The copy's files are looked up when the run starts.
    request.Files.clear();
    request.TargetDatabase = OffsiteRestoreOptionsOf(task).Database;
  }
  return request;
}

RunOutcome RestoreFromFiles(TaskRunContext& context, const RestoreFilesRequest& request) {
  if (request.Offsite && request.Files.empty()) {
    RestoreFilesRequest found = request;
    std::string copyName;
    const Status resolved = ResolveOffsiteCopy(*request.Offsite, TransferControlFor(context),
                                               found.Offsite, found.Files, copyName);
    if (!resolved.ok()) {
      context.Log(LogLevel::Error, resolved.message());
      return RunOutcome::Failed;
    }
    context.Log(LogLevel::General,
                "Restoring the off-site copy " + copyName + " of " + request.Offsite->Target);
    CRestoreRun run(context, found);
    return run.Run();
  }
  CRestoreRun run(context, request);
  return run.Run();
}

RunOutcome RestoreFilesWorker(TaskRunContext& context) {
  return RestoreFromFiles(context, RestoreFilesRequestOf(context.Task()));
}

}  // namespace brevanto
