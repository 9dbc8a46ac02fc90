// --daemon: the headless scheduler, for a systemd user service or a server without a
// display. It owns the folder like the window, runs every schedule through the same
// runner, and reports to standard error for the journal: its own messages and each log
// entry of every task, prefixed with the task's name.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "app/run/Commands.h"
#include "app/run/FolderAccess.h"
#include "app/run/LogFollower.h"
#include "app/run/Output.h"
#include "appcore/ApplicationCore.h"
#include "appcore/Scheduler.h"
#include "core/Clock.h"
#include "engines/Routines.h"

namespace brevanto::run {

namespace {

std::atomic<bool> g_stop{false};
constexpr int kNotificationWaitMs = 5000;

void OnStopSignal(int) {
  g_stop = true;
}

// One follower per task log, made anew when the list changes.
class AllLogs {
 public:
  explicit AllLogs(CApplicationCore& core) : m_core(core) {}

  void PrintNew() {
    // What the logs gained is printed before the followers follow the list: a task that
    // left it (its run stopped at shutdown, or deleted) still has its last entries told.
    for (auto& [logFile, follower] : m_followers) follower->PrintNew();
    std::map<std::string, std::string> names;  // log file -> task name
    for (const CTaskItem& task : m_core.Tasks().Snapshot()) {
      if (!task.LogFileName.empty()) names[task.LogFileName] = task.TaskName;
    }
    for (auto it = m_followers.begin(); it != m_followers.end();) {
      it = names.contains(it->first) ? std::next(it) : m_followers.erase(it);
    }
    for (const auto& [logFile, name] : names) {
      auto& follower = m_followers[logFile];
      if (!follower) {
        follower = std::make_unique<LogFollower>(
            m_core.TaskLog(), logFile, [taskName = name](const CTaskLogEntry& entry) {
              if (Quiet() && entry.level < 2) return;
              std::fprintf(stderr, "[%s] %s\n", Escaped(taskName).c_str(),
                           FormatEntry(entry).c_str());
            });
      }
      follower->PrintNew();
    }
    std::fflush(stderr);
  }

 private:
  CApplicationCore& m_core;
  std::map<std::string, std::unique_ptr<LogFollower>> m_followers;
};

}  // namespace

int RunDaemon(const std::string& folder, const CommandLine& line) {
  const FolderAccess access =
      TakeFolder(folder, kHolderDaemon, line.waitSeconds, false, SystemClock());
  if (!access.granted) return kExitFolderInUse;
  // Never destroyed: a worker the runner gave up on at exit may still reach the core.
  CApplicationCore& core = *new CApplicationCore(folder, SystemClock());
  core.ShareTaskFile();
  core.Start();
  if (!line.metricsFile.empty()) core.SetMetricsFile(line.metricsFile);
  core.SendDesktopNotificationsOverBus();
  if (!core.SetAsideTaskFile().empty()) {
    Error("the task list could not be read; it was kept as " + core.SetAsideTaskFile() +
          " and the scheduler starts with an empty list");
  }
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGHUP, SIG_IGN);  // the terminal going away is no reason to stop the schedule

  AllLogs logs(core);
  SchedulerHooks hooks;
  hooks.StopRequested = [] { return g_stop.load(); };
  hooks.Say = [](const std::string& text) {
    if (!Quiet()) std::fprintf(stderr, "brevanto-run: %s\n", text.c_str());
  };
  hooks.Poll = [&logs] { logs.PrintNew(); };
  const int code = RunScheduler(core, MakeRoutineTable(folder), hooks);
  if (code != 0) {
    Error("the task runner did not start (code " + std::to_string(code) + ")");
    return kExitFailed;
  }
  logs.PrintNew();
  // The last runs' e-mails and webhooks, for a few seconds: systemd's stop time-out is
  // not to be outwaited by a server that hangs.
  if (const std::size_t unsent = core.WaitForNotifications(kNotificationWaitMs); unsent > 0) {
    Error("stopped without sending the notifications of " + std::to_string(unsent) + " run(s)");
  }
  std::fflush(nullptr);
  // Workers abandoned at the stop deadline may still hold the core: leave without
  // destroying anything under them.
  std::_Exit(kExitOk);
}

}  // namespace brevanto::run
