// The list view's once-a-second refresh: rows are rewritten in place, so what the user
// selected and where the list is scrolled survive it.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "tasks/DisplayDateTime.h"
#include "tasks/TaskList.h"
#include "tests/support/FakeClock.h"
#include "ui/BrevantoTasksView.h"
#include "ui/TaskListModel.h"

namespace brevanto::ui {
namespace {

using test::FakeClock;

CTaskItem Named(const std::string& name) {
  CTaskItem task;
  task.TaskName = name;
  return task;
}

class TaskListViewTest : public testing::Test {
 protected:
  FakeClock clock;
  CTaskList tasks{clock};
};

TEST_F(TaskListViewTest, RefreshKeepsSelectionAndReportsOnlyChangedCells) {
  for (int i = 0; i < 60; ++i) tasks.AddTask(Named("Task " + std::to_string(i)));
  CBrevantoTasksView view(tasks, nullptr);
  QAbstractItemModelTester tester(view.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  view.resize(600, 200);
  view.show();
  view.SelectRow(1, false);
  view.SelectRow(40, true);
  auto* details = view.findChild<QTreeView*>("taskDetails");
  ASSERT_NE(details, nullptr);
  const int scroll = details->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);

  QSignalSpy changed(view.Model(), &QAbstractItemModel::dataChanged);
  QSignalSpy reset(view.Model(), &QAbstractItemModel::modelReset);
  tasks.Update(40, [](CTaskItem& t) { t.SetStatus(TaskStatus::Running); });
  view.RefreshAll();

  ASSERT_EQ(changed.count(), 1);
  const QModelIndex from = changed[0][0].value<QModelIndex>();
  const QModelIndex to = changed[0][1].value<QModelIndex>();
  EXPECT_EQ(from.row(), 40);
  EXPECT_EQ(from.column(), TaskListModel::kStatus);
  EXPECT_EQ(to.column(), TaskListModel::kStatus);
  EXPECT_EQ(reset.count(), 0);
  EXPECT_EQ(view.SelectedRows(), QList<int>({1, 40}));
  EXPECT_EQ(details->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(view.Model()->index(40, TaskListModel::kStatus).data().toString(), "Running...");

  // Nothing changed: nothing is reported.
  changed.clear();
  view.RefreshAll();
  EXPECT_EQ(changed.count(), 0);
}

TEST_F(TaskListViewTest, RefreshFollowsAddedAndRemovedTasks) {
  tasks.AddTask(Named("A"));
  tasks.AddTask(Named("B"));
  CBrevantoTasksView view(tasks, nullptr);
  QAbstractItemModelTester tester(view.Model(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  view.SelectRow(0, true);
  tasks.AddTask(Named("C"));
  view.RefreshAll();
  EXPECT_EQ(view.Model()->rowCount(), 3);
  EXPECT_EQ(view.SelectedRows(), QList<int>({0}));
  tasks.RemoveAt(2);
  tasks.RemoveAt(1);
  view.RefreshAll();
  EXPECT_EQ(view.Model()->rowCount(), 1);
  EXPECT_EQ(view.Model()->index(0, TaskListModel::kName).data().toString(), "A");
}

TEST_F(TaskListViewTest, RowsShowTheTaskWords) {
  CTaskItem task = Named("Nightly");
  task.TaskType = 4;
  task.Schedule.Kind = 5;
  task.Status = 9;
  task.LastRunTime = {2006, 1, 5, 12, 30, 15, 5};
  tasks.AddTask(task);
  CBrevantoTasksView view(tasks, nullptr);
  view.Model()->SetDisplayStyles(2, 2);
  auto cell = [&](int column) { return view.Model()->index(0, column).data().toString(); };
  EXPECT_EQ(cell(TaskListModel::kStatus), "Unknown");
  EXPECT_EQ(cell(TaskListModel::kLastRun), "Thu, 05 Jan, 2006 00:30 P.M");
  EXPECT_EQ(cell(TaskListModel::kNextRun), "");
  EXPECT_EQ(cell(TaskListModel::kTaskType), "Export to CSV/XML/HTML/TEXT files");
  EXPECT_EQ(cell(TaskListModel::kSchedule), "Minutes");
}

TEST_F(TaskListViewTest, ViewModesShareTheSelection) {
  tasks.AddTask(Named("A"));
  tasks.AddTask(Named("B"));
  CBrevantoTasksView view(tasks, nullptr);
  view.SelectRow(1, true);
  for (ListViewMode mode : {ListViewMode::LargeIcons, ListViewMode::SmallIcons, ListViewMode::List,
                            ListViewMode::Details}) {
    view.SetViewMode(mode);
    EXPECT_EQ(view.SelectedRows(), QList<int>({1}));
  }
}

TEST_F(TaskListViewTest, AClickSelectsTheTaskInEveryViewMode) {
  for (const char* name : {"A", "B", "C"}) tasks.AddTask(Named(name));
  CBrevantoTasksView view(tasks, nullptr);
  view.resize(600, 300);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  for (ListViewMode mode : {ListViewMode::LargeIcons, ListViewMode::SmallIcons, ListViewMode::List,
                            ListViewMode::Details}) {
    view.SetViewMode(mode);
    view.ClearSelection();
    auto* shown = qobject_cast<QAbstractItemView*>(view.currentWidget());
    ASSERT_NE(shown, nullptr);
    const QRect item = shown->visualRect(view.Model()->index(1, TaskListModel::kName));
    ASSERT_TRUE(item.isValid());
    QTest::mouseClick(shown->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    EXPECT_EQ(view.SelectedRows(), QList<int>({1})) << "view mode " << static_cast<int>(mode);
  }
}

// Small icons: a name fits its cell beside the icon with room to spare before the next
// icon, the cells grow when a longer name arrives, and a very long name cannot make them
// wider than two name columns.
TEST_F(TaskListViewTest, SmallIconCellsFitTheirNamesWithinLimits) {
  tasks.AddTask(Named("A"));
  CBrevantoTasksView view(tasks, nullptr);
  view.SetViewMode(ListViewMode::SmallIcons);
  auto* icons = view.findChild<QListView*>("taskIcons");
  ASSERT_NE(icons, nullptr);
  const int least = icons->gridSize().width();
  EXPECT_GE(least, 180);

  const std::string longer = "Orders to the reporting server, every ten minutes";
  tasks.AddTask(Named(longer));
  view.RefreshAll();
  const QFontMetrics metrics = icons->fontMetrics();
  const int name = metrics.horizontalAdvance(QString::fromStdString(longer));
  EXPECT_GT(icons->gridSize().width(), name + icons->iconSize().width() + 8);
  EXPECT_GT(icons->gridSize().width(), least);
  // Laid out, the name is drawn whole and no two cells touch.
  view.resize(900, 300);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QRect first = icons->visualRect(view.Model()->index(0, TaskListModel::kName));
  const QRect second = icons->visualRect(view.Model()->index(1, TaskListModel::kName));
  EXPECT_GT(second.width(), name + icons->iconSize().width() + 8);
  EXPECT_FALSE(first.intersects(second));

  tasks.AddTask(Named(std::string(300, 'W')));
  view.RefreshAll();
  EXPECT_LE(icons->gridSize().width(), 2 * least);
  EXPECT_EQ(icons->gridSize().width(),
            CBrevantoTasksView::SmallIconCellWidth(metrics, {QString(300, QLatin1Char('W'))}));
}

// The date columns must hold the longest moment the styles print ("P.M" included) and the
// type column its longest kind, whatever the font; the list's own widths stay the least.
TEST_F(TaskListViewTest, ColumnsHoldTheirLongestTextsInAnyFont) {
  const QFont original = QApplication::font();
  for (int pixels : {9, 13, 22}) {
    SCOPED_TRACE(pixels);
    QFont font = original;
    font.setPixelSize(pixels);
    QApplication::setFont(font);
    CBrevantoTasksView view(tasks, nullptr);
    auto* details = view.findChild<QTreeView*>("taskDetails");
    ASSERT_NE(details, nullptr);
    const QFontMetrics metrics = details->fontMetrics();
    for (int dateStyle : {1, 2, 3}) {
      // Wednesday the 30th of September at half past noon: long names, two-digit fields.
      const QString moment = QString::fromStdString(
          FormatDisplayDateTime(2026, 9, 30, 12, 30, 0, 4, dateStyle, 2, false));
      EXPECT_GT(details->columnWidth(TaskListModel::kLastRun), metrics.horizontalAdvance(moment))
          << moment.toStdString();
      EXPECT_GT(details->columnWidth(TaskListModel::kNextRun), metrics.horizontalAdvance(moment));
    }
    EXPECT_GT(details->columnWidth(TaskListModel::kTaskType),
              metrics.horizontalAdvance(QStringLiteral("Export to CSV/XML/HTML/TEXT files")));
    const int least[TaskListModel::kColumnCount] = {180, 90, 180, 180, 220, 100, 170};
    for (int column = 0; column < TaskListModel::kColumnCount; ++column) {
      EXPECT_GE(details->columnWidth(column), least[column]) << column;
    }
  }
  QApplication::setFont(original);
}

}  // namespace
}  // namespace brevanto::ui
