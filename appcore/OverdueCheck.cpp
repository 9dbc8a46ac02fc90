#include "appcore/OverdueCheck.h"

#include <ctime>
#include <tuple>

#include <nlohmann/json.hpp>

#include "core/UtcTime.h"
#include "schedule/Schedule.h"
#include "tasks/TaskOptionsStore.h"

namespace brevanto {

namespace {

TaskDateTime LocalMoment(std::int64_t unixSeconds) {
  const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
  std::tm f{};
  localtime_r(&seconds, &f);
  return TaskDateTime{f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,    f.tm_hour,
                      f.tm_min,         f.tm_sec,     f.tm_wday + 1};
}

std::int64_t UnixOf(const TaskDateTime& local) {
  std::tm fields = LocalTm(local);
  return static_cast<std::int64_t>(std::mktime(&fields));
}

}  // namespace

std::optional<int> FindOverdueGrace(const CTaskItem& task) {
  const nlohmann::json section = GetTaskSection(task, kOverdueSection);
  if (!section.is_object()) return std::nullopt;
  const auto it = section.find("GraceMinutes");
  if (it == section.end() || !it->is_number_integer()) return std::nullopt;
  const std::int64_t grace = it->get<std::int64_t>();
  if (grace < 0 || grace > kMaxGraceMinutes) return std::nullopt;
  return static_cast<int>(grace);
}

void SetOverdueGrace(CTaskItem& task, std::optional<int> graceMinutes) {
  SetTaskSection(task, kOverdueSection,
                 graceMinutes ? nlohmann::json{{"GraceMinutes", *graceMinutes}} : nlohmann::json());
}

std::optional<TaskDateTime> OverdueFrom(const CTaskItem& task, std::int64_t lastSuccess,
                                        int graceMinutes, const TaskDateTime& now) {
  if (lastSuccess <= 0 || task.GetScheduleKind() == ScheduleKind::Manual) return std::nullopt;
  // The schedule as it stood after the good run: its next moment is the run that was due.
  CTaskItem after = task;
  after.LastRunTime = LocalMoment(lastSuccess);
  const TaskDateTime due = ComputeNextRunTime(after, LocalMoment(lastSuccess + 60));
  if (due.IsNever()) return std::nullopt;
  const std::int64_t from = UnixOf(due) + std::int64_t{graceMinutes} * 60;
  if (UnixOf(now) < from) return std::nullopt;
  return LocalMoment(from);
}

std::string OverdueText(const std::string& taskName, std::int64_t lastSuccess) {
  const TaskDateTime t = LocalMoment(lastSuccess);
  char moment[32];
  std::snprintf(moment, sizeof moment, "%d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second);
  return "No good backup of " + taskName + " since " + moment;
}

}  // namespace brevanto
