// The main window's own flows: start-up states, show with a login, the notification
// menu, the quit flow and its save order.

#include <algorithm>

#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "core/AtomicFile.h"
#include "tasks/TaskFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/ui/UiFixture.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/MainActions.h"
#include "ui/MainFrame.h"
#include "ui/TrayIcon.h"

namespace brevanto::ui {
namespace {

using test::MakeTask;

class MainFrameTest : public testing::Test {
 protected:
  void SetUp() override { Dialogs::Script(); }

  QStringList TrayMenuTexts(CMainFrame& frame) {
    QStringList texts;
    for (QAction* action : frame.Tray()->Icon()->contextMenu()->actions()) {
      if (!action->isSeparator()) texts << action->text();
    }
    return texts;
  }

  test::FakeClock clock{test::MakeTime(2006, 1, 5, 12, 30, 15)};
  test::CoreFixture fixture{clock};
};

// A menu as the user reads it: each item's caption with its accelerator after a tab, "-"
// for a separator, and a submenu by its title.
QStringList MenuTexts(const QMenu* menu) {
  QStringList texts;
  for (const QAction* action : menu->actions()) {
    if (action->isSeparator()) {
      texts << "-";
      continue;
    }
    QString text = action->text();
    if (!action->shortcut().isEmpty())
      text += "\t" + action->shortcut().toString(QKeySequence::NativeText);
    texts << text;
  }
  return texts;
}

TEST_F(MainFrameTest, MenusReadAsTheProgramWordsThem) {
  CMainFrame frame(fixture.Core(), FrameDialogs());
  const QList<QPair<QString, QStringList>> expected = {
      {"&Tasks",
       {"&New Task...\tCtrl+N", "&Edit Task...", "&Delete Task(s)\tDel", "Delete All",
        "&Copy Task(s)", "Rena&me Task\tF2", "-", "View &Log...", "-", "Save &As...\tCtrl+S",
        "Load &From...\tCtrl+L", "-", "&Properties", "-", "Restore &Off-site Copy...", "-",
        "E&xit\tCtrl+Q"}},
      {"&Run",
       {"&Start", "S&top", "&Run Immediately\tF5", "-", "Start All", "Stop All", "-",
        "Select All\tCtrl+A"}},
      {"Too&ls", {"&MySQL Servers...", "-", "&Options...\tCtrl+O"}},
      {"&View", {"Lar&ge Icons", "&Small Icons", "&List", "&Details"}},
      {"&Help",
       {"&User Manual      \tF1", "-", "Ti&p of the Day", "-", "&Web Site", "Support Pa&ge",
        "Support &E-mail", "-", "&About..."}},
  };
  const QList<QAction*> bar = frame.menuBar()->actions();
  ASSERT_EQ(bar.size(), expected.size());
  for (int i = 0; i < bar.size(); ++i) {
    EXPECT_EQ(bar[i]->text(), expected[i].first);
    ASSERT_NE(bar[i]->menu(), nullptr);
    EXPECT_EQ(MenuTexts(bar[i]->menu()), expected[i].second) << expected[i].first.toStdString();
  }

  const QMenu* context = frame.findChild<QMenu*>("listContextMenu");
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(MenuTexts(context),
            QStringList({"&New Task...\tCtrl+N", "&Edit Task...", "&Delete Task(s)\tDel",
                         "Delete All", "Copy Task(s)", "Rena&me Task\tF2", "-", "&Start", "S&top",
                         "&Run Immediately\tF5", "Start All", "Stop All", "-",
                         "Select All\tCtrl+A", "-", "View &Log...", "-", "Save &As...\tCtrl+S",
                         "Load &From...\tCtrl+L", "-", "&View", "-", "&Properties"}));
}

TEST_F(MainFrameTest, TheContextMenusCopyFollowsAndRunsTheCopyCommand) {
  fixture.Add(MakeTask("Sales"));
  CMainFrame frame(fixture.Core(), FrameDialogs());
  MainActions& a = frame.Actions();
  frame.UpdateCommandStates();
  EXPECT_FALSE(a.contextCopyTasks->isEnabled()) << "nothing selected";
  frame.View()->SelectRow(0, true);
  frame.UpdateCommandStates();
  ASSERT_TRUE(a.contextCopyTasks->isEnabled());
  Dialogs::QueueAnswer(Answer::Yes);
  a.contextCopyTasks->trigger();
  ASSERT_EQ(fixture.Core().Tasks().Count(), 2);
  EXPECT_EQ(fixture.Core().Tasks().At(1).TaskName, "Sales_Copy");
}

TEST_F(MainFrameTest, StartsWideEnoughForEveryColumnWithinTheScreen) {
  CMainFrame frame(fixture.Core(), FrameDialogs());
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  const auto* list = frame.findChild<QTreeView*>("taskDetails");
  ASSERT_NE(list, nullptr);
  int columns = 0;
  for (int column = 0; column < list->model()->columnCount(); ++column) {
    columns += list->columnWidth(column);
  }
  EXPECT_GE(frame.width(), std::min(columns, available.width() * 9 / 10));
  EXPECT_LE(frame.width(), std::max(660, available.width()));
  EXPECT_EQ(frame.height(), 460);
  EXPECT_EQ(frame.minimumSize(), QSize(660, 460));
}

TEST_F(MainFrameTest, TrayMenuHoldsOnlyShowWhenALoginIsSet) {
  {
    CMainFrame frame(fixture.Core(), FrameDialogs());
    EXPECT_EQ(TrayMenuTexts(frame), QStringList({"Sho&w", "&Options...", "&User Manual", "E&xit"}));
    EXPECT_EQ(frame.Tray()->Icon()->contextMenu()->defaultAction(), frame.Actions().show);
  }
  fixture.Core().Options().LoginUserName = "admin";
  CMainFrame frame(fixture.Core(), FrameDialogs());
  EXPECT_EQ(TrayMenuTexts(frame), QStringList({"Sho&w"}));
}

TEST_F(MainFrameTest, ShowAsksForTheLoginAndARefusalKeepsTheWindowHidden) {
  fixture.Core().Options().LoginPassword = "secret";
  int asked = 0;
  bool answer = false;
  FrameDialogs dialogs;
  dialogs.login = [&](QWidget*) {
    ++asked;
    return answer;
  };
  CMainFrame frame(fixture.Core(), dialogs);
  frame.StartHidden();
  EXPECT_FALSE(frame.Shown());
  EXPECT_EQ(asked, 0) << "starting hidden asks nothing";
  frame.ShowMainWindow();
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(frame.Shown());
  answer = true;
  frame.ShowMainWindow();
  EXPECT_TRUE(frame.Shown());
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(frame.Tray()->Added());
}

TEST_F(MainFrameTest, AShowRequestDuringTheLoginDoesNotOpenASecondLogin) {
  fixture.Core().Options().LoginUserName = "admin";
  int asked = 0;
  CMainFrame* shown = nullptr;
  FrameDialogs dialogs;
  dialogs.login = [&](QWidget*) {
    ++asked;
    if (asked == 1) shown->ShowMainWindow();  // the hot key pressed while the login is open
    return true;
  };
  CMainFrame frame(fixture.Core(), dialogs);
  shown = &frame;
  frame.StartHidden();
  frame.ShowMainWindow();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(frame.Shown());
  EXPECT_FALSE(frame.Tray()->Added());
}

TEST_F(MainFrameTest, WithoutATrayTheWindowMinimisesInsteadOfHiding) {
  if (TrayIcon::Available()) GTEST_SKIP() << "this desktop has a notification area";
  CMainFrame frame(fixture.Core(), FrameDialogs());
  frame.StartHidden();
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(frame.isMinimized());
  frame.HideToTray();
  EXPECT_TRUE(frame.isVisible()) << "hiding would lose the window";
}

TEST_F(MainFrameTest, TheWindowKeepsItsSizeAndColumnWidthsBetweenRuns) {
  {
    CMainFrame frame(fixture.Core(), FrameDialogs());
    frame.resize(700, 480);
    frame.View()->Details()->header()->resizeSection(0, 222);
    frame.EndNow();
  }
  CMainFrame again(fixture.Core(), FrameDialogs());
  EXPECT_EQ(again.size(), QSize(700, 480));
  EXPECT_EQ(again.View()->Details()->header()->sectionSize(0), 222);
}

// Minimising says once, in words, where the program went: no empty balloon, and none at
// every later minimise.
TEST_F(MainFrameTest, HidingToTheTrayExplainsItselfOnce) {
  TrayIcon::SetAvailabilityProbe([] { return true; });
  CMainFrame frame(fixture.Core(), FrameDialogs());
  QSignalSpy balloons(frame.Tray(), &TrayIcon::balloonShown);
  ASSERT_TRUE(frame.StartShown());
  frame.HideToTray();
  frame.ShowMainWindow();
  frame.HideToTray();
  ASSERT_EQ(balloons.count(), 1);
  EXPECT_TRUE(balloons[0][0].toString().contains("Click the icon to show the window"));
  TrayIcon::SetAvailabilityProbe({});
}

TEST_F(MainFrameTest, TheWindowFollowsTheTrayComingAndGoing) {
  bool trayPresent = false;
  TrayIcon::SetAvailabilityProbe([&] { return trayPresent; });
  CMainFrame frame(fixture.Core(), FrameDialogs());
  frame.StartHidden();  // started before the panel
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(frame.isMinimized());

  trayPresent = true;
  frame.Tray()->CheckTray();
  EXPECT_FALSE(frame.isVisible()) << "once the tray is there the window goes into it";
  EXPECT_TRUE(frame.Tray()->Added());
  EXPECT_FALSE(frame.Shown());

  trayPresent = false;
  frame.Tray()->CheckTray();
  EXPECT_TRUE(frame.isVisible()) << "a tray that vanishes must not take the window with it";

  trayPresent = true;
  frame.Tray()->CheckTray();
  EXPECT_FALSE(frame.isVisible());
  frame.ShowMainWindow();
  EXPECT_TRUE(frame.isVisible());
  EXPECT_TRUE(frame.Shown());
  EXPECT_FALSE(frame.Tray()->Added());
  TrayIcon::SetAvailabilityProbe(nullptr);
}

TEST_F(MainFrameTest, ClockShowsTheMomentInTheChosenStyles) {
  fixture.Core().Options().DateFormat = 2;
  fixture.Core().Options().TimeFormat = 2;
  CMainFrame frame(fixture.Core(), FrameDialogs());
  EXPECT_EQ(frame.ClockPane()->text(), "Thu, 05 Jan, 2006 00:30:15 P.M");
}

TEST_F(MainFrameTest, QuitAsksThenSavesBeforeStoppingTheTasks) {
  fixture.Add(MakeTask("Sales"));
  CMainFrame frame(fixture.Core(), FrameDialogs());
  ASSERT_TRUE(frame.StartShown());

  Dialogs::QueueAnswer(Answer::No);
  EXPECT_FALSE(frame.QuitApplication());
  EXPECT_TRUE(frame.isVisible());
  EXPECT_FALSE(FileExists(fixture.Core().TaskFilePath()));

  Dialogs::QueueAnswer(Answer::Yes);
  EXPECT_TRUE(frame.QuitApplication());
  EXPECT_FALSE(frame.isVisible());
  std::vector<CTaskItem> saved;
  ASSERT_EQ(ReadTaskFile(fixture.Core().TaskFilePath(), saved), TaskFileReadResult::Loaded);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].TaskName, "Sales");
  EXPECT_TRUE(FileExists(fixture.Folder() + "opt_se.dll"));
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0].Text, "Quit the application and stop all tasks?");
}

