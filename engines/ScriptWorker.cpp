#include "engines/ScriptWorker.h"

#include <vector>

#include "engines/ErrorCountingContext.h"
#include "engines/MySqlConnection.h"
#include "engines/StatementWatchdog.h"
#include "schedule/ProgressTracker.h"

namespace brevanto {
namespace {

constexpr unsigned int kEmptyQuery = 1065;  // ER_EMPTY_QUERY
constexpr std::size_t kLoggedStatementBytes = 1024;

}  // namespace

bool ExecuteDiscardingResults(CMySQLConnection& connection, const std::string& statement) {
  if (!connection.Execute(statement)) return false;
  MYSQL* handle = connection.Handle();
  for (;;) {
    if (mysql_field_count(handle) > 0) {
      // Unbuffered, so that a large SELECT is read through without being held.
      MySqlResult result(mysql_use_result(handle));
      if (!result) return false;
      while (mysql_fetch_row(result.get()) != nullptr) {
      }
      if (mysql_errno(handle) != 0) return false;
    }
    const int more = mysql_next_result(handle);
    if (more < 0) return true;
    if (more > 0) return false;
  }
}

bool ExecuteScriptStatement(CMySQLConnection& connection, const std::string& statement,
                            MySqlError& error) {
  if (ExecuteDiscardingResults(connection, statement)) return true;
  error = connection.LastError();
  return error.Number == kEmptyQuery;
}

std::string LoggedStatement(const std::string& statement) {
  if (statement.size() <= kLoggedStatementBytes) return statement;
  std::size_t cut = kLoggedStatementBytes;
  // Not inside a UTF-8 sequence: back up over continuation bytes.
  while (cut > 0 && (static_cast<unsigned char>(statement[cut]) & 0xC0) == 0x80) --cut;
  return statement.substr(0, cut) + " ...";
}

void UseScriptCharacterSet(CMySQLConnection& connection) {
  // A server without utf8mb4 (before 5.5.3) keeps the library's default.
  (void)mysql_set_character_set(connection.Handle(), "utf8mb4");
}

bool NoBackslashEscapes(CMySQLConnection& connection) {
  unsigned int status = 0;
  if (mariadb_get_infov(connection.Handle(), MARIADB_CONNECTION_SERVER_STATUS, &status) != 0) {
    return false;
  }
  return (status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0;
}

ScriptRequest ScriptRequestOf(const CTaskItem& task) {
  return {task.SourceServer, task.ScriptStatements};
}

RunOutcome ScriptWorker(TaskRunContext& context) {
  return ExecuteScript(context, ScriptRequestOf(context.Task()));
}

RunOutcome ExecuteScript(TaskRunContext& run, const ScriptRequest& request) {
  // Serialised: the watchdog logs from a thread of its own.
  CErrorCountingContext context(run);
  const std::vector<std::string>& statements = request.Statements;
  if (statements.empty()) {
    context.Log(LogLevel::Error, "There are not any SQL statements to execute!");
    return RunOutcome::Failed;
  }
  CMySQLConnection connection;
  context.SetCancelHook([canceler = connection.CancelHandle()] { canceler->Cancel(); });
  struct HookReset {
    TaskRunContext& context;
    ~HookReset() { context.SetCancelHook({}); }
  } hookReset{context};
  // No read time-out: a script's ALTER TABLE or index build may run for hours.
  if (!ConnectServerForTask(context, request.Server, ServerRole::OnlySource, connection,
                            ConnectPurpose::Statements)) {
    return RunOutcome::Failed;
  }
  CStatementWatchdog watchdog(context);  // after the connection: it stops first
  watchdog.Watch(connection);
  UseScriptCharacterSet(connection);
  context.Log(LogLevel::General,
              "Executing MySQL script: " + std::to_string(statements.size()) + " statements");
  context.ProgressPlan(CProgressTracker::ShareOf(static_cast<std::int64_t>(statements.size())));
  context.ProgressItem("SQL script", static_cast<std::int64_t>(statements.size()));
  int executed = 0;
  std::string statement;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    statement = statements[i];
    if (!statement.empty() && statement.back() == ';') statement.pop_back();
    if (!statement.empty()) {
      MySqlError error;
      if (ExecuteScriptStatement(connection, statement, error)) {
        ++executed;
      } else {
        context.Log(LogLevel::Error,
                    WithServerError("Failed to execute the SQL statement! NO. " +
                                        std::to_string(i + 1) + " : " + LoggedStatement(statement),
                                    error));
        // Nothing more can run on a lost session: one entry, not one per statement left.
        if (IsLostConnection(error.Number)) return RunOutcome::Failed;
      }
    }
    context.ProgressAdvance(1, 0);
    if (context.StopRequested()) return RunOutcome::Canceled;
  }
  context.Log(LogLevel::General, "Executed: " + std::to_string(executed) + " statements");
  connection.Close();
  return RunOutcome::Finished;
}

}  // namespace brevanto
