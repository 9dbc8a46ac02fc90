#pragma once
// The run of a RestoreFromFiles task: each SQL file of the task's list is read statement
// by statement and each statement runs on the task's destination server as soon as it
// is complete, on one session, so the session state a file sets (SQL mode, foreign-key
// checks, character set, time zone) holds for the statements after it. Runs on the
// task's worker thread.

#include <string>

#include "schedule/TaskRoutine.h"

namespace brevanto {

RunOutcome RestoreFilesWorker(TaskRunContext& context);

// Whether `statement` creates a view, also when version-conditional comments wrap its
// parts as stock dumps write them (/*!50001 CREATE ALGORITHM=UNDEFINED */ ...
// /*!50001 VIEW `v` AS ... */).
bool IsCreateViewStatement(const std::string& statement);
// The name a CREATE VIEW statement gives, as written ("`v`", "`db`.`v`", "v"); empty when
// `statement` is no CREATE VIEW.
std::string CreatedViewName(const std::string& statement);

}  // namespace brevanto
