#pragma once
// The run of an ExecuteScript task: the task's stored statements, one by one, against its
// server. Runs on the task's worker thread with its own connection. Also the statement
// execution that script and restore runs share.

#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "schedule/TaskRoutine.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class CMySQLConnection;
struct MySqlError;

// What a script run is asked to do: its statements, in order, on one server.
struct ScriptRequest {
  CServerInfo Server;
  std::vector<std::string> Statements;  // a trailing ";" is dropped
};

// The request of an ExecuteScript task: its source server and stored statements.
ScriptRequest ScriptRequestOf(const CTaskItem& task);

RunOutcome ExecuteScript(TaskRunContext& context, const ScriptRequest& request);

// The task's routine: ExecuteScript with the task's own request.
RunOutcome ScriptWorker(TaskRunContext& context);

// Sends one statement and reads and discards every result set it returns, so that the
// connection is ready for the next statement. False when the statement, or a later
// result of it (a procedure's), failed.
bool ExecuteDiscardingResults(CMySQLConnection& connection, const std::string& statement);

// ExecuteDiscardingResults for a statement of a script or a restore file; on failure
// `error` holds the server's error. A statement that is all comment for this server's
// version (the server answers "Query was empty") did nothing and counts as done.
bool ExecuteScriptStatement(CMySQLConnection& connection, const std::string& statement,
                            MySqlError& error);

// How a failed statement shows in the log: the text, cut after its first kilobyte so
// that one failed multi-megabyte INSERT does not fill the log.
std::string LoggedStatement(const std::string& statement);

// Starts a script or restore session in utf8mb4, as the stock command-line client does,
// so text of a script that sets no character set reaches the server unchanged; a file's
// own SET NAMES still decides for the statements after it.
void UseScriptCharacterSet(CMySQLConnection& connection);

// Whether the server answers with NO_BACKSLASH_ESCAPES in the session's SQL mode now.
bool NoBackslashEscapes(CMySQLConnection& connection);

}  // namespace brevanto
