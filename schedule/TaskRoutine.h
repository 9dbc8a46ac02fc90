#pragma once
// The contract between the runner's worker skeleton and the work of one task type.
// The runner calls the routine of the task's TaskType once per run, on the worker
// thread; the routine uses only what the context gives it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Status.h"
#include "tasks/TaskItem.h"

namespace brevanto {

class Clock;

enum class RunOutcome {
  Finished,  // the skeleton logs "Finished"
  Failed,    // the routine already logged its Error entries; the skeleton adds nothing
  Canceled,  // a stop request was seen at a checkpoint; the skeleton logs "User canceled!"
             // (Warning) and ends the thread
};

// What a routine may use during one run. Lives on the worker thread; not shared.
class TaskRunContext {
 public:
  virtual ~TaskRunContext() = default;

  // A copy of the task as it was when the run started.
  virtual const CTaskItem& Task() const = 0;
  // The run's start (equal to the task's LastRunTime).
  virtual TaskDateTime RunStartTime() const = 0;
  // The checkpoint test: true once the task was asked to stop.
  virtual bool StopRequested() = 0;
  // Appends an entry to the task's log.
  virtual void Log(LogLevel level, const std::string& text) = 0;
  // As Log, for an entry held back while it happened: stamped `when` (read from
  // GetClock() then). A context that keeps no times logs it as Log does.
  virtual void LogAt(LogLevel level, const std::string& text, const TaskDateTime& when) {
    Log(level, text);
  }
  // Installs (or clears, with an empty function) what the runner calls from another
  // thread to release a worker stuck in the server when a stop request is not answered
  // in time (for example mariadb_cancel on the run's connections). Must be thread-safe.
  // The hook must not call back into this context. Clear it before closing what it
  // cancels: clearing waits for a hook call in progress.
  virtual void SetCancelHook(std::function<void()> hook) = 0;
  // BackupToFiles: appends a copy to the live task's history, saves the task file and
  // deletes expired copies. An Error (already logged) when the task file could not be
  // saved: the copy is not recorded.
  [[nodiscard]] virtual Status RecordBackupCopy(const BackupCopy& copy) = 0;
  // BackupToFiles with an off-site target: deletes what the task's retention expires now,
  // as after RecordBackupCopy (a copy that went off-site since may lose its local files).
  virtual void DeleteExpiredCopies() {}
  // Drops copies that exist nowhere any more (the store's retention deleted them there and
  // no local file is left) from the live task's history and saves the task file. Copies
  // are matched whatever their Spare bits say. An Error (a Warning logged) when the save failed.
  [[nodiscard]] virtual Status ForgetBackupCopies(const std::vector<BackupCopy>& /*copies*/) {
    return Status::Ok();
  }
  virtual Clock& GetClock() = 0;

  // Progress, for the task list, the tray and the headless runner (see
  // schedule/ProgressTracker.h for the units). Cheap enough to call once a row: the
  // runner publishes in batches. The defaults do nothing.
  // The estimated size of the whole run, once, before the first item.
  virtual void ProgressPlan(std::int64_t totalUnits) {}
  // The next table or file starts (the previous one is done).
  virtual void ProgressItem(const std::string& name, std::int64_t estimatedUnits) {}
  virtual void ProgressAdvance(std::int64_t units, std::int64_t bytesWritten) {}
  // A file the run wrote and kept, for the run's report (backups record theirs through
  // RecordBackupCopy).
  virtual void RecordFileWritten(const std::string& path) {}
};

using TaskRoutine = std::function<RunOutcome(TaskRunContext&)>;

}  // namespace brevanto
