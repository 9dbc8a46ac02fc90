#pragma once
// The run of an ExecuteScript task: the task's stored statements, one by one, against its
// server. Runs on the task's worker thread with its own connection.

#include <string>

#include "schedule/TaskRoutine.h"

namespace brevanto {

class CMySQLConnection;

RunOutcome ScriptWorker(TaskRunContext& context);

// Sends one statement and reads and discards every result set it returns, so that the
// connection is ready for the next statement. False when the statement, or a later
// result of it (a procedure's), failed.
bool ExecuteDiscardingResults(CMySQLConnection& connection, const std::string& statement);

}  // namespace brevanto
