#pragma once
// Restoring a backup task's off-site copy without a local file: a RestoreFromFiles run whose
// files are the objects of one copy in a store, each read through CRemoteSqlInput and
// checked against the copy's manifest. A restore task asks for it with an "OffsiteRestore"
// section ({"Copy": "...", "Database": "..."}) beside its own "Remote" section, which the
// window's off-site restore and brevanto-run --restore-remote copy from the backup task.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/ServerInfo.h"
#include "core/Status.h"
#include "remote/RemoteStore.h"
#include "schedule/TaskRoutine.h"
#include "tasks/CopyManifest.h"
#include "tasks/OffsiteRestoreOptions.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// Where a restore's files come from when they are off-site.
struct OffsiteSource {
  // Makes a store for one reader: each file is read through a store of its own, so the
  // lanes of a parallel restore share nothing.
  std::function<Status(const TransferControl&, std::unique_ptr<RemoteStore>&)> OpenStore;
  std::string Target;  // RemoteTargetText, for the log
  std::string Copy;    // as ChooseRemoteCopy takes it: "" for the newest complete copy
  // Filled when the run starts, from the copy's manifest: object name -> its record.
  std::map<std::string, ManifestFile> Files;
  std::set<std::string> Databases;  // the databases its tables and objects belong to
};

// A RestoreFromFiles task that restores the off-site copy `copy` of the backup task `backup`
// into `database` on `server`: the backup's target and identity file, nothing local.
CTaskItem MakeOffsiteRestoreTask(const CTaskItem& backup, const std::string& copy,
                                 const CServerInfo& server, const std::string& database,
                                 const std::string& identityFile);

// The source a task's sections describe; null for a task without an "OffsiteRestore".
std::shared_ptr<const OffsiteSource> OffsiteSourceOf(const CTaskItem& task);

// What a store may use during a run: the run's clock and stop request, its log for warnings.
// REQUIRES: `context` outlives the control's use.
TransferControl TransferControlFor(TaskRunContext& context);

// Finds the copy `source` names in its store and returns the source with its files, and
// the restore's file list in the manifest's order. An Error says what is missing.
Status ResolveOffsiteCopy(const OffsiteSource& source, const TransferControl& control,
                          std::shared_ptr<const OffsiteSource>& resolved,
                          std::vector<RestoreFileItem>& files, std::string& copyName);

}  // namespace brevanto
