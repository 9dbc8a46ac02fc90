// --status: what the metrics file holds, for scripts (--json) and for people.

#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "app/run/Commands.h"
#include "app/run/Output.h"
#include "app/run/TaskListing.h"
#include "appcore/OverdueCheck.h"
#include "appcore/RunMetrics.h"
#include "core/Clock.h"
#include "schedule/RunStatusText.h"

namespace brevanto::run {

namespace {

std::string LocalMoment(std::int64_t unixSeconds) {
  if (unixSeconds <= 0) return "never";
  const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
  std::tm fields{};
  localtime_r(&seconds, &fields);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
  return text;
}

nlohmann::json SecondsOrNull(std::int64_t unixSeconds) {
  return unixSeconds <= 0 ? nlohmann::json() : nlohmann::json(unixSeconds);
}

}  // namespace

int PrintStatus(const std::string& folder, const CommandLine& line) {
  std::vector<CTaskItem> tasks;
  if (!ReadTasks(folder, tasks)) return kExitFailed;
  const std::vector<TaskMetrics> metrics =
      CollectTaskMetrics(tasks, ReadRunRecords(folder + "Data/" + kRunRecordsFileName));
  nlohmann::json list = nlohmann::json::array();
  const TaskDateTime now = SystemClock().Now();
  for (std::size_t i = 0; i < metrics.size(); ++i) {
    const TaskMetrics& m = metrics[i];
    const TaskRunRecord& r = m.Record;
    const std::optional<int> grace = FindOverdueGrace(tasks[i]);
    const bool overdue = grace && OverdueFrom(tasks[i], r.LastSuccess, *grace, now).has_value();
    if (line.json) {
      nlohmann::json item = {
          {"name", m.TaskName}, {"copiesKept", m.CopiesKept}, {"overdue", overdue}};
      item["lastRun"] = m.HasRun ? SecondsOrNull(r.LastRun) : nlohmann::json();
      item["lastSuccess"] = m.HasRun ? SecondsOrNull(r.LastSuccess) : nlohmann::json();
      item["durationSeconds"] = m.HasRun ? nlohmann::json(r.DurationSeconds) : nlohmann::json();
      item["bytesWritten"] = m.HasRun ? nlohmann::json(r.BytesWritten) : nlohmann::json();
      item["result"] = m.HasRun ? nlohmann::json(r.Succeeded ? 1 : 0) : nlohmann::json();
      list.push_back(std::move(item));
      continue;
    }
    if (!m.HasRun) {
      Say(Escaped(m.TaskName) + "\tnever run\tcopies kept: " + std::to_string(m.CopiesKept));
      continue;
    }
    Say(Escaped(m.TaskName) + "\t" +
        (overdue       ? "Overdue"
         : r.Succeeded ? "OK"
                       : "Failed") +
        "\tlast run: " + LocalMoment(r.LastRun) + "\tlast success: " + LocalMoment(r.LastSuccess) +
        "\tduration: " + std::to_string(r.DurationSeconds) + " s\twritten: " +
        ByteCountText(r.BytesWritten) + "\tcopies kept: " + std::to_string(m.CopiesKept));
  }
  // Scripts read the list even with --quiet.
  if (line.json) {
    std::printf("%s\n",
                list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace brevanto::run
