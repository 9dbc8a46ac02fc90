#include "engines/ScriptWorker.h"

#include <vector>

#include "engines/MySqlConnection.h"

namespace brevanto {

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

RunOutcome ScriptWorker(TaskRunContext& context) {
  const std::vector<std::string>& statements = context.Task().ScriptStatements;
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
  if (!ConnectServerForTask(context, context.Task().SourceServer, ServerRole::OnlySource,
                            connection)) {
    return RunOutcome::Failed;
  }
  context.Log(LogLevel::General,
              "Executing MySQL script: " + std::to_string(statements.size()) + " statements");
  int executed = 0;
  std::string statement;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    statement = statements[i];
    if (!statement.empty() && statement.back() == ';') statement.pop_back();
    if (!statement.empty()) {
      if (ExecuteDiscardingResults(connection, statement)) {
        ++executed;
      } else {
        context.Log(LogLevel::Error, "Failed to execute the SQL statement! NO. " +
                                         std::to_string(i + 1) + " : " + statement);
      }
    }
    if (context.StopRequested()) return RunOutcome::Canceled;
  }
  context.Log(LogLevel::General, "Executed: " + std::to_string(executed) + " statements");
  connection.Close();
  return RunOutcome::Finished;
}

}  // namespace brevanto
