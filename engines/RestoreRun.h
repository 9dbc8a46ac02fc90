#pragma once
// One RestoreFromFiles run, shared by the files that make it up: RestoreFilesWorker.cpp
// (the run, its files and statements), RestoreParallel.cpp (several files at a time) and
// RestoreDeferredViews.cpp (views created once the tables they read are in). Not used
// outside engines/.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Age.h"
#include "engines/DatabaseRename.h"
#include "engines/ErrorCountingContext.h"
#include "engines/LoadTransaction.h"
#include "engines/MySqlConnection.h"
#include "engines/OffsiteRestore.h"
#include "engines/RestoreFilesWorker.h"
#include "engines/SqlInput.h"
#include "engines/StatementWatchdog.h"
#include "schedule/TaskRoutine.h"

namespace brevanto {

// What a restore does after a statement or a file.
enum class RestoreStep { Continue, Stop, Cancel };

// A CREATE VIEW that failed because a table it reads was not there yet, with the session
// state it ran in, for a retry after the last file.
struct DeferredView {
  std::string Statement;
  std::string Name;  // as the statement writes it (quoted, maybe with its database)
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

// One run of a restore. Owns its connections; lives on the worker thread (and the
// lanes of a parallel restore on theirs).
class CRestoreRun {
 public:
  CRestoreRun(TaskRunContext& context, const RestoreFilesRequest& request)
      : m_context(context),
        m_request(request),
        m_options(request.Options),
        m_advanced(request.Advanced),
        m_readAhead(request.ReadAhead),
        m_transfer(TransferControlFor(m_context)) {}
  ~CRestoreRun() { m_context.SetCancelHook({}); }
  CRestoreRun(const CRestoreRun&) = delete;
  CRestoreRun& operator=(const CRestoreRun&) = delete;

  RunOutcome Run();

 private:
  RestoreStep RestoreFile(RestoreLane& lane, const std::string& path);
  // Opens a file of the request: a local file, or an off-site copy's object.
  Status OpenInput(const std::string& path, std::unique_ptr<CSqlInput>& input);
  // The statements of one file, as CStatementSplitter or CStatementReadAhead give them.
  template <typename Statements>
  RestoreStep RestoreStatements(RestoreLane& lane, const std::string& path, Statements& statements);
  // One file: its progress, its log entry and its statements.
  RestoreStep RestoreItem(RestoreLane& lane, const RestoreFileItem& file);
  // The files on several sessions at once, when the task asks for it and every file is
  // one of ours. Returns how the files went, or nothing when they are to go one by one.
  std::optional<RestoreStep> RestoreInParallel(const std::vector<RestoreFileItem>& files);
  RestoreStep Execute(RestoreLane& lane, const std::string& statement);
  // Execute, with the rows of one table in one transaction when the task asks for it.
  RestoreStep ExecuteInLoad(RestoreLane& lane, const std::string& statement,
                            CLoadTransaction& transaction);
  RestoreStep StatementFailed(const std::string& statement, const MySqlError& error);
  RestoreStep FileError(const std::string& path, const std::string& reason);
  RestoreStep RetryDeferredViews(RestoreLane& lane);
  // With a target database: reads the files for the database they hold and prepares its
  // rename. False (after the Error) when they hold more than one.
  bool PrepareRename();
  // Reads the request's identity file. False after the Error when it cannot be used.
  bool LoadIdentities();
  // Before a file that names no database: the session is put in the target database.
  RestoreStep EnterTarget(RestoreLane& lane);
  // The statement as it runs: renamed when the request asks for it. False after the
  // Error of a statement that must not run.
  bool Renamed(std::string& statement, RestoreLane& lane, RestoreStep& next);
  bool Defer(RestoreLane& lane, const std::string& statement, const MySqlError& error);
  bool RestoreSessionOf(RestoreLane& lane, const DeferredView& view);
  std::size_t MaxStatementBytes(RestoreLane& lane);

  CErrorCountingContext m_context;  // serialises the lanes' entries
  const RestoreFilesRequest& m_request;
  const RestoreOptions& m_options;
  const CAdvancedOptions m_advanced;
  RestoreLane m_main;
  CMySQLConnection& m_connection = m_main.connection;
  bool m_fastLoad = false;
  // Tasks with the advanced options read each file ahead on a thread of its own.
  const bool m_readAhead;
  std::optional<DatabaseRename> m_rename;
  std::set<std::string> m_filesWithoutDatabase;  // paths; entered into the target
  std::vector<AgeIdentity> m_identities;         // open encrypted files
  const TransferControl m_transfer;              // the stores of an off-site copy's files
  // Last: it stops before the connections it watches close.
  std::optional<CStatementWatchdog> m_watchdog;
};

}  // namespace brevanto
