// --list and --log: what the window's list and log viewer show, as text for a terminal
// or as JSON for scripts.

#include "app/run/TaskListing.h"

#include <cstdio>
#include <tuple>

#include <nlohmann/json.hpp>

#include "app/run/Commands.h"
#include "app/run/LogFollower.h"
#include "app/run/Output.h"
#include "core/ApplicationFolder.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "logs/LogExport.h"
#include "logs/TaskLog.h"
#include "schedule/LastRunResult.h"
#include "schedule/RunStatusText.h"
#include "schedule/Schedule.h"
#include "tasks/TaskFile.h"
#include "tasks/TaskKinds.h"

namespace brevanto::run {

namespace {

const char* TypeName(std::uint8_t type) {
  const TaskKind* kind = FindTaskKind(type);
  return kind ? kind->Name : "Unknown";
}

const char* ScheduleName(std::uint8_t kind) {
  static const char* const kNames[] = {"Manual",      "Every day",    "Every week",
                                       "Every month", "Special date", "Time interval"};
  return kind <= 5 ? kNames[kind] : "Unknown";
}

const char* StatusName(const CTaskItem& task) {
  switch (task.GetStatus()) {
    case TaskStatus::Running: return "running";
    case TaskStatus::Waiting: return "waiting";
    default: return "stopped";
  }
}

// Names and log texts come from files: bytes that are not UTF-8 are replaced, not fatal.
std::string JsonLine(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json MomentOrNull(const TaskDateTime& moment) {
  return moment.IsNever() ? nlohmann::json() : nlohmann::json(FormatMoment(moment));
}

auto Ordered(const TaskDateTime& t) {
  return std::tie(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
}

bool EntryBefore(const CTaskLogEntry& e, const TaskDateTime& since) {
  return std::tie(e.year, e.month, e.day, e.hour, e.minute, e.second) < Ordered(since);
}

}  // namespace

const CTaskItem* NamedTask(const std::vector<CTaskItem>& tasks, const std::string& name) {
  for (const CTaskItem& task : tasks) {
    if (task.TaskName == name) return &task;
  }
  Error("no task named \"" + Escaped(name) + "\"");
  return nullptr;
}

std::string FormatMoment(const TaskDateTime& t) {
  if (t.IsNever()) return "never";
  char text[32];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

bool ReadTasks(const std::string& folder, std::vector<CTaskItem>& tasks) {
  const std::string path = folder + kTaskFileName;
  if (!StampOf(path).Exists) return true;  // no tasks yet
  std::string problem;
  const TaskFileReadResult result = ReadTaskFile(path, tasks, &problem);
  if (result == TaskFileReadResult::Failure || !problem.empty()) {
    Error("the task file " + path + " cannot be read" + (problem.empty() ? "" : ": " + problem));
    return false;
  }
  return true;
}


bool ParseMoment(const std::string& text, TaskDateTime& moment) {
  TaskDateTime parsed;
  char separator = ' ';
  char rest = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &parsed.Year,
                                 &parsed.Month, &parsed.Day, &separator, &parsed.Hour,
                                 &parsed.Minute, &parsed.Second, &rest);
  if (fields != 3 && fields != 6 && fields != 7) return false;
  if (fields > 3 && separator != ' ' && separator != 'T') return false;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (parsed.Year < 1 || parsed.Month < 1 || parsed.Month > 12 || parsed.Day < 1 ||
      parsed.Day > kDays[parsed.Month - 1] || parsed.Hour > 23 || parsed.Minute > 59 ||
      parsed.Second > 59 || parsed.Hour < 0 || parsed.Minute < 0 || parsed.Second < 0) {
    return false;
  }
  moment = parsed;
  return true;
}

int ListTasks(const std::string& folder, const CommandLine& line) {
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  CTaskLog log(folder + "Logs/", SystemClock());
  const TaskDateTime now = SystemClock().Now();
  nlohmann::json list = nlohmann::json::array();
  for (const CTaskItem& task : tasks) {
    const TaskDateTime next = task.GetStatus() == TaskStatus::Stop
                                  ? TaskDateTime()
                                  : ComputeNextRunTime(task, now);
    const std::string result = LastResultText(ReadLastRunResult(log, task.LogFileName));
    if (line.json) {
      list.push_back({{"name", task.TaskName},
                      {"type", TypeName(task.TaskType)},
                      {"schedule", ScheduleName(task.Schedule.Kind)},
                      {"status", StatusName(task)},
                      {"nextRun", MomentOrNull(next)},
                      {"lastRun", MomentOrNull(task.LastRunTime)},
                      {"lastResult", result.empty() ? nlohmann::json() : nlohmann::json(result)}});
      continue;
    }
    Say(Escaped(task.TaskName) + "\t" + TypeName(task.TaskType) + "\t" +
        ScheduleName(task.Schedule.Kind) + "\tnext run: " + FormatMoment(next) +
        "\tlast run: " + FormatMoment(task.LastRunTime) +
        (result.empty() ? std::string() : " " + result));
  }
  // Scripts read the list even with --quiet.
  if (line.json) std::printf("%s\n", JsonLine(list).c_str());
  return kExitOk;
}

int PrintTaskLog(const std::string& folder, const CommandLine& line) {
  TaskDateTime since;
  if (!line.since.empty() && !ParseMoment(line.since, since)) {
    Error("--since needs a time as YYYY-MM-DD[ HH:MM[:SS]], not \"" + Escaped(line.since) + "\"");
    std::fprintf(stderr, "%s\n", kTryHelp);
    return kExitUsage;
  }
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  const CTaskItem* task = NamedTask(tasks, line.names.front());
  if (task == nullptr) return kExitUsage;
  CTaskLog log(folder + "Logs/", SystemClock());
  std::vector<CTaskLogEntry> entries;
  log.ReadAll(task->LogFileName, entries);
  for (const CTaskLogEntry& entry : entries) {
    if (!since.IsNever() && EntryBefore(entry, since)) continue;
    if (line.json) {
      char moment[32];
      std::snprintf(moment, sizeof moment, "%d-%02d-%02d %02d:%02d:%02d", entry.year, entry.month,
                    entry.day, entry.hour, entry.minute, entry.second);
      std::printf("%s\n", JsonLine({{"time", moment},
                                    {"level", LevelName(entry.level)},
                                    {"text", entry.text}})
                              .c_str());
    } else {
      std::printf("%s\n", FormatEntry(entry).c_str());
    }
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
