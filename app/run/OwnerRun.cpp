#include "app/run/OwnerRun.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#include "app/run/CommandLine.h"
#include "app/run/LogFollower.h"
#include "app/run/Output.h"
#include "app/run/TaskListing.h"
#include "appcore/RunRequests.h"
#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "schedule/LastRunResult.h"

namespace brevanto::run {

namespace {

constexpr int kPollMs = 100;

bool Alive(long pid) {
  return pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

void PrintRunEntry(const CTaskLogEntry& entry) {
  if (entry.level >= 2 && Quiet()) {
    std::fprintf(stderr, "%s\n", FormatEntry(entry).c_str());
  } else {
    Say(FormatEntry(entry));
  }
}

std::optional<int> RunThroughOwner(const std::string& folder, const std::string& name,
                                   int takeMs) {
  if (InstanceLock::TryAcquire(folder, kHolderRun)) return std::nullopt;
  const LockHolder holder = InstanceLock::Holder(folder);
  if (holder.kind != kHolderDaemon && holder.kind != kHolderWindow) return std::nullopt;
  const std::string owner = InstanceLock::Describe(holder);

  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  const CTaskItem* task = nullptr;
  for (const CTaskItem& candidate : tasks) {
    if (candidate.TaskName == name) task = &candidate;
  }
  if (task == nullptr) {
    Error("no task named \"" + Escaped(name) + "\" in " + folder + kTaskFileName);
    return kExitUsage;
  }
  if (task->LogFileName.empty()) {
    Error("the task has no log file; its outcome is unknown");
    return kExitFailed;
  }
  CTaskLog log(folder + "Logs/", SystemClock());
  LogFollower follower(log, task->LogFileName, PrintRunEntry);

  std::string request;
  if (const Status posted = PostRunRequest(folder, name, request); !posted.ok()) {
    Error(posted.message());
    return kExitFailed;
  }
  Clock& clock = SystemClock();
  const std::int64_t asked = clock.MonotonicMs();
  while (FileExists(request)) {
    if (clock.MonotonicMs() - asked < takeMs) {
      clock.SleepMs(kPollMs);
      continue;
    }
    // Withdrawn unless the owner took it at this very moment.
    if (::unlink(request.c_str()) == 0) {
      Error(folder + " is in use by " + owner +
            ", which did not take up the request to run the task; quit it first");
      return kExitFolderInUse;
    }
    if (errno != ENOENT) {
      Error("cannot withdraw the run request " + request);
      return kExitFailed;
    }
  }

  const std::string end = RunRequestEndPath(request);
  while (!FileExists(end)) {
    follower.PrintNew();
    if (!Alive(holder.pid)) {
      Error(owner + " ended before the run did");
      return kExitFailed;
    }
    clock.SleepMs(kPollMs);
  }
  follower.PrintNew();
  std::string noRun;
  const bool read = ReadFileBytes(end, noRun, 4096);
  if (!RemoveFileIfExists(end)) Error("cannot delete " + end);
  if (!read) {
    Error("cannot read " + end + "; the run's outcome is unknown");
    return kExitFailed;
  }
  if (!noRun.empty()) {
    Error(owner + " made no run: " + Escaped(noRun));
    return kExitFailed;
  }
  return ReadLastRunResult(log, task->LogFileName).Kind == RunResultKind::Ok ? kExitOk
                                                                              : kExitFailed;
}

}  // namespace brevanto::run
