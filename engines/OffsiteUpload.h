#pragma once
// The off-site step of a BackupToFiles run whose task has a "Remote" section
// (tasks/RemoteOptions.h). Once the run's copy is complete and recorded, the copies that
// are not off-site yet (recorded, with a manifest, without an off-site record; oldest
// first, so a copy an earlier run failed to send goes now) are checked against their
// manifests and uploaded, files first and the manifest last; only then is the copy's
// off-site record (tasks/OffsiteRecord.h) written beside its manifest, and the copy counts
// as off-site. A failure is an Error naming the target and the cause: the run fails, and
// the local copy stays for the next run. Afterwards the store keeps the newest KeepCopies
// complete copies of the task, and local retention runs again (a copy now off-site may
// lose its local files).
//
// In direct mode ("Direct": true) the run's files are written straight to the store
// (engines/RemoteSink.h); the manifest is still written here and uploaded last.
//
// A copy's files go up to kUploadLanes at a time, each lane with a store of its own (a
// store is not shared across threads; each rclone run and request has a fixed cost that
// lanes overlap). The first failure hands out no further file and, once the running ones
// ended, is the copy's Error; the manifest goes only after every file arrived.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "engines/ErrorCountingContext.h"
#include "engines/RemoteSink.h"
#include "remote/RemoteStore.h"
#include "schedule/TaskRoutine.h"
#include "tasks/RemoteOptions.h"

namespace brevanto {

class COffsiteRun {
 public:
  static constexpr std::size_t kUploadLanes = 4;

  COffsiteRun(TaskRunContext& context, const CTaskItem& task);
  ~COffsiteRun();
  COffsiteRun(const COffsiteRun&) = delete;
  COffsiteRun& operator=(const COffsiteRun&) = delete;

  // The task has an off-site target.
  bool Active() const { return !m_options.Empty(); }
  bool Direct() const { return Active() && m_options.Direct; }

  // Direct mode, before the backup: opens the store. False (the Error logged) when it
  // cannot be opened: the run writes nothing.
  bool OpenForDirect();
  // Direct mode: the sink of the file whose local path would be `path` (see DirectTarget).
  [[nodiscard]] Status OpenSink(const std::string& path, bool replace,
                                std::unique_ptr<OutputSink>& sink);
  // Direct mode, when the run recorded no copy: deletes the objects it completed (a
  // Warning for each that stays).
  void DiscardDirectObjects();

  // After the backup, whatever its `outcome` (but a stop): sends the copies not yet
  // off-site, `recorded` (this run's copy, when recorded) last, then applies the store's
  // retention. Returns the run's outcome: Failed when a copy could not be sent.
  RunOutcome Finish(RunOutcome outcome, const BackupCopy* recorded);

  // Where object names are relative to: the backup folder, or in same-file mode the file's
  // folder.
  static std::string BaseFolderOf(const CTaskItem& task);

 private:
  enum class Sent { Yes, Skipped, Failed, Stopped };
  // Opens the store unless open. False (the Error logged) when it cannot be.
  bool OpenStore();
  TransferControl StoreControl();
  // The stores that upload `files` files at once: the run's store and more of its own,
  // as many as can be opened (at most kUploadLanes).
  std::vector<RemoteStore*> UploadLanes(std::size_t files);
  Sent SendCopy(const BackupCopy& copy, bool current);
  // The copies of the run's task that are not off-site yet, oldest first, `recorded` last.
  std::vector<BackupCopy> PendingCopies(const BackupCopy* recorded) const;
  void ApplyStoreRetention(const std::vector<BackupCopy>& history);
  // The copies the store's retention deleted there: forgotten when nothing of them is
  // left here, else their record says they were removed.
  void NoteRemoved(const std::vector<BackupCopy>& history,
                   const std::vector<std::string>& manifests);
  void SendFailed(const std::string& cause);

  // Every use of the run's context goes through one lock: upload lanes log and ask for
  // stops from threads of their own.
  CErrorCountingContext m_serial;
  TaskRunContext& m_context;
  const CTaskItem& m_task;
  const RemoteOptions m_options;
  const std::string m_target;
  const std::string m_baseFolder;
  std::unique_ptr<RemoteStore> m_store;
  std::vector<std::unique_ptr<RemoteStore>> m_laneStores;  // beside m_store
  bool m_noMoreLanes = false;  // opening another store failed once this run
  std::unique_ptr<DirectTarget> m_direct;
};

}  // namespace brevanto
