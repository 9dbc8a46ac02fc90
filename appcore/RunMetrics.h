#pragma once
// What a monitor needs of each task's runs: when the last one ended, when the last good
// one did, how long it took, what it wrote, whether it went well, and how many backup
// copies the task keeps. The run records live in the application's "Data" folder
// (kRunRecordsFileName), so brevanto-run --status reads what the scheduler wrote; the
// metrics file is node_exporter's textfile format.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/Status.h"
#include "schedule/RunReport.h"
#include "tasks/TaskItem.h"

namespace brevanto {

inline constexpr const char* kRunRecordsFileName = "run-records.json";

// A task's last run and last good run. Times are Unix seconds, 0 for never.
struct TaskRunRecord {
  std::int64_t LastRun = 0;  // the end of the last run (not canceled)
  std::int64_t LastSuccess = 0;
  std::int64_t DurationSeconds = 0;  // of the last run
  std::int64_t BytesWritten = 0;     // the sizes of the files the last run wrote
  bool Succeeded = false;            // the last run
  std::int64_t OverdueAlarmFor = 0;  // the LastSuccess the overdue alarm went out for
  friend bool operator==(const TaskRunRecord&, const TaskRunRecord&) = default;
};

// Records by task name.
using RunRecords = std::map<std::string, TaskRunRecord>;

// The record after `report`'s run (never a canceled one); reads the sizes of its files.
TaskRunRecord NextRunRecord(const TaskRunRecord& previous, const RunReport& report);

// A missing or damaged file reads as no records (the next run writes it anew).
RunRecords ReadRunRecords(const std::string& path);
Status SaveRunRecords(const std::string& path, const RunRecords& records);

// One line of --status and of the metrics file.
struct TaskMetrics {
  std::string TaskName;
  bool HasRun = false;  // false: only CopiesKept is known
  TaskRunRecord Record;
  std::size_t CopiesKept = 0;
};
std::vector<TaskMetrics> CollectTaskMetrics(const std::vector<CTaskItem>& tasks,
                                            const RunRecords& records);

// The metrics in the Prometheus text format, every series labelled task="name".
std::string PrometheusText(const std::vector<TaskMetrics>& metrics);

// Writes the metrics file atomically, readable by all (mode 0644): node_exporter usually
// runs as a user of its own, and the file holds no secret, only names, times and counts.
Status WriteMetricsFile(const std::string& path, const std::vector<TaskMetrics>& metrics);

}  // namespace brevanto