// A quit whose save failed (a full disk) must not pass for one that kept everything.
TEST_F(MainFrameTest, AQuitWhoseSaveFailsSaysSo) {
  fixture.Add(MakeTask("Sales"));
  CMainFrame frame(fixture.Core(), FrameDialogs());
  ASSERT_TRUE(frame.StartShown());
  Dialogs::TakeShown();
  Dialogs::QueueAnswer(Answer::Yes);
  {
    const test::FileSizeLimit full(16);
    EXPECT_TRUE(frame.QuitApplication());
  }
  EXPECT_FALSE(FileExists(fixture.Core().TaskFilePath()));
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[1].Kind, BoxKind::Stop);
  EXPECT_EQ(shown[1].Text,
            "Failed to save the task list or the options! What changed since "
            "they were last saved is lost.");
}

TEST_F(MainFrameTest, KeysReachTheCommandsFromTheList) {
  fixture.Add(MakeTask("A"));
  fixture.Add(MakeTask("B"));
  CMainFrame frame(fixture.Core(), FrameDialogs());
  ASSERT_TRUE(frame.StartShown());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  auto* list = frame.findChild<QTreeView*>("taskDetails");
  ASSERT_NE(list, nullptr);
  list->setFocus();

  QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(frame.View()->SelectedRows(), QList<int>({0, 1}));

  frame.View()->ClearSelection();
  frame.View()->SelectRow(1, true);
  Dialogs::QueueAnswer(Answer::Yes);
  QTest::keyClick(list, Qt::Key_Delete);
  ASSERT_EQ(fixture.Core().Tasks().Count(), 1);
  EXPECT_EQ(fixture.Core().Tasks().At(0).TaskName, "A");
}

TEST_F(MainFrameTest, EndOfSessionIsRefusedOnlyWhileATaskRunsAndTheOptionIsOn) {
  fixture.Add(MakeTask("Busy", ScheduleKind::Manual, TaskStatus::Running));
  fixture.Core().Options().BlockShutdownWhileRunning = 1;
  {
    CMainFrame frame(fixture.Core(), FrameDialogs());
    EXPECT_FALSE(frame.MayEndSession());
    EXPECT_FALSE(FileExists(fixture.Core().TaskFilePath())) << "a refusal saves nothing";
  }
  fixture.Core().Options().BlockShutdownWhileRunning = 0;
  CMainFrame frame(fixture.Core(), FrameDialogs());
  EXPECT_TRUE(frame.MayEndSession());
  EXPECT_TRUE(FileExists(fixture.Core().TaskFilePath()));
  EXPECT_TRUE(Dialogs::TakeShown().isEmpty()) << "the end of a session asks nothing";
}

}  // namespace
}  // namespace brevanto::ui
