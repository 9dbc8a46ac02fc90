#pragma once
// A runner owner and a task list over a temporary folder and a simulated clock, with
// routines a test shapes: one that counts runs, one that waits for a stop request, one
// that ignores it until its connections are cancelled.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "logs/TaskLog.h"
#include "schedule/TaskCommands.h"
#include "schedule/TaskRunner.h"
#include "schedule/TaskRunnerOwner.h"
#include "tasks/TaskList.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto::test {

// Waits in real time for a condition another thread makes true.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 2000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// A one-shot gate between threads.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(m_lock);
    m_open = true;
    m_changed.notify_all();
  }
  bool IsOpen() {
    std::lock_guard lock(m_lock);
    return m_open;
  }
  void Wait() {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_open; });
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  bool m_open = false;
};

class FakeOwner final : public TaskRunnerOwner {
 public:
  FakeOwner(CTaskLog& log, std::string taskFile) : m_log(log), m_taskFile(std::move(taskFile)) {}

  void SetList(CTaskList* list) { m_list = list; }
  void SetRoutine(TaskType type, TaskRoutine routine) { m_routines[type] = std::move(routine); }

  CTaskLog& TaskLog() override { return m_log; }
  bool LimitLogSize() override {
    if (ThrowAtRunStart) throw std::runtime_error("options gone");
    return false;
  }
  std::int64_t MaxLogSizeKB() override { return 0; }
  bool SaveTasks() override {
    if (BeforeSave) BeforeSave();
    ++Saves;
    return !FailSaves && m_list != nullptr && m_list->SaveTaskFile(m_taskFile);
  }
  const TaskRoutine* RoutineFor(TaskType type) override {
    auto found = m_routines.find(type);
    return found == m_routines.end() ? nullptr : &found->second;
  }
  void RunEnded(const RunReport& report) override {
    if (OnRunEnded) OnRunEnded(report);
  }

  std::atomic<int> Saves{0};
  // Every save fails, as on a full disk or an immutable task file, without touching the file.
  std::atomic<bool> FailSaves{false};
  // Runs on the saving thread before each save: a test holds a save back with it.
  std::function<void()> BeforeSave;
  // Told at every run's end, on the worker's thread. Set before the runner starts.
  std::function<void(const RunReport&)> OnRunEnded;
  // The options throw when a run starts and reads the log size limit.
  std::atomic<bool> ThrowAtRunStart{false};

 private:
  CTaskLog& m_log;
  std::string m_taskFile;
  CTaskList* m_list = nullptr;
  std::map<TaskType, TaskRoutine> m_routines;  // set before the runner starts
};

class RunnerFixture : public ::testing::Test {
 protected:
  RunnerFixture() {
    m_owner.SetList(&m_list);
    // Counts its runs and logs one line of work.
    m_owner.SetRoutine(TaskType::BackupToServer, [this](TaskRunContext& run) {
      run.Log(LogLevel::General, "work");
      ++m_runs;
      return RunOutcome::Finished;
    });
    // Runs until a stop request, as an engine's checkpoints do.
    m_owner.SetRoutine(TaskType::RestoreFromServer, [this](TaskRunContext& run) {
      m_running.Open();
      while (!run.StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return RunOutcome::Canceled;
    });
    // Stuck in the server: ignores stop requests until its connection is cancelled.
    m_owner.SetRoutine(TaskType::RestoreFromDatabase, [this](TaskRunContext& run) {
      run.SetCancelHook([this] { m_cancelled.Open(); });
      m_running.Open();
      m_cancelled.Wait();
      m_returned.Open();
      return RunOutcome::Finished;
    });
  }

  ~RunnerFixture() override {
    m_cancelled.Open();  // never leave a stuck routine behind
  }

  // Adds a task of `type` with its own log; returns its index.
  int Add(const std::string& name, ScheduleKind kind, TaskType type = TaskType::BackupToServer,
          int hour = 23, int minute = 0) {
    CTaskItem task;
    task.TaskName = name;
    task.TaskType = static_cast<std::uint8_t>(type);
    task.Schedule.Kind = static_cast<std::uint8_t>(kind);
    task.Schedule.Hour = hour;
    task.Schedule.Minute = minute;
    task.LogFileName = name + ".log";
    return m_list.AddTask(task);
  }

  std::vector<std::string> Entries(int index) {
    std::vector<CTaskLogEntry> entries;
    m_log.ReadAll(m_list.At(index).LogFileName, entries);
    std::vector<std::string> texts;
    for (const CTaskLogEntry& entry : entries) texts.push_back(entry.text);
    return texts;
  }

  TaskStatus StatusOf(int index) { return m_list.At(index).GetStatus(); }

  // Answers every question with `m_answer` and records it.
  Answer Ask(const std::string& text, QuestionButtons) {
    m_questions.push_back(text);
    return m_answer;
  }

  TempDir m_dir;
  FakeClock m_clock{MakeTime(2024, 3, 5, 8, 0, 0)};
  CTaskLog m_log{m_dir.path() + "Logs/", m_clock};
  FakeOwner m_owner{m_log, m_dir.file("tasks_se.tsk")};
  std::atomic<int> m_runs{0};
  Gate m_running, m_cancelled, m_returned;
  Answer m_answer = Answer::Yes;
  std::vector<std::string> m_questions;
  CTaskList m_list{m_clock};
  TaskRunner m_runner{m_list};  // after what its workers use: its destructor stops them first
  CTaskCommands m_commands{
      m_runner, m_log, m_owner,
      [this](const std::string& text, QuestionButtons buttons) { return Ask(text, buttons); }};
};

}  // namespace brevanto::test
