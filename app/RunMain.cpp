// brevanto-run: the tasks of an application folder without a window, for servers without
// a display and for scripting (cron, systemd timers).
//
//   brevanto-run [--folder DIR] --list
//   brevanto-run [--folder DIR] --task NAME
//
// --task runs the task once now through the same runner and engines as the windowed
// program, prints each log entry as it is written, writes the task's log and saves the
// task file at exit as the program does. Exit status: 0 when the run ended with
// "Finished" and logged no error, 1 otherwise, 2 for bad arguments, an unknown task or
// an application folder in use by the windowed program.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "appcore/ApplicationCore.h"
#include "core/ApplicationFolder.h"
#include "core/Clock.h"
#include "core/InstanceLock.h"
#include "engines/Routines.h"
#include "logs/TaskLog.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskList.h"

namespace {

using namespace brevanto;

constexpr int kPollMs = 100;

std::atomic<bool> g_stopRequested{false};

void OnTerminationSignal(int) {
  g_stopRequested = true;
}

int Usage(const char* problem) {
  std::fprintf(stderr,
               "brevanto-run: %s\n"
               "usage: brevanto-run [--folder DIR] --list\n"
               "       brevanto-run [--folder DIR] --task NAME\n",
               problem);
  return 2;
}

const char* TypeName(std::uint8_t type) {
  static const char* const kNames[] = {
      "Backup to files", "Backup to server",   "Backup to database",  "Export to files",
      "Execute script",  "Restore from files", "Restore from server", "Restore from database"};
  return type >= 1 && type <= 8 ? kNames[type - 1] : "Unknown";
}

const char* ScheduleName(std::uint8_t kind) {
  static const char* const kNames[] = {"Manual",      "Every day",    "Every week",
                                       "Every month", "Special date", "Time interval"};
  return kind <= 5 ? kNames[kind] : "Unknown";
}

std::string FormatMoment(const TaskDateTime& t) {
  if (t.IsNever()) return "never";
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

// Reads the task file without changing anything in the folder.
int ListTasks(const std::string& folder) {
  std::vector<CTaskItem> tasks;
  if (ReadTaskFile(folder + kTaskFileName, tasks) == TaskFileReadResult::Failure) {
    std::fprintf(stderr, "brevanto-run: no readable task file in %s\n", folder.c_str());
    return 1;
  }
  for (const CTaskItem& task : tasks) {
    std::printf("%s\t%s\t%s\tlast run: %s\n", task.TaskName.c_str(), TypeName(task.TaskType),
                ScheduleName(task.Schedule.Kind), FormatMoment(task.LastRunTime).c_str());
  }
  return 0;
}

// The runner owner of a run-once list holding a copy of one task: logs, options and the
// task file are the application core's; whatever the run changes in its copy (last run,
// backup history) is written back to the core's task before each save.
class RunOnceOwner final : public TaskRunnerOwner {
 public:
  RunOnceOwner(CApplicationCore& core, const std::string& folder, int coreIndex)
      : m_core(core), m_routines(MakeRoutineTable(folder)), m_coreIndex(coreIndex) {}

  void SetRunList(CTaskList* runList) { m_runList = runList; }
  std::mutex& Lock() { return m_lock; }

  CTaskLog& TaskLog() override { return m_core.TaskLog(); }
  bool LimitLogSize() override { return m_core.LimitLogSize(); }
  std::int64_t MaxLogSizeKB() override { return m_core.MaxLogSizeKB(); }
  bool SaveTasks() override {
    std::lock_guard<std::mutex> guard(m_lock);
    WriteBack();
    return m_core.SaveTasks();
  }
  const TaskRoutine* RoutineFor(TaskType type) override {
    auto it = m_routines.find(type);
    return it == m_routines.end() ? nullptr : &it->second;
  }

  void WriteBack() {
    if (m_runList == nullptr || m_runList->Count() == 0) return;
    const CTaskItem ran = m_runList->At(0);
    m_core.Tasks().Update(m_coreIndex, [&](CTaskItem& task) {
      task.LastRunTime = ran.LastRunTime;
      task.BackupHistory = ran.BackupHistory;
    });
  }

 private:
  CApplicationCore& m_core;
  const std::map<TaskType, TaskRoutine> m_routines;
  const int m_coreIndex;
  CTaskList* m_runList = nullptr;
  std::mutex m_lock;  // guards m_runList; serialises write-back and saves across threads
};

const char* LevelName(std::uint8_t level) {
  return level == 0 ? "General" : level == 1 ? "Warning" : "Error";
}

// Prints the entries of the task's log that appeared since the last call; returns the
// entries of this run so far.
class LogFollower {
 public:
  LogFollower(CTaskLog& log, std::string logFileName)
      : m_log(log), m_logFileName(std::move(logFileName)) {
    std::vector<CTaskLogEntry> entries;
    m_log.ReadAll(m_logFileName, entries);
    Seen(entries, entries.size());
  }

  void PrintNew() {
    std::vector<CTaskLogEntry> entries;
    std::size_t index = 0;  // of entries[0] in the log
    if (ReadSinceLastSeen(entries)) {
      index = m_printed - 1;
    } else {
      m_log.ReadAll(m_logFileName, entries);
      // The size limit may delete the log when the run starts: it then begins afresh, and
      // by the next look it may already hold as many entries as the old one did.
      if (!Continues(entries)) m_printed = 0;
    }
    for (; m_printed < index + entries.size(); ++m_printed) {
      const CTaskLogEntry& e = entries[m_printed - index];
      std::printf("%d-%02d-%02d %02d:%02d:%02d  %-7s  %s\n", e.year, e.month, e.day, e.hour,
                  e.minute, e.second, LevelName(e.level), e.text.c_str());
      m_run.push_back(e);
    }
    if (index == 0) {
      Seen(entries, m_printed);
    } else {
      m_last = entries.back();
    }
    std::fflush(stdout);
  }

  // "Finished" last and no Error entry.
  bool Succeeded() const {
    if (m_run.empty() || m_run.back().text != "Finished") return false;
    for (const CTaskLogEntry& e : m_run) {
      if (e.level >= 2) return false;
    }
    return true;
  }

 private:
  // Reads only the end of the log, from the last entry seen on, so that a long log is not
  // read whole ten times a second. False when the log is not plainly the one seen so far
  // with entries added (then it is read whole).
  bool ReadSinceLastSeen(std::vector<CTaskLogEntry>& entries) const {
    if (m_printed == 0) return false;
    struct stat st {};
    if (::stat(m_log.PathOf(m_logFileName).c_str(), &st) != 0) return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < sizeof kTaskLogMagic) return false;
    const std::size_t total = (size - sizeof kTaskLogMagic) / kLogEntrySize;
    if (total < m_printed) return false;
    m_log.ReadLast(m_logFileName, entries, total - m_printed + 1);
    return entries.size() == total - m_printed + 1 && entries.front() == m_last;
  }
  // Whether `entries` still hold the entries already seen where they were seen.
  bool Continues(const std::vector<CTaskLogEntry>& entries) const {
    return m_printed == 0 || (entries.size() >= m_printed && entries.front() == m_first &&
                              entries[m_printed - 1] == m_last);
  }
  void Seen(const std::vector<CTaskLogEntry>& entries, std::size_t count) {
    m_printed = count;
    if (count == 0) return;
    m_first = entries.front();
    m_last = entries[count - 1];
  }

  CTaskLog& m_log;
  const std::string m_logFileName;
  std::size_t m_printed = 0;
  CTaskLogEntry m_first;  // the log's first entry and the last one seen, once any was
  CTaskLogEntry m_last;
  std::vector<CTaskLogEntry> m_run;
};

int RunTask(const std::string& folder, const std::string& name) {
  // The windowed program holds this lock while it runs; both would write the task file.
  const std::unique_ptr<InstanceLock> lock = InstanceLock::TryAcquire(folder);
  if (!lock) {
    std::fprintf(stderr,
                 "brevanto-run: %s is in use by a running Brevanto (or cannot be locked); quit "
                 "it first, or run the task from its window\n",
                 folder.c_str());
    return 2;
  }
  CApplicationCore core(folder, SystemClock());
  core.Start();
  if (!core.SetAsideTaskFile().empty()) {
    // As the windowed program says it: the user's tasks were moved, not lost.
    std::fprintf(stderr, "brevanto-run: the task list could not be read; it was kept as %s\n",
                 core.SetAsideTaskFile().c_str());
  }
  const int index = core.Tasks().FindByName(name);
  if (index < 0) {
    std::fprintf(stderr, "brevanto-run: no task named \"%s\" in %s\n", name.c_str(),
                 (folder + kTaskFileName).c_str());
    return 2;
  }

  // A copy in a list of its own, run once: the other tasks stay untouched and nothing
  // keeps waiting for a next scheduled run.
  CTaskItem once = core.Tasks().At(index);
  const std::string logFileName = once.LogFileName;
  once.Schedule.Kind = static_cast<std::uint8_t>(ScheduleKind::Manual);
  RunOnceOwner owner(core, folder, index);
  CTaskList runList(SystemClock());
  runList.AddTask(once);
  runList.Update(0, [&](CTaskItem& task) {
    task.TaskKey = once.TaskKey;
    task.RunImmediately = 1;
  });
  owner.SetRunList(&runList);

  LogFollower follower(core.TaskLog(), logFileName);
  std::signal(SIGINT, OnTerminationSignal);
  std::signal(SIGTERM, OnTerminationSignal);
  std::signal(SIGHUP, OnTerminationSignal);
  runList.StartRunner(&owner);
  while (runList.HasWorker(0)) {
    if (g_stopRequested) {
      runList.StopTask(0);  // waits for the worker, then releases it from the server
      break;
    }
    follower.PrintNew();
    SystemClock().SleepMs(kPollMs);
  }
  {
    // The run list empties when its runner stops, so its task is taken over before.
    std::lock_guard<std::mutex> guard(owner.Lock());
    owner.WriteBack();
    owner.SetRunList(nullptr);
  }
  runList.StopRunner();
  follower.PrintNew();
  if (logFileName.empty()) {
    std::fprintf(stderr, "brevanto-run: the task has no log file; its outcome is unknown\n");
  }
  core.SaveAtExit();
  if (g_stopRequested) {
    // A worker that did not answer in time was abandoned and may still hold the core and
    // the owner: leave without destroying anything under it.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  return follower.Succeeded() ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string folder;
  std::string task;
  bool list = false;
  bool haveTask = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg == "--task" && i + 1 < argc) {
      task = argv[++i];
      haveTask = true;
    } else if (arg == "--list") {
      list = true;
    } else {
      return Usage(("unexpected argument: " + arg).c_str());
    }
  }
  if (list == haveTask) return Usage("give either --list or --task NAME");
  folder = folder.empty() ? ApplicationFolder() : WithTrailingSlash(folder);
  return list ? ListTasks(folder) : RunTask(folder, task);
}
