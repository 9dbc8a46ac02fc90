#pragma once
// One consistent view of the source for a whole run: every reading connection opens a
// consistent-snapshot transaction, so a parent table and its child table are read at the
// same moment however long the run takes. With more than one reader the snapshots are
// opened under a brief global read lock, so they all start at one point. Runs on the
// run's worker thread; borrows the connections.

#include <string>
#include <vector>

#include "tasks/TaskItem.h"

namespace brevanto {

class CMySQLConnection;
class TaskRunContext;

// Opens the snapshot on each of `readers` (at least one). Logs a Warning when the global
// lock is refused (the readers then start one after another) and when selected tables
// use an engine without transactions (they are read as they are when the run reaches
// them). Never fails the run.
void BeginConsistentSnapshot(TaskRunContext& context, const std::vector<CMySQLConnection*>& readers,
                             const std::vector<DatabaseItem>& selection);

// Settings that would end the snapshot's transaction (FLUSH and LOCK TABLES commit
// implicitly) switched off in `settings`.
void DropSnapshotBreakingSettings(BackupSettings& settings);

// "db.t1, db.t2" for the selected base tables of `selection` whose engine has no
// transactions; empty when there are none or the server cannot tell.
std::string NonTransactionalTables(CMySQLConnection& connection,
                                   const std::vector<DatabaseItem>& selection);

}  // namespace brevanto
