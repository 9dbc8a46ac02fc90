#include "schedule/TaskCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tasks/BackupFileName.h"
#include "tests/schedule/RunnerFixture.h"

namespace brevanto {
namespace {

using test::Eventually;
using test::MakeTime;
using Texts = std::vector<std::string>;

class TaskCommandsTest : public test::RunnerFixture {
 protected:
  void SetUp() override { ASSERT_EQ(m_runner.Start(&m_owner), 0); }

  CTaskItem NewTask(const std::string& name, ScheduleKind kind) {
    CTaskItem task;
    task.TaskName = name;
    task.TaskType = static_cast<std::uint8_t>(TaskType::BackupToServer);
    task.Schedule.Kind = static_cast<std::uint8_t>(kind);
    task.Schedule.Hour = 23;
    return task;
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const CTaskItem& task : m_list.Snapshot()) names.push_back(task.TaskName);
    return names;
  }
};

TEST_F(TaskCommandsTest, CreatingAScheduledTaskLogsSavesAndLaunchesIt) {
  const int index = m_commands.CreateTask(NewTask("Nightly: sales", ScheduleKind::EveryDay));
  const CTaskItem task = m_list.At(index);
  EXPECT_EQ(task.LogFileName, "Nightly sales_202435800.log");
  EXPECT_EQ(task.CreatedTime, MakeTime(2024, 3, 5, 8, 0, 0));
  EXPECT_EQ(Entries(index), Texts{"Create task"});
  EXPECT_GE(m_owner.Saves, 1);
  EXPECT_TRUE(m_runner.HasWorker(index));
  ASSERT_TRUE(m_clock.WaitForSleepers(1));
  EXPECT_EQ(StatusOf(index), TaskStatus::Waiting);
  EXPECT_TRUE(m_questions.empty());
}

TEST_F(TaskCommandsTest, CreatingAManualTaskOffersARunNow) {
  m_answer = Answer::No;
  const int declined = m_commands.CreateTask(NewTask("once", ScheduleKind::Manual));
  EXPECT_EQ(m_questions, Texts{"Do you want to RUN the task (once) immediatelly?"});
  EXPECT_FALSE(m_runner.HasWorker(declined));
  EXPECT_EQ(StatusOf(declined), TaskStatus::Stop);

  m_answer = Answer::Yes;
  const int accepted = m_commands.CreateTask(NewTask("now", ScheduleKind::Manual));
  ASSERT_TRUE(Eventually([&] { return m_runs == 1 && !m_runner.HasWorker(accepted); }));
  EXPECT_EQ(Entries(accepted), (Texts{"Create task", "Running...", "work", "Finished"}));
}

// The stamp has no separators and copies can be made within one second: without care two
// tasks would share one log, and deleting one would delete the other's history.
TEST_F(TaskCommandsTest, EveryTaskGetsALogOfItsOwn) {
  m_commands.CreateTask(NewTask("Nightly", ScheduleKind::Manual));
  m_answer = Answer::Yes;
  std::vector<int> first = m_commands.CopyTasks({0});
  std::vector<int> second = m_commands.CopyTasks({0});
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  const CTaskItem a = m_list.At(first[0]);
  const CTaskItem b = m_list.At(second[0]);
  EXPECT_EQ(a.TaskName, "Nightly_Copy");
  EXPECT_EQ(b.TaskName, "Nightly_Copy");
  EXPECT_EQ(a.LogFileName, "Nightly_Copy_202435800.log");
  EXPECT_NE(a.LogFileName, b.LogFileName);
  EXPECT_EQ(Entries(first[0]), Texts{"Create task by Copy"});
  EXPECT_EQ(Entries(second[0]), Texts{"Create task by Copy"});
}

// An import makes thousands of tasks: one save for all, and no log before the save, so
// that an import cut short leaves no log without its task.
TEST_F(TaskCommandsTest, CreatingManyTasksSavesOnceAndMakesTheLogsAfter) {
  const auto logs = [this] {
    std::error_code error;
    return std::distance(std::filesystem::directory_iterator(m_dir.path() + "Logs/", error),
                         std::filesystem::directory_iterator());
  };
  long logsAtSave = -1;
  m_owner.BeforeSave = [&] { logsAtSave = logs(); };
  m_answer = Answer::No;
  const std::vector<int> added = m_commands.CreateTasks(
      {NewTask("Same", ScheduleKind::Manual), NewTask("Same", ScheduleKind::EveryDay)});
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(m_owner.Saves, 1);
  EXPECT_EQ(logsAtSave, 0);
  EXPECT_EQ(logs(), 2);
  EXPECT_EQ(m_list.At(added[0]).LogFileName, "Same_202435800.log");
  EXPECT_EQ(m_list.At(added[1]).LogFileName, "Same_202435800_2.log");
  for (const int index : added) EXPECT_EQ(Entries(index), Texts{"Create task"});
  EXPECT_EQ(m_questions, Texts{"Do you want to RUN the task (Same) immediatelly?"});
  EXPECT_TRUE(m_runner.HasWorker(added[1]));
  // The tasks keep their lack of advanced options, as the text had it.
  EXPECT_EQ(m_list.At(added[0]).OptionSections, "");

  // A save that fails makes no log at all.
  m_owner.SetList(nullptr);
  EXPECT_TRUE(m_commands.CreateTasks({NewTask("Unsaved", ScheduleKind::Manual)}).empty());
  EXPECT_EQ(logs(), 2);
  m_owner.SetList(&m_list);
}

TEST_F(TaskCommandsTest, CopiesAreStoppedAndDoNotInheritBackupCopies) {
  CTaskItem source = NewTask("Nightly", ScheduleKind::EveryDay);
  source.BackupHistory.push_back(BackupCopy{{2024, 1, 1, 0, 0, 0}, 2, 1, 0, "", {"/b/x.sql"}});
  m_commands.CreateTask(source);
  m_answer = Answer::Cancel;
  EXPECT_TRUE(m_commands.CopyTasks({0}).empty());
  EXPECT_EQ(m_questions.back(), "Do you want to create 1 task(s) by copies?");
  m_answer = Answer::Yes;
  std::vector<int> added = m_commands.CopyTasks({0, 7});
  ASSERT_EQ(added, std::vector<int>{1});
  EXPECT_TRUE(m_list.At(1).BackupHistory.empty());
  EXPECT_EQ(m_list.At(0).BackupHistory.size(), 1u);
  EXPECT_EQ(StatusOf(1), TaskStatus::Stop);
  EXPECT_FALSE(m_runner.HasWorker(1));
}

TEST_F(TaskCommandsTest, EditingIsRefusedUnlessStoppedAndKeepsTheLog) {
  const int index = m_commands.CreateTask(NewTask("daily", ScheduleKind::EveryDay));
  CTaskItem edited = m_list.At(index);
  edited.Comment = "changed";
  edited.LogFileName = "elsewhere.log";
  EXPECT_FALSE(m_commands.ApplyEdit(index, edited));  // it is waiting
  m_commands.Stop({index});
  ASSERT_TRUE(m_commands.ApplyEdit(index, edited));
  const CTaskItem task = m_list.At(index);
  EXPECT_EQ(task.Comment, "changed");
  EXPECT_EQ(task.LogFileName, "daily_202435800.log");
  EXPECT_TRUE(m_runner.HasWorker(index));  // scheduled: launched again
  EXPECT_EQ(Entries(index), (Texts{"Create task", "Stop task", "Edit task"}));
}

// Replacing many tasks saves the task file once; a save that fails, or a task that is
// not stopped, leaves every task as it was, unlogged and not launched.
TEST_F(TaskCommandsTest, ReplacingManyTasksSavesOnceOrChangesNothing) {
  m_answer = Answer::No;
  const std::vector<int> added = m_commands.CreateTasks(
      {NewTask("one", ScheduleKind::Manual), NewTask("two", ScheduleKind::EveryDay)});
  ASSERT_EQ(added.size(), 2u);
  const auto edits = [&] {
    std::vector<TaskEdit> result;
    for (const int index : added) {
      CTaskItem edited = m_list.At(index);
      edited.Comment = "changed";
      edited.LogFileName = "elsewhere.log";
      result.push_back({index, edited});
    }
    return result;
  };
  const auto unchanged = [&] {
    for (const int index : added) {
      SCOPED_TRACE(index);
      EXPECT_EQ(m_list.At(index).Comment, "");
      const Texts entries = Entries(index);
      EXPECT_EQ(std::count(entries.begin(), entries.end(), "Edit task"), 0);
    }
  };
  EXPECT_EQ(m_commands.ApplyEdits(edits()), EditsResult::NotStopped);  // "two" is waiting
  unchanged();
  m_commands.Stop({added[1]});

  const int savesBefore = m_owner.Saves;
  m_owner.FailSaves = true;
  EXPECT_EQ(m_commands.ApplyEdits(edits()), EditsResult::NotSaved);
  EXPECT_EQ(m_owner.Saves, savesBefore + 1);
  unchanged();
  EXPECT_FALSE(m_runner.HasWorker(added[1]));

  m_owner.FailSaves = false;
  EXPECT_EQ(m_commands.ApplyEdits(edits()), EditsResult::Applied);
  EXPECT_EQ(m_owner.Saves, savesBefore + 2);
  for (const int index : added) {
    SCOPED_TRACE(index);
    EXPECT_EQ(m_list.At(index).Comment, "changed");
    EXPECT_NE(m_list.At(index).LogFileName, "elsewhere.log");
    EXPECT_EQ(Entries(index).back(), "Edit task");
  }
  EXPECT_EQ(StatusOf(added[0]), TaskStatus::Stop);
  EXPECT_TRUE(m_runner.HasWorker(added[1]));  // scheduled: launched again
}

TEST_F(TaskCommandsTest, DeletingStopsTasksAndRemovesThemWithTheirLogs) {
  m_answer = Answer::No;
  for (const char* name : {"a", "b", "c", "d"}) {
    m_commands.CreateTask(NewTask(name, name[0] == 'c' ? ScheduleKind::EveryDay : ScheduleKind::Manual));
  }
  ASSERT_EQ(m_questions.size(), 3u);
  EXPECT_FALSE(m_commands.DeleteTasks({0, 2}));
  EXPECT_EQ(m_questions.back(), "Do you want to DELETE the task(s) now?\n\nThe task(s) will be stopped.");
  EXPECT_EQ(m_list.Count(), 4);

  const std::string logA = m_list.At(0).LogFileName;
  const std::string logB = m_list.At(1).LogFileName;
  m_answer = Answer::Yes;
  ASSERT_TRUE(m_commands.DeleteTasks({0, 2}));
  EXPECT_EQ(Names(), (Texts{"b", "d"}));
  EXPECT_FALSE(m_log.Exists(logA));
  EXPECT_TRUE(m_log.Exists(logB));
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_FALSE(m_runner.HasWorker(1));

  ASSERT_TRUE(m_commands.DeleteAll());
  EXPECT_EQ(m_questions.back(), "Do you want to DELETE ALL tasks now?");
  EXPECT_EQ(m_list.Count(), 0);
  EXPECT_FALSE(m_log.Exists(logB));
}

TEST_F(TaskCommandsTest, StartAndStopAllTouchOnlyTheTasksTheyConcern) {
  m_answer = Answer::No;
  m_commands.CreateTask(NewTask("manual", ScheduleKind::Manual));
  m_commands.CreateTask(NewTask("daily", ScheduleKind::EveryDay));
  EXPECT_TRUE(m_commands.CanStopAll());
  EXPECT_FALSE(m_commands.CanStartAll());

  m_answer = Answer::Yes;
  ASSERT_TRUE(m_commands.StopAll());
  EXPECT_EQ(m_questions.back(), "Do you want to STOP ALL tasks now?");
  EXPECT_EQ(StatusOf(1), TaskStatus::Stop);
  EXPECT_EQ(Entries(0), Texts{"Create task"});
  EXPECT_EQ(Entries(1), (Texts{"Create task", "Stop task"}));
  EXPECT_TRUE(m_commands.CanStartAll());
  EXPECT_FALSE(m_commands.CanStopAll());

  m_commands.Start({0});  // manual: nothing
  EXPECT_FALSE(m_runner.HasWorker(0));
  m_answer = Answer::No;
  EXPECT_FALSE(m_commands.StartAll());
  EXPECT_EQ(m_questions.back(), "Do you want to START ALL automatization tasks now?");
  EXPECT_FALSE(m_runner.HasWorker(1));
  m_answer = Answer::Yes;
  ASSERT_TRUE(m_commands.StartAll());
  EXPECT_FALSE(m_runner.HasWorker(0));
  EXPECT_TRUE(m_runner.HasWorker(1));
  EXPECT_EQ(Entries(1), (Texts{"Create task", "Stop task", "Start task"}));
}

// The window says at once when a change it made is not in the task file.
TEST_F(TaskCommandsTest, ACreateEditOrDeleteThatCannotBeSavedSaysSo) {
  Texts told;
  m_commands.TellSaveFailures([&](const std::string& text) { told.push_back(text); });
  m_answer = Answer::No;  // no run now
  const int index = m_commands.CreateTask(NewTask("kept", ScheduleKind::Manual));
  EXPECT_TRUE(told.empty());
  m_owner.FailSaves = true;
  m_commands.CreateTask(NewTask("unsaved", ScheduleKind::Manual));
  EXPECT_TRUE(m_commands.ApplyEdit(index, m_list.At(index)));
  m_answer = Answer::Yes;
  EXPECT_TRUE(m_commands.DeleteTasks({index}));
  EXPECT_EQ(told, Texts(3, kTaskListNotSaved));
  EXPECT_EQ(Names(), Texts{"unsaved"});  // the list keeps every change for the next save
}

}  // namespace
}  // namespace brevanto
