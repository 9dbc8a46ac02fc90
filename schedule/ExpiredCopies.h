#pragma once
// Removal of a backup task's expired copies: the files each copy in BackupHistory
// recorded, then its manifest (tasks/CopyManifest.h), then its DATE_TIME folder when empty;
// the caller drops the copy from the history and saves the task file last. Interrupted
// anywhere, the copy is still recorded and still expired, so the next run finishes it and
// no manifest outlives its copy. Only recorded paths and the manifests they imply are ever
// deleted; no folder is scanned. A path a copy that stays still owns is never deleted.
//
// A task with an off-site target (tasks/RemoteOptions.h) never loses a copy that exists
// nowhere else: a copy without its off-site record (tasks/OffsiteRecord.h) waits. Its
// KeepLocalCopies picks the copies whose local files go (-1: the task's own rule, 0: every
// one, N: all but the newest N); a copy in the store loses only its local files and stays
// in the history marked kCopyLocalFilesDeleted, its manifest and record kept beside it.

#include <cstddef>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "tasks/TaskItem.h"

namespace brevanto {

// What the task's auto-delete rule drops at `now`. Computing it is cheap, so a waiting
// worker can ask on every poll under the task's lock and do the deleting outside it.
struct ExpiredCopies {
  std::vector<std::size_t> Indices;  // into BackupHistory, ascending
  std::vector<BackupCopy> Copies;    // the copies at those indices, to verify before dropping
  std::vector<std::string> Files;    // to delete, in order
  std::vector<std::string> Manifests;  // each copy's manifest to delete, "" for none
  std::vector<std::string> Folders;  // to remove when empty, in order
  std::vector<std::string> Kept;     // files and manifests the remaining copies own
  // Parallel to Indices: the copy is off-site, so only its local files go and it stays in
  // the history as kCopyLocalFilesDeleted.
  std::vector<bool> LocalOnly;
  // Copies the rule would delete that are not off-site yet: kept, and said so once.
  std::vector<BackupCopy> Waiting;
  bool empty() const { return Indices.empty(); }
};

// Mode 1 (older than N days): copies whose BackupTime is N or more whole days before
// `now`, never the newest copy. Mode 2 (keep N copies): the oldest copies beyond N. Other
// modes: none. A copy's folder is removed only when it is the DATE_TIME folder of its
// own run time. With an off-site target, as the top of this file says; the off-site
// records of the copies the rule picks are read here.
ExpiredCopies FindExpiredCopies(const CTaskItem& task, const TaskDateTime& now);

// A recorded file, manifest or folder that could not be deleted, with the errno.
struct CopyFileFailure {
  enum class Kind { File, Manifest, Folder };
  std::string Path;
  int Error = 0;
  Kind What = Kind::File;
};

// Deletes the files, except any that is the same file (device and inode) as one in Kept,
// then the manifests of the copies whose files all went, then removes the folders of those
// copies that are empty. A file or manifest already gone counts as deleted. The copies
// keeping a file or manifest are taken out of `expired`, so DropCopies keeps them in the
// history and a later run tries again; a folder that cannot be removed (other than for
// holding other files) is reported and its copy dropped all the same: it holds nothing of
// the copy. The failures are returned. Touches the disk.
std::vector<CopyFileFailure> DeleteCopyFiles(ExpiredCopies& expired);

// Every path a deletion of `expired` would touch: files, then manifests.
std::vector<std::string> ExpiredPaths(const ExpiredCopies& expired);

// The log entry of one failure (a Warning: the copy stays until a later run deletes it).
std::string CopyFileFailureText(const CopyFileFailure& failure);

// Drops the found copies from `history` (or marks those in LocalOnly), provided it still
// holds them where they were found. Returns the number changed; `localOnly` receives how
// many of them were only marked.
std::size_t DropCopies(std::vector<BackupCopy>& history, const ExpiredCopies& expired,
                       std::size_t* localOnly = nullptr);

// The three steps on a task the caller owns. True when a copy was dropped (the caller
// then saves the task file and logs "Delete the expiration backup copies").
// Files that could not be deleted go to `failures` when given.
bool DeleteExpiredCopies(CTaskItem& task, const TaskDateTime& now,
                         std::vector<CopyFileFailure>* failures = nullptr);

// The log entry written after copies were dropped.
inline constexpr const char* kExpiredCopiesDeleted = "Delete the expiration backup copies";
// The log entry written after off-site copies lost their local files.
std::string LocalFilesDeletedText(std::size_t copies);
// The log entry, once, for a copy the rule would delete that is not off-site yet.
std::string WaitingCopyText(const BackupCopy& copy);

}  // namespace brevanto
