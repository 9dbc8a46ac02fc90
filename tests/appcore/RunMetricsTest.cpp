// The metrics every run's end writes: the run records in the application folder and the
// node_exporter textfile, read back with the Prometheus client's own parser.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>

#include <nlohmann/json.hpp>

#include "appcore/ApplicationCore.h"
#include "appcore/RunMetrics.h"
#include "core/UtcTime.h"
#include "logs/TaskLog.h"
#include "schedule/TaskRunner.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

using test::FakeClock;
using test::TempDir;

// The samples of a textfile as prometheus_client's parser (the system's python3, with the
// Debian package) reads them:
// {"metric name": {"task label": value}}; an "error" key when it refuses the text.
nlohmann::json ParseWithPrometheusClient(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 -c 'import json, sys\n"
      "from prometheus_client.parser import text_string_to_metric_families\n"
      "out = {}\n"
      "try:\n"
      "    for family in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
      "        for s in family.samples:\n"
      "            out.setdefault(s.name, {})[s.labels[\"task\"]] = s.value\n"
      "except Exception as e:\n"
      "    out = {\"error\": str(e)}\n"
      "print(json.dumps(out))' '" +
      path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {{"error", "python3 did not start"}};
  std::string text;
  char buffer[4096];
  while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
  ::pclose(pipe);
  return nlohmann::json::parse(text, nullptr, false);
}

std::int64_t Unix(const TaskDateTime& local) {
  std::tm fields = LocalTm(local);
  return static_cast<std::int64_t>(std::mktime(&fields));
}

class RunMetricsTest : public ::testing::Test {
 protected:
  RunMetricsTest() : m_core(m_folder.path(), m_clock) {
    m_core.Start();
    m_core.SetRunListener([this](const RunReport& report, bool) {
      std::lock_guard lock(m_lock);
      m_reports.push_back(report);
      m_changed.notify_all();
    });
  }
  ~RunMetricsTest() override { m_core.Shutdown(); }

  // Starts the runner with a routine that takes `seconds`, writes `bytes` to a file and
  // logs `errors` Error entries.
  void StartRunner() {
    TaskRoutineTable routines;
    routines[TaskType::ExecuteScript] = [this](TaskRunContext& context) {
      m_clock.Advance(m_seconds * 1000);
      const std::string file = m_folder.file("out-" + std::to_string(++m_runs) + ".sql");
      std::ofstream(file) << std::string(static_cast<std::size_t>(m_bytes), 'x');
      context.RecordFileWritten(file);
      for (int i = 0; i < m_errors; ++i) context.Log(LogLevel::Error, "Failed to execute");
      return RunOutcome::Finished;
    };
    ASSERT_EQ(m_core.StartRunner(routines), 0);
  }

  int AddTask(const std::string& name, std::size_t copies, const std::string& logFile) {
    CTaskItem task;
    task.TaskName = name;
    task.TaskType = static_cast<std::uint8_t>(TaskType::ExecuteScript);
    task.LogFileName = logFile;
    task.BackupHistory.resize(copies);
    return m_core.Tasks().AddTask(task);
  }

  RunReport Run(int index, int seconds, std::int64_t bytes, int errors) {
    m_seconds = seconds;
    m_bytes = bytes;
    m_errors = errors;
    const std::size_t before = m_reports.size();
    m_core.Tasks().Update(index, [](CTaskItem& live) { live.RunImmediately = 1; });
    m_core.Runner().LaunchTask(index);
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_reports.size() > before; });
    return m_reports.back();
  }

  TempDir m_folder;
  FakeClock m_clock{test::MakeTime(2026, 3, 7, 9, 5, 0)};
  CApplicationCore m_core;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<RunReport> m_reports;
  int m_seconds = 0;
  std::int64_t m_bytes = 0;
  int m_errors = 0;
  int m_runs = 0;  // the worker's own
};

TEST_F(RunMetricsTest, TheFileParsesAndHoldsTheRunsValues) {
  const std::string path = m_folder.file("brevanto.prom");
  m_core.SetMetricsFile(path);
  StartRunner();
  // A name the format must escape, and a task that never runs.
  const std::string odd = "Night \"A\" \\ 1";
  const int nightly = AddTask(odd, 2, "odd.log");
  AddTask("Weekly", 4, "weekly.log");

  const RunReport good = Run(nightly, 3, 1234, 0);
  const RunReport bad = Run(nightly, 5, 10, 1);
  ASSERT_TRUE(bad.Failed());

  const nlohmann::json samples = ParseWithPrometheusClient(path);
  ASSERT_TRUE(samples.is_object() && !samples.contains("error")) << samples.dump();
  EXPECT_EQ(samples["brevanto_task_last_run_timestamp_seconds"][odd], Unix(bad.End));
  EXPECT_EQ(samples["brevanto_task_last_success_timestamp_seconds"][odd], Unix(good.End));
  EXPECT_EQ(samples["brevanto_task_last_run_duration_seconds"][odd], 5);
  EXPECT_EQ(samples["brevanto_task_last_run_bytes_written"][odd], 10);
  EXPECT_EQ(samples["brevanto_task_last_run_success"][odd], 0);
  EXPECT_EQ(samples["brevanto_task_copies_kept"][odd], 2);
  EXPECT_EQ(samples["brevanto_task_copies_kept"]["Weekly"], 4);
  // A task that never ran has no run values, rather than a failure at 1970.
  EXPECT_FALSE(samples["brevanto_task_last_run_success"].contains("Weekly"));

  // node_exporter runs as a user of its own: the file is readable by all, and replaced
  // whole (no temporary file left beside it).
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  // The run records stay the program's own.
  ASSERT_EQ(::stat((m_core.DataFolder() + kRunRecordsFileName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // The records outlive the process: what --status reads.
  const RunRecords records = ReadRunRecords(m_core.DataFolder() + kRunRecordsFileName);
  ASSERT_EQ(records.count(odd), 1u);
  EXPECT_EQ(records.at(odd).LastSuccess, Unix(good.End));
  EXPECT_EQ(records.at(odd).DurationSeconds, 5);
  EXPECT_FALSE(records.at(odd).Succeeded);
}

TEST_F(RunMetricsTest, AMetricsFileThatCannotBeWrittenIsAWarningAndTheRunStands) {
  m_core.SetMetricsFile(m_folder.file("missing/brevanto.prom"));
  StartRunner();
  const int index = AddTask("Nightly", 0, "nightly.log");
  const RunReport report = Run(index, 1, 5, 0);
  EXPECT_FALSE(report.Failed());
  EXPECT_EQ(m_core.Tasks().LastResultAt(index).Kind, RunResultKind::Ok);
  std::vector<CTaskLogEntry> entries;
  m_core.TaskLog().ReadAll("nightly.log", entries);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().level, static_cast<std::uint8_t>(LogLevel::Warning));
  EXPECT_NE(entries.back().text.find("missing/brevanto.prom"), std::string::npos)
      << entries.back().text;
}

TEST(RunMetricsTextTest, OptionsKeepTheMetricsPathAndFilesWithoutItStayAsTheyWere) {
  CSystemOptions options;
  const std::string plain = SerializeOptions(options);
  options.MetricsFile = "/var/lib/node_exporter/brevanto.prom";
  const std::string with = SerializeOptions(options);
  EXPECT_EQ(with.substr(0, plain.size()), plain);
  CSystemOptions read;
  ASSERT_TRUE(ParseOptions(with, read));
  EXPECT_EQ(read, options);
  ASSERT_TRUE(ParseOptions(plain, read));
  EXPECT_EQ(read.MetricsFile, "");
}

}  // namespace
}  // namespace brevanto
