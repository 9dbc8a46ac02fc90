#include "appcore/RunMetrics.h"

#include <ctime>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "core/AtomicFile.h"
#include "core/SharedFile.h"
#include "core/UtcTime.h"

namespace brevanto {

using nlohmann::json;

namespace {

std::int64_t UnixSeconds(const TaskDateTime& local) {
  if (local.IsNever()) return 0;
  std::tm fields = LocalTm(local);
  const std::time_t seconds = std::mktime(&fields);
  return seconds < 0 ? 0 : static_cast<std::int64_t>(seconds);
}

// A label value: backslash, double quote and line feed escaped, as the format asks.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::int64_t Number(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_number_integer() ? it->get<std::int64_t>() : 0;
}

}  // namespace

TaskRunRecord NextRunRecord(const TaskRunRecord& previous, const RunReport& report) {
  TaskRunRecord record = previous;
  record.LastRun = UnixSeconds(report.End);
  const std::int64_t start = UnixSeconds(report.Start);
  record.DurationSeconds = record.LastRun >= start ? record.LastRun - start : 0;
  record.Succeeded = !report.Failed();
  if (record.Succeeded) record.LastSuccess = record.LastRun;
  record.BytesWritten = 0;
  for (const std::string& file : report.FilesWritten) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) record.BytesWritten += info.st_size;
  }
  return record;
}

RunRecords ReadRunRecords(const std::string& path) {
  RunRecords records;
  std::string bytes;
  if (!ReadFileBytes(path, bytes, 64u << 20)) return records;
  const json all = json::parse(bytes, nullptr, false);
  if (!all.is_object()) return records;
  for (const auto& [name, item] : all.items()) {
    if (!item.is_object()) continue;
    TaskRunRecord& r = records[name];
    r.LastRun = Number(item, "LastRun");
    r.LastSuccess = Number(item, "LastSuccess");
    r.DurationSeconds = Number(item, "DurationSeconds");
    r.BytesWritten = Number(item, "BytesWritten");
    r.Succeeded = item.value("Succeeded", false);
    r.OverdueAlarmFor = Number(item, "OverdueAlarmFor");
  }
  return records;
}

Status SaveRunRecords(const std::string& path, const RunRecords& records) {
  json all = json::object();
  for (const auto& [name, r] : records) {
    all[name] = {{"LastRun", r.LastRun},
                 {"LastSuccess", r.LastSuccess},
                 {"DurationSeconds", r.DurationSeconds},
                 {"BytesWritten", r.BytesWritten},
                 {"Succeeded", r.Succeeded},
                 {"OverdueAlarmFor", r.OverdueAlarmFor}};
  }
  return WriteFileAtomically(path, all.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

std::vector<TaskMetrics> CollectTaskMetrics(const std::vector<CTaskItem>& tasks,
                                            const RunRecords& records) {
  std::vector<TaskMetrics> metrics;
  for (const CTaskItem& task : tasks) {
    TaskMetrics m;
    m.TaskName = task.TaskName;
    if (const auto it = records.find(task.TaskName); it != records.end()) {
      m.HasRun = true;
      m.Record = it->second;
    }
    m.CopiesKept = task.BackupHistory.size();
    metrics.push_back(std::move(m));
  }
  return metrics;
}

std::string PrometheusText(const std::vector<TaskMetrics>& metrics) {
  struct Series {
    const char* Name;
    const char* Help;
    bool NeedsRun;
    std::int64_t (*Value)(const TaskMetrics&);
  };
  static const Series kSeries[] = {
      {"brevanto_task_last_run_timestamp_seconds", "When the task's last run ended.", true,
       [](const TaskMetrics& m) { return m.Record.LastRun; }},
      {"brevanto_task_last_success_timestamp_seconds",
       "When the task's last good run ended (0: none yet).", true,
       [](const TaskMetrics& m) { return m.Record.LastSuccess; }},
      {"brevanto_task_last_run_duration_seconds", "How long the task's last run took.", true,
       [](const TaskMetrics& m) { return m.Record.DurationSeconds; }},
      {"brevanto_task_last_run_bytes_written", "The size of the files the last run wrote.", true,
       [](const TaskMetrics& m) { return m.Record.BytesWritten; }},
      {"brevanto_task_last_run_success", "1 when the task's last run went well, else 0.", true,
       [](const TaskMetrics& m) { return std::int64_t{m.Record.Succeeded ? 1 : 0}; }},
      {"brevanto_task_copies_kept", "The backup copies the task keeps.", false,
       [](const TaskMetrics& m) { return static_cast<std::int64_t>(m.CopiesKept); }},
  };
  std::string out;
  for (const Series& series : kSeries) {
    out += std::string("# HELP ") + series.Name + " " + series.Help + "\n";
    out += std::string("# TYPE ") + series.Name + " gauge\n";
    for (const TaskMetrics& m : metrics) {
      if (series.NeedsRun && !m.HasRun) continue;
      out += std::string(series.Name) + "{task=\"" + LabelValue(m.TaskName) + "\"} " +
             std::to_string(series.Value(m)) + "\n";
    }
  }
  return out;
}

Status WriteMetricsFile(const std::string& path, const std::vector<TaskMetrics>& metrics) {
  return WriteSharedFileAtomically(path, PrometheusText(metrics), 0644);
}

}  // namespace brevanto
