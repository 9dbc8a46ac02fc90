#pragma once
// One consistent view of the source for a whole run: every reading connection opens a
// consistent-snapshot transaction, so a parent table and its child table are read at the
// same moment however long the run takes. With more than one reader the snapshots are
// opened under a brief global read lock, so they all start at one point. Runs on the
// run's worker thread; borrows the connections.

#include <optional>
#include <string>
#include <vector>

#include "tasks/CopyManifest.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class CMySQLConnection;
class TaskRunContext;

struct SnapshotOpened {
  // Every reader opened its snapshot, all at one moment.
  bool Consistent = false;
  // Where the binary log stood at that moment; absent when the server writes none or the
  // position could not be read consistently with the snapshot.
  std::optional<ManifestBinlog> Binlog;
};

// Opens the snapshot on each of `readers` (at least one). Logs a Warning when the global
// lock is refused (the readers then start one after another) and when selected tables
// use an engine without transactions (they are read as they are when the run reaches
// them). Never fails the run.
//
// With `binlogPosition` the binary log position is read, the snapshot's own: MariaDB
// tells each transaction the position its snapshot saw (binlog_snapshot_file/position),
// with no lock needed; other servers are asked while the global read lock that opens the
// snapshots holds writes, which then is taken for one reader too.
SnapshotOpened BeginConsistentSnapshot(TaskRunContext& context,
                                       const std::vector<CMySQLConnection*>& readers,
                                       const std::vector<DatabaseItem>& selection,
                                       bool binlogPosition = false);

// Settings that would end the snapshot's transaction (FLUSH and LOCK TABLES commit
// implicitly) switched off in `settings`.
void DropSnapshotBreakingSettings(BackupSettings& settings);

// "db.t1, db.t2" for the selected base tables of `selection` whose engine has no
// transactions; empty when there are none or the server cannot tell.
std::string NonTransactionalTables(CMySQLConnection& connection,
                                   const std::vector<DatabaseItem>& selection);

}  // namespace brevanto
