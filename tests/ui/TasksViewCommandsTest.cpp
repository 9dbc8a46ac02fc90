// The main window's task commands, with every question answered through the Dialogs hook.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QAction>
#include <QLineEdit>
#include <QWidget>

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "logs/TaskLog.h"
#include "schedule/TaskRunner.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/MainActions.h"
#include "ui/RenameTaskDialog.h"
#include "ui/TaskListModel.h"
#include "ui/TasksViewCommands.h"

namespace brevanto::ui {
namespace {

using test::CoreFixture;
using test::MakeTask;

class TasksViewCommandsTest : public testing::Test {
 protected:
  explicit TasksViewCommandsTest(Clock& clock = fakeClock) : fixture(clock) {}
  void SetUp() override { Dialogs::Script(); }
  void TearDown() override { Dialogs::Script(); }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const CTaskItem& task : Core().Tasks().Snapshot()) names.push_back(task.TaskName);
    return names;
  }
  CApplicationCore& Core() { return fixture.Core(); }
  void Select(std::initializer_list<int> rows) {
    view.ClearSelection();
    for (int row : rows) view.SelectRow(row, false);
  }
  std::vector<std::string> LogTexts(int row) {
    std::vector<CTaskLogEntry> entries;
    Core().TaskLog().ReadAll(Core().Tasks().At(row).LogFileName, entries);
    std::vector<std::string> texts;
    for (const CTaskLogEntry& e : entries) texts.push_back(e.text);
    return texts;
  }
  QStringList Shown() {
    QStringList texts;
    for (const ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts;
  }

  static inline test::FakeClock fakeClock{test::MakeTime(2024, 1, 1, 12, 0, 0)};
  CoreFixture fixture;
  QWidget window;
  FrameDialogs dialogs;
  CBrevantoTasksView view{Core().Tasks(), &Core().Runner(), &window};
  CTasksViewCommands commands{Core(), view, dialogs, &window};
};

TEST_F(TasksViewCommandsTest, DeleteRemovesExactlyTheSelectedRows) {
  for (const char* name : {"A", "B", "C", "D"}) fixture.Add(MakeTask(name));
  view.RefreshAll();
  const std::string logOfB = Core().TaskLog().PathOf(Core().Tasks().At(1).LogFileName);
  Select({1, 3});

  Dialogs::QueueAnswer(Answer::Cancel);
  commands.DeleteTasks();
  EXPECT_EQ(Names(), (std::vector<std::string>{"A", "B", "C", "D"}));

  Dialogs::QueueAnswer(Answer::Yes);
  commands.DeleteTasks();
  EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(view.Model()->rowCount(), 2);
  EXPECT_FALSE(FileExists(logOfB));
  EXPECT_TRUE(FileExists(Core().TaskFilePath()));
  EXPECT_EQ(
      Shown(),
      QStringList({"Do you want to DELETE the task(s) now?\n\nThe task(s) will be stopped.",
                   "Do you want to DELETE the task(s) now?\n\nThe task(s) will be stopped."}));
}

TEST_F(TasksViewCommandsTest, CopySelectsTheNewStoppedCopies) {
  fixture.Add(MakeTask("Sales", ScheduleKind::EveryDay));
  fixture.Add(MakeTask("Other"));
  view.RefreshAll();
  Select({0});
  Dialogs::QueueAnswer(Answer::Yes);
  commands.CopyTasks();
  ASSERT_EQ(Names(), (std::vector<std::string>{"Sales", "Other", "Sales_Copy"}));
  EXPECT_EQ(Core().Tasks().At(2).GetStatus(), TaskStatus::Stop);
  EXPECT_EQ(LogTexts(2), std::vector<std::string>{"Create task by Copy"});
  EXPECT_EQ(view.SelectedRows(), QList<int>({2}));
  EXPECT_EQ(Shown(), QStringList({"Do you want to create 1 task(s) by copies?"}));
}

TEST_F(TasksViewCommandsTest, RenameRefusesEmptyAndTakenNames) {
  fixture.Add(MakeTask("Sales"));
  fixture.Add(MakeTask("Orders"));
  auto taken = [](const QString& name) { return name == "Orders"; };
  struct Case {
    QString typed;
    bool accepted;
    QString warning;
  };
  const Case cases[] = {
      {"", false, "Please input task name!"},
      {"Orders", false, "The task name is already existed!\nPlease choose a different task name."},
      {"orders", true, ""},
      {"Sales", true, ""},
      {"  spaced  ", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    RenameTaskDialog dialog("Sales", taken);
    dialog.NameField()->setText(c.typed);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    EXPECT_EQ(Shown(), c.warning.isEmpty() ? QStringList() : QStringList({c.warning}));
    if (c.accepted) {
      EXPECT_EQ(dialog.Name(), c.typed);
    }
  }
}

TEST_F(TasksViewCommandsTest, CommandsNeedingOneTaskSayWhenNoneIsChosen) {
  fixture.Add(MakeTask("Sales"));
  view.RefreshAll();
  commands.ViewLog();
  commands.RenameTask();
  EXPECT_EQ(Shown(), QStringList({"Please choose a task!", "Please choose a task!"}));
}

TEST_F(TasksViewCommandsTest, SaveAsAndLoadFromRoundTrip) {
  fixture.Add(MakeTask("Sales"));
  fixture.Add(MakeTask("Orders"));
  view.RefreshAll();
  const QString path = QString::fromStdString(fixture.Folder() + "copy.tsk");
  Dialogs::QueueFileName(path);
  commands.SaveAs();
  EXPECT_EQ(Shown(),
            QStringList({"Tasks Files(*.tsk)", "Save the task list to a task file successfully!"}));

  Select({0});
  Dialogs::QueueAnswer(Answer::Yes);
  commands.DeleteTasks();
  ASSERT_EQ(Names(), std::vector<std::string>{"Orders"});
  Shown();

  Dialogs::QueueFileName(path);
  Dialogs::QueueAnswer(Answer::Yes);
  commands.LoadFrom();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Sales", "Orders"}));
  EXPECT_EQ(view.Model()->rowCount(), 2);
  EXPECT_TRUE(view.RefreshRunning());
  const QStringList shown = Shown();
  ASSERT_EQ(shown.size(), 3);
  EXPECT_EQ(shown[2], "Load the task list from the file successfully!");
}

TEST_F(TasksViewCommandsTest, CommandStatesFollowSelectionAndPluggedDialogs) {
  fixture.Add(MakeTask("Manual"));
  fixture.Add(MakeTask("Daily", ScheduleKind::EveryDay));
  view.RefreshAll();
  MainActions actions(&window);

  Select({0});
  commands.UpdateActions(actions);
  EXPECT_FALSE(actions.start->isEnabled()) << "a Manual task cannot be started";
  EXPECT_FALSE(actions.stop->isEnabled());
  EXPECT_TRUE(actions.runNow->isEnabled());
  EXPECT_TRUE(actions.renameTask->isEnabled());
  EXPECT_FALSE(actions.editTask->isEnabled()) << "no edit sheet is plugged in";
  EXPECT_FALSE(actions.newTask->isEnabled());
  EXPECT_TRUE(actions.startAll->isEnabled());

  Select({0, 1});
  commands.UpdateActions(actions);
  EXPECT_TRUE(actions.start->isEnabled());
  EXPECT_FALSE(actions.renameTask->isEnabled());
  EXPECT_TRUE(actions.deleteTasks->isEnabled());

  dialogs.editTask = [](QWidget*, CTaskItem&) { return false; };
  Select({1});
  commands.UpdateActions(actions);
  EXPECT_TRUE(actions.editTask->isEnabled());
}

// A routine that runs until it is asked to stop.
class RunningTaskTest : public TasksViewCommandsTest {
 protected:
  RunningTaskTest() : TasksViewCommandsTest(SystemClock()) {}
  void StartRunner() {
    TaskRoutineTable routines;
    routines[TaskType::BackupToFiles] = [this](TaskRunContext& context) {
      running = true;
      while (!context.StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      running = false;
      return RunOutcome::Canceled;
    };
    ASSERT_EQ(Core().StartRunner(routines), 0);
  }
  std::atomic<bool> running{false};
};

TEST_F(RunningTaskTest, StopAsksBeforeStoppingARunningTask) {
  fixture.Add(MakeTask("Busy"));
  fixture.Add(MakeTask("Idle"));
  view.RefreshAll();
  StartRunner();
  Select({0});
  Dialogs::QueueAnswer(Answer::Yes);
  commands.RunImmediately();
  ASSERT_TRUE(
      test::WaitUntil([&] { return Core().Tasks().At(0).GetStatus() == TaskStatus::Running; }));
  EXPECT_EQ(Shown(), QStringList({"Do you want to RUN the task (Busy) immediately?"}));

  Select({0, 1});
  Dialogs::QueueAnswer(Answer::No);
  commands.Stop();
  EXPECT_EQ(Core().Tasks().At(0).GetStatus(), TaskStatus::Running);
  EXPECT_EQ(Shown(), QStringList({"Do you want to STOP the task (Busy -- Running) now?"}))
      << "only the running task is asked about";

  Dialogs::QueueAnswer(Answer::Yes);
  commands.Stop();  // returns at once: the row says so until the worker has ended
  EXPECT_EQ(Core().Tasks().At(0).GetStatus(), TaskStatus::Stop);
  ASSERT_TRUE(test::WaitUntil([&] { return !Core().Runner().HasWorker(0); }));
  EXPECT_FALSE(running);
  Core().Runner().FinishStops();
  view.RefreshAll();
  const std::vector<std::string> log = LogTexts(0);
  EXPECT_NE(std::find(log.begin(), log.end(), "Stop task"), log.end());
  EXPECT_EQ(log.back(), "User canceled!");
  EXPECT_EQ(view.Model()->index(0, 1).data().toString(), "Stop");
}

}  // namespace
}  // namespace brevanto::ui
