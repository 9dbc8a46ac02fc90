#include "tasks/TaskList.h"

#include <gtest/gtest.h>

#include <thread>

#include "tasks/TaskFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

namespace brevanto {
namespace {

CTaskItem Named(const std::string& name) {
  CTaskItem task;
  task.TaskName = name;
  return task;
}

class TaskListBasicsTest : public ::testing::Test {
 protected:
  test::FakeClock m_clock{test::MakeTime(2006, 3, 5, 9, 7, 2)};
  CTaskList m_list{m_clock};
};

TEST_F(TaskListBasicsTest, IndicesOutsideTheListGiveDefaultsAndChangeNothing) {
  m_list.AddTask(Named("a"));
  for (int index : {-1, 1}) {
    SCOPED_TRACE(index);
    CTaskItem task = m_list.At(index);
    EXPECT_EQ(task, CTaskItem());
    EXPECT_EQ(task.TaskType, 1);
    EXPECT_EQ(task.GetStatus(), TaskStatus::Stop);
    EXPECT_EQ(task.SourceServer.Host, "localhost");
    EXPECT_EQ(task.SourceServer.Port, 3306u);
    EXPECT_EQ(task.SourceServer.UserName, "root");
    EXPECT_EQ(task.Schedule.IntervalMinutes, 30);
    m_list.Replace(index, Named("x"));
    m_list.RemoveAt(index);
    EXPECT_EQ(m_list.SlotAt(index), nullptr);
  }
  EXPECT_EQ(m_list.Count(), 1);
  EXPECT_EQ(m_list.At(0).TaskName, "a");
}

TEST_F(TaskListBasicsTest, AddTaskGivesAFreshKeyAndClearsRunImmediately) {
  CTaskItem task = Named("a");
  task.TaskKey = "old";
  task.RunImmediately = 1;
  EXPECT_EQ(m_list.AddTask(task), 0);
  EXPECT_EQ(m_list.AddTask(task), 1);
  EXPECT_EQ(m_list.AddTask(task), 2);
  EXPECT_EQ(m_list.At(0).TaskKey, "2006359720");
  EXPECT_EQ(m_list.At(2).TaskKey, "2006359722");
  EXPECT_EQ(m_list.At(2).RunImmediately, 0);

  CTaskItem edited = Named("b");
  edited.TaskKey = "other";
  m_list.Replace(1, edited);
  EXPECT_EQ(m_list.At(1).TaskName, "b");
  EXPECT_EQ(m_list.At(1).TaskKey, "2006359721");
}

TEST_F(TaskListBasicsTest, NamesProposedAndFound) {
  EXPECT_EQ(m_list.ProposeTaskName(), "Task 1");
  for (const char* name : {"Task 4", "task 1", "Backup"}) m_list.AddTask(Named(name));
  EXPECT_EQ(m_list.ProposeTaskName(), "Task 4");  // even though it is taken
  EXPECT_EQ(m_list.FindByName("Task 4"), 0);
  EXPECT_EQ(m_list.FindByName("Task 1"), -1);  // exact bytes
  EXPECT_EQ(m_list.FindByName("Backup"), 2);

  m_list.RemoveAt(0);
  EXPECT_EQ(m_list.At(0).TaskName, "task 1");
  EXPECT_EQ(m_list.Snapshot().size(), 2u);
  m_list.RemoveAll();
  EXPECT_EQ(m_list.Count(), 0);
}

TEST_F(TaskListBasicsTest, SavesFromManyThreadsAlwaysLeaveACompleteFile) {
  test::TempDir dir;
  const std::string path = dir.file("tasks_se.tsk");
  for (int i = 0; i < 5; ++i) m_list.AddTask(Named("task " + std::to_string(i)));
  std::vector<std::thread> savers;
  for (int t = 0; t < 3; ++t) {
    savers.emplace_back([&] {
      for (int i = 0; i < 20; ++i) EXPECT_TRUE(m_list.SaveTaskFile(path));
    });
  }
  for (int i = 0; i < 200; ++i) {
    m_list.Update(i % 5, [&](CTaskItem& task) { task.Comment = std::string(static_cast<std::size_t>(i), 'c'); });
  }
  for (auto& saver : savers) saver.join();
  ASSERT_TRUE(m_list.SaveTaskFile(path));
  std::vector<CTaskItem> loaded;
  ASSERT_EQ(ReadTaskFile(path, loaded), TaskFileReadResult::Loaded);
  ASSERT_EQ(loaded.size(), 5u);
  EXPECT_EQ(loaded[4].Comment, std::string(199, 'c'));

  m_list.RemoveAll();
  ASSERT_TRUE(m_list.SaveTaskFile(path));  // an empty list is no file
  EXPECT_EQ(ReadTaskFile(path, loaded), TaskFileReadResult::Failure);
}

}  // namespace
}  // namespace brevanto
