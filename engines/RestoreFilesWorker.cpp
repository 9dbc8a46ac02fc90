#include "engines/RestoreFilesWorker.h"

#include <string>
#include <vector>

#include "engines/MySqlConnection.h"
#include "engines/ScriptWorker.h"
#include "engines/StatementSplitter.h"

namespace brevanto {
namespace {

enum class Next { Continue, Stop, Cancel };

// One run of a restore task. Owns its connection; lives on the worker thread.
class CRestoreRun {
 public:
  explicit CRestoreRun(TaskRunContext& context)
      : m_context(context), m_options(context.Task().RestoreOptions) {}
  ~CRestoreRun() { m_context.SetCancelHook({}); }
  CRestoreRun(const CRestoreRun&) = delete;
  CRestoreRun& operator=(const CRestoreRun&) = delete;

  RunOutcome Run();

 private:
  Next RestoreFile(const std::string& path);
  Next FileError() {
    m_context.Log(LogLevel::Error, "Failed to get a SQL statement from the SQL file!");
    return m_options.ContinueOnFileError ? Next::Continue : Next::Stop;
  }

  TaskRunContext& m_context;
  const RestoreOptions& m_options;
  CMySQLConnection m_connection;
};

RunOutcome CRestoreRun::Run() {
  const std::vector<RestoreFileItem>& files = m_context.Task().RestoreFiles;
  if (files.empty()) {
    m_context.Log(LogLevel::Error, "There are not any files to restore!");
    return RunOutcome::Failed;
  }
  m_context.SetCancelHook([canceler = m_connection.CancelHandle()] { canceler->Cancel(); });
  if (!ConnectServerForTask(m_context, m_context.Task().DestinationServer,
                            ServerRole::OnlyDestination, m_connection)) {
    return RunOutcome::Failed;
  }
  m_context.Log(LogLevel::General, "Restoring MySQL databases by SQL files: " +
                                       std::to_string(files.size()) + " files");
  for (const RestoreFileItem& file : files) {
    if (file.IconIndex != 0) continue;
    m_context.Log(LogLevel::General, "Restoring...  " + file.FullPath);
    const Next next = RestoreFile(file.FullPath);
    if (next == Next::Cancel) return RunOutcome::Canceled;
    if (next == Next::Stop) return RunOutcome::Failed;
    if (m_context.StopRequested()) return RunOutcome::Canceled;
  }
  m_connection.Close();
  return RunOutcome::Finished;
}

Next CRestoreRun::RestoreFile(const std::string& path) {
  CSqlFileReader reader;
  if (!reader.Open(path)) return FileError();
  std::string statement;
  while (reader.Next(statement)) {
    if (!statement.empty() && statement.back() == ';') statement.pop_back();
    if (!statement.empty() && !ExecuteDiscardingResults(m_connection, statement)) {
      m_context.Log(LogLevel::Error, "Failed to execute the SQL statement: " + statement);
      if (!m_options.ContinueOnSqlError) return Next::Stop;
    }
    if (m_context.StopRequested()) return Next::Cancel;
  }
  if (reader.ReadFailed()) return FileError();
  return Next::Continue;
}

}  // namespace

RunOutcome RestoreFilesWorker(TaskRunContext& context) {
  CRestoreRun run(context);
  return run.Run();
}

}  // namespace brevanto
