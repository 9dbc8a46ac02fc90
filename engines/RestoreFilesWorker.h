#pragma once
// The run of a RestoreFromFiles task: each SQL file of the task's list is read statement
// by statement and each statement runs on the task's destination server as soon as it
// is complete, on one session, so the session state a file sets (SQL mode, foreign-key
// checks, character set, time zone) holds for the statements after it. Runs on the
// task's worker thread.

#include <memory>
#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "schedule/TaskRoutine.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/TaskItem.h"

namespace brevanto {

struct OffsiteSource;

// What a restore from files is asked to do, whoever asks: a task's run, or a check that
// restores a copy into a scratch database. The run reads nothing else of a task.
struct RestoreFilesRequest {
  CServerInfo Server;                  // the destination
  std::vector<RestoreFileItem> Files;  // in this order; only items with IconIndex 0
  RestoreOptions Options;
  CAdvancedOptions Advanced;
  bool ReadAhead = false;  // each file is read ahead on a thread of its own
  // Empty: the files run as written. Otherwise the one database the files hold is
  // restored under this name (engines/DatabaseRename.h), and files naming more than one
  // database are refused before anything runs.
  std::string TargetDatabase;
  // Opens encrypted files (age): an identity file as `age-keygen` writes it, or one that
  // `age -p` protected, whose passphrase comes from $BREVANTO_IDENTITY_PASSPHRASE.
  std::string IdentityFile;
  // Set: the files are an off-site copy's objects (engines/OffsiteRestore.h), read from its
  // store and checked against its manifest; their FullPath is the object's name. Without
  // files, the run looks the copy up in the store first.
  std::shared_ptr<const OffsiteSource> Offsite;
};

// The request of a RestoreFromFiles task: its destination, files and options.
RestoreFilesRequest RestoreFilesRequestOf(const CTaskItem& task);

RunOutcome RestoreFromFiles(TaskRunContext& context, const RestoreFilesRequest& request);

// The task's routine: RestoreFromFiles with the task's own request.
RunOutcome RestoreFilesWorker(TaskRunContext& context);

// Whether `statement` creates a view, also when version-conditional comments wrap its
// parts as stock dumps write them (/*!50001 CREATE ALGORITHM=UNDEFINED */ ...
// /*!50001 VIEW `v` AS ... */).
bool IsCreateViewStatement(const std::string& statement);
// The name a CREATE VIEW statement gives, as written ("`v`", "`db`.`v`", "v"); empty when
// `statement` is no CREATE VIEW.
std::string CreatedViewName(const std::string& statement);

}  // namespace brevanto
