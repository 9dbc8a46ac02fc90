// The log viewer: what it shows, Empty logs, and its three exports.

#include <gtest/gtest.h>

#include <QDir>

#include <QMenu>
#include <QMenuBar>
#include <QTableView>

#include "core/AtomicFile.h"
#include "logs/LogExport.h"
#include "logs/TaskLog.h"
#include "tasks/TaskItem.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"
#include "ui/Dialogs.h"
#include "ui/LogViewer.h"

namespace brevanto::ui {
namespace {

using test::ReadWholeFile;

constexpr const char* kLog = "Sales_2006159730.log";

class LogViewerTest : public testing::Test {
 protected:
  void SetUp() override { Dialogs::Script(); }

  void Append(int count) {
    for (int i = 1; i <= count; ++i)
      log.AppendEntry(kLog, LogLevel::General, "entry " + std::to_string(i));
  }
  std::unique_ptr<CTaskLogViewer> Open() {
    return std::make_unique<CTaskLogViewer>(log, "Sales", kLog, 1, 1);
  }
  QStringList Shown() {
    QStringList texts;
    for (const ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts;
  }

  test::TempDir dir;
  test::FakeClock clock{test::MakeTime(2006, 1, 5, 9, 7, 3)};
  CTaskLog log{dir.path() + "Logs/", clock};
};

TEST_F(LogViewerTest, ShowsTheNewest200AndDisplayAllShowsEverything) {
  Append(250);
  auto viewer = Open();
  EXPECT_EQ(viewer->windowTitle(), "Task Log - Sales");
  QAbstractItemModel* model = viewer->List()->model();
  ASSERT_EQ(model->rowCount(), 200);
  EXPECT_EQ(model->index(0, 0).data().toString(), "1");
  EXPECT_EQ(model->index(0, 2).data().toString(), "entry 51");
  EXPECT_EQ(model->index(199, 2).data().toString(), "entry 250");
  EXPECT_EQ(model->index(0, 1).data().toString(), "Thu, Jan 05, 2006 09:07:03");
  EXPECT_TRUE(viewer->List()->selectionModel()->isRowSelected(199, QModelIndex()));
  viewer->DisplayAll();
  EXPECT_EQ(model->rowCount(), 250);
}

TEST_F(LogViewerTest, MenusAndColumnsReadAsTheProgramWordsThem) {
  auto viewer = Open();
  auto* bar = viewer->findChild<QMenuBar*>("logMenuBar");
  ASSERT_NE(bar, nullptr);
  QStringList items;
  for (const QAction* menu : bar->actions()) {
    items << menu->text() + ":";
    for (const QAction* item : menu->menu()->actions()) {
      // An accelerator would show after the caption; these items have none.
      items << (item->isSeparator() ? QString("-") : item->text()) +
                   item->shortcut().toString(QKeySequence::NativeText);
    }
  }
  EXPECT_EQ(items, QStringList({"&Logs:", "&Display All", "-", "&Refresh", "-", "&Empty logs", "-",
                                "&Close", "&Export:", "Export to &CSV file...",
                                "Export to &LOG file...", "Export to &TXT file...", "&Help:",
                                "&Help"}));
  const QAbstractItemModel* model = viewer->List()->model();
  QStringList columns;
  for (int c = 0; c < model->columnCount(); ++c)
    columns << model->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(columns, QStringList({"SN", "Date & Time", "Information"}));
}

TEST_F(LogViewerTest, ExportsWriteTheShownEntriesAndReplaceTheTarget) {
  log.AppendEntry(kLog, LogLevel::Warning, "User canceled!");
  log.AppendEntry(kLog, std::uint8_t{5}, "said \"no\"");
  auto viewer = Open();
  const std::string csv = dir.file("out.csv");
  ASSERT_TRUE(test::WriteWholeFile(csv, "old content that must go\r\n"));
  Dialogs::QueueFileName(QString::fromStdString(csv));
  viewer->ExportToCsv();
  EXPECT_EQ(ReadWholeFile(csv),
            "\"Thu, Jan 05, 2006 09:07:03\",\"Warning Info\",\"User canceled!\"\r\n"
            "\"Thu, Jan 05, 2006 09:07:03\",\"Error Info\",\"said \"no\"\"\r\n");

  const std::string txt = dir.file("out.txt");
  Dialogs::QueueFileName(QString::fromStdString(txt));
  viewer->ExportToTxt();
  EXPECT_EQ(ReadWholeFile(txt),
            "[Thu, Jan 05, 2006 09:07:03]\tWarning Info\tUser canceled!\r\n"
            "[Thu, Jan 05, 2006 09:07:03]\tError Info\tsaid \"no\"\r\n");

  const std::string copy = dir.file("out.log");
  Dialogs::QueueFileName(QString::fromStdString(copy));
  viewer->ExportToLog();
  EXPECT_EQ(ReadWholeFile(copy), ReadWholeFile(log.PathOf(kLog)));
  EXPECT_EQ(Shown(), QStringList({"Task Log Files(*.csv)", "Task Log Files(*.txt)",
                                  "Task Log Files(*.log)"}));
}

// The save picker starts on a file named after the task in the user's home folder.
TEST_F(LogViewerTest, ExportsSuggestAFileNamedAfterTheTask) {
  Append(1);
  auto viewer = std::make_unique<CTaskLogViewer>(log, "Nightly/2", kLog, 1, 1);
  viewer->ExportToCsv();
  viewer->ExportToTxt();
  viewer->ExportToLog();
  QStringList suggested;
  for (const ShownBox& box : Dialogs::TakeShown()) suggested << box.Start;
  const QString home = QDir::homePath();
  EXPECT_EQ(suggested, QStringList({home + "/Nightly_2.csv", home + "/Nightly_2.txt",
                                    home + "/Nightly_2.log"}));
}

TEST_F(LogViewerTest, AFailedExportIsReportedAndKeepsNothingHalfWritten) {
  Append(3);
  auto viewer = Open();
  Dialogs::QueueFileName(QString::fromStdString(dir.file("missing-folder/out.csv")));
  viewer->ExportToCsv();
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[1].Kind, BoxKind::Stop);
  EXPECT_TRUE(shown[1].Text.contains("missing-folder/out.csv")) << shown[1].Text.toStdString();
}

TEST_F(LogViewerTest, EmptyLogsAsksThenDeletesTheFile) {
  Append(2);
  auto viewer = Open();
  Dialogs::QueueAnswer(Answer::No);
  viewer->EmptyLogs();
  EXPECT_TRUE(FileExists(log.PathOf(kLog)));
  Dialogs::QueueAnswer(Answer::Yes);
  viewer->EmptyLogs();
  EXPECT_FALSE(FileExists(log.PathOf(kLog)));
  EXPECT_EQ(viewer->List()->model()->rowCount(), 0);
  EXPECT_EQ(Shown(), QStringList({"Do you want to EMPTY ALL logs of the task?",
                                  "Do you want to EMPTY ALL logs of the task?"}));
}

TEST_F(LogViewerTest, SaysThereAreNoLogsWhenNothingIsShownOrTheFileIsGone) {
  Append(1);
  auto viewer = Open();
  ASSERT_TRUE(RemoveFileIfExists(log.PathOf(kLog)));
  viewer->EmptyLogs();  // entries shown, file deleted meanwhile
  viewer->Refresh();
  viewer->ExportToCsv();
  viewer->ExportToLog();
  EXPECT_EQ(Shown(), QStringList({"There are not any task logs!", "There are not any task logs!",
                                  "There are not any task logs!"}));
}

}  // namespace
}  // namespace brevanto::ui
