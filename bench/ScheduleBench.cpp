// What waiting costs: one poll of a waiting worker (IsDue plus UpdateNextRunTime) for each
// schedule kind, and the CPU share of a process whose runner keeps 200 tasks waiting.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/Calendar.h"
#include "schedule/Schedule.h"
#include "schedule/TaskRunner.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskList.h"

namespace brevanto {
namespace {

CTaskItem WaitingTask(ScheduleKind kind) {
  CTaskItem task;
  task.SetStatus(TaskStatus::Waiting);
  task.Schedule.Kind = static_cast<std::uint8_t>(kind);
  task.Schedule.Hour = 3;
  task.Schedule.Minute = 15;
  task.Schedule.WeekDays[3] = 1;
  task.Schedule.MonthDays[30] = 1;  // day 31 only: the longest month walk
  task.Schedule.SpecialYear = 2001;
  task.Schedule.SpecialMonth = 1;
  task.Schedule.SpecialDay = 1;
  task.Schedule.RepeatEveryDays = 997;
  task.Schedule.IntervalMinutes = 45;
  task.WorkerStartTime = TaskDateTime{2024, 1, 30, 9, 0, 20, 3};
  task.LastRunTime = TaskDateTime{2024, 1, 31, 3, 15, 0, 4};
  return task;
}

// One poll per iteration, the moment moving 100 ms (here: one second every ten polls)
// from the first of February, so the month walk runs its full length to 31 March.
void BM_PollWaitingTask(benchmark::State& state) {
  CTaskItem task = WaitingTask(static_cast<ScheduleKind>(state.range(0)));
  const std::int64_t start = *WallSeconds(TaskDateTime{2024, 2, 1, 12, 0, 0, 5});
  std::int64_t poll = 0;
  for (auto _ : state) {
    const TaskDateTime now = FromWallSeconds(start + (poll++ / 10) % 3600);
    benchmark::DoNotOptimize(IsDue(task, now));
    UpdateNextRunTime(task, now);
    benchmark::DoNotOptimize(task.NextRunTime);
  }
  state.SetLabel(std::to_string(state.range(0)));
}
BENCHMARK(BM_PollWaitingTask)->DenseRange(1, 5)->ArgName("kind");

class QuietOwner final : public TaskRunnerOwner {
 public:
  explicit QuietOwner(CTaskLog& log) : m_log(log) {}
  CTaskLog& TaskLog() override { return m_log; }
  bool LimitLogSize() override { return false; }
  std::int64_t MaxLogSizeKB() override { return 0; }
  bool SaveTasks() override { return true; }
  const TaskRoutine* RoutineFor(TaskType) override { return nullptr; }

 private:
  CTaskLog& m_log;
};

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// 200 workers poll every 100 ms in real time; the counter is the process's CPU use over
// the measured seconds as a percentage of one core.
void BM_TwoHundredWaitingTasks(benchmark::State& state) {
  char folder[] = "/tmp/brevanto-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("cannot create a temporary folder");
    return;
  }
  CTaskLog log(std::string(folder) + "/Logs/", SystemClock());
  QuietOwner owner(log);
  CTaskList list(SystemClock());
  TaskRunner runner(list);
  const TaskDateTime now = SystemClock().Now();
  for (int i = 0; i < 200; ++i) {
    CTaskItem task = WaitingTask(static_cast<ScheduleKind>(1 + i % 4));
    task.SetStatus(TaskStatus::Stop);
    task.Schedule.Hour = (now.Hour + 12) % 24;  // never due while measured
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    list.AddTask(task);
  }
  runner.Start(&owner);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // all workers waiting
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(state.range(0)));
    cpu += ProcessCpuSeconds() - cpuBefore;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  }
  runner.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
  state.counters["polls_per_second"] = 200 * 10;
}
BENCHMARK(BM_TwoHundredWaitingTasks)->Arg(10)->ArgName("seconds")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brevanto

BENCHMARK_MAIN();
