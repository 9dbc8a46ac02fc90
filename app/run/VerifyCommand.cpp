// --verify NAME [COPY]: proves one of a backup task's copies by a restore into a private
// scratch server (engines/VerifyCopy.h), printing the check's log; the exit code is 0
// only when the copy is verified. A stop signal ends the check at its next checkpoint and
// the scratch server is removed all the same.

#include <atomic>
#include <csignal>

#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "app/run/TaskListing.h"
#include "core/Clock.h"
#include "engines/VerifyCopy.h"
#include "tasks/AdvancedOptions.h"
#include "tasks/CopyCatalogue.h"
#include "tasks/EncryptionOptions.h"

namespace brevanto::run {
namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnVerifyStopSignal(int) {
  g_stop = true;
}

class ConsoleRunContext final : public TaskRunContext {
 public:
  explicit ConsoleRunContext(const CTaskItem& task) : m_task(task) {}
  const CTaskItem& Task() const override { return m_task; }
  TaskDateTime RunStartTime() const override { return m_start; }
  bool StopRequested() override { return g_stop; }
  void Log(LogLevel level, const std::string& text) override {
    if (level == LogLevel::General) {
      Say(Escaped(text));
    } else {
      Error(std::string(level == LogLevel::Error ? "" : "warning: ") + Escaped(text));
    }
  }
  void SetCancelHook(std::function<void()>) override {}
  Status RecordBackupCopy(const BackupCopy&) override { return Status::Ok(); }
  Clock& GetClock() override { return SystemClock(); }

 private:
  const CTaskItem& m_task;
  TaskDateTime m_start = SystemClock().Now();
};

}  // namespace

int VerifyCopyCommand(const std::string& folder, const CommandLine& line) {
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  const CTaskItem* task = NamedTask(tasks, line.names.front());
  if (task == nullptr) return kExitUsage;
  const std::vector<CatalogueCopy> copies = ListCopies(*task, CatalogueCheck{});
  const CatalogueCopy* chosen = nullptr;
  for (const CatalogueCopy& copy : copies) {
    if (line.copy.empty() ? !copy.Replaced : CopyTimeText(copy.Copy.BackupTime) == line.copy) {
      chosen = &copy;
    }
  }
  if (chosen == nullptr) {
    Error(line.copy.empty() ? "\"" + Escaped(task->TaskName) + "\" has no recorded backup copies"
                            : "\"" + Escaped(task->TaskName) + "\" has no copy of " +
                                  Escaped(line.copy) + " (see --copies)");
    return kExitUsage;
  }
  if (chosen->ManifestPath.empty() || chosen->Manifest == ManifestState::Missing) {
    Error("The copy of " + CopyTimeText(chosen->Copy.BackupTime) +
          " has no manifest: there is nothing to verify it against");
    return kExitFailed;
  }

  ConsoleRunContext context(*task);
  // Folders of a scratch server whose owner died (a crash, a SIGKILL) go first.
  std::vector<std::string> removed;
  if (Status status = RemoveScratchLeftovers(context.GetClock(), "", &removed); !status.ok()) {
    context.Log(LogLevel::Warning, status.message());
  }
  for (const std::string& leftover : removed) {
    context.Log(LogLevel::General, "Removed a scratch server left behind: " + leftover);
  }
  std::signal(SIGINT, OnVerifyStopSignal);
  std::signal(SIGTERM, OnVerifyStopSignal);
  VerifyCopyRequest request;
  request.ManifestPath = chosen->ManifestPath;
  request.IdentityFile = EncryptionOptionsOf(*task).IdentityFile;
  if (const std::optional<CAdvancedOptions> advanced = FindAdvancedOptions(*task)) {
    request.Threads = advanced->Threads;
  }
  context.Log(LogLevel::General, "Verifying the copy of " + CopyTimeText(chosen->Copy.BackupTime) +
                                     " (" + chosen->ManifestPath + ")");
  const RunOutcome outcome = VerifyCopy(context, request);
  if (outcome == RunOutcome::Canceled) context.Log(LogLevel::Warning, "User canceled!");
  return outcome == RunOutcome::Finished ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
