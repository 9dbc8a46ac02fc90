// The edit sheet (tabs checked when left and on OK) and the read-only properties sheet.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "tasks/RemoteOptions.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/wizard/TaskPropertySheet.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;

class PropertySheetTest : public testing::Test {
 protected:
  PropertySheetTest() : fixture(clock) { Dialogs::Script(); }
  ~PropertySheetTest() override { Dialogs::Script(); }

  CTaskItem BackupTask(const std::string& name) {
    CTaskItem task = test::MakeTask(name);
    task.BackupSettings.BackupFolder = fixture.Folder() + "Data/" + name + "/";
    DatabaseItem shop;
    shop.Selected = 1;
    shop.DatabaseName = "shop";
    for (const char* table : {"orders", "sales"}) {
      TableItem item;
      item.Selected = 1;
      item.Kind = table[0] == 's' ? 2 : 1;
      item.DatabaseName = "shop";
      item.TableName = table;
      shop.Tables.push_back(item);
    }
    task.BackupDatabases = {shop};
    return task;
  }
  void Open(const CTaskItem& task, SheetMode mode, int editIndex = -1) {
    context.Core = &fixture.Core();
    context.Mode = mode;
    context.Task = task;
    context.EditIndex = editIndex;
    context.TaskNames.clear();
    for (const CTaskItem& t : fixture.Core().Tasks().Snapshot())
      context.TaskNames.push_back(t.TaskName);
    sheet = std::make_unique<CTaskPropertySheet>(context);
    sheet->show();
  }
  QStringList TabTitles() const {
    QStringList titles;
    for (int i = 0; i < sheet->Tabs()->count(); ++i) titles << sheet->Tabs()->tabText(i);
    return titles;
  }
  QString Shown() {
    QStringList texts;
    for (const ui::ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts.join(QStringLiteral(" | "));
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = sheet->Tabs()->currentWidget()->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  test::FakeClock clock;
  test::CoreFixture fixture;
  CSheetContext context;
  std::unique_ptr<CTaskPropertySheet> sheet;
};

TEST_F(PropertySheetTest, EditSheetChecksTheNameWhenLeftAndOnOk) {
  fixture.Add(BackupTask("Nightly"));
  const int own = fixture.Add(BackupTask("Weekly"));
  Open(fixture.Core().Tasks().At(own), SheetMode::Edit, own);
  EXPECT_EQ(sheet->windowTitle(),
            QStringLiteral("Edit Task - Weekly - Backup MySQL databases to SQL/PHP files"));
  EXPECT_EQ(TabTitles(), (QStringList{"Task Type", "MySQL Server", "Databases and Tables",
                                      "Backup File", "Off-site Copy", "Task Schedule"}));
  // Every title shows at once where the screen has room: no tab bar to scroll.
  ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
  QTabBar* bar = sheet->Tabs()->tabBar();
  EXPECT_GE(bar->width(), bar->sizeHint().width());

  auto* name = Find<QLineEdit>("taskNameEdit");
  name->setText(QStringLiteral("Nightly"));
  sheet->Tabs()->setCurrentIndex(2);
  EXPECT_EQ(sheet->Tabs()->currentIndex(), 0);
  EXPECT_EQ(Shown(), QStringLiteral("The task name is already existed!\nPlease choose a "
                                    "different task name."));
  // The stored selection shows without a server.
  name->setText(QStringLiteral("Weekly"));
  sheet->Tabs()->setCurrentIndex(2);
  EXPECT_EQ(sheet->Tabs()->currentIndex(), 2);
  EXPECT_EQ(Find<QTreeWidget>("databaseTree")->topLevelItem(0)->checkState(0), Qt::Checked);

  sheet->Tabs()->setCurrentIndex(0);
  Find<QPlainTextEdit>("commentEdit")->setPlainText(QStringLiteral("kept"));
  sheet->accept();
  EXPECT_EQ(Shown(), QString());
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(context.Task.TaskName, "Weekly");
  EXPECT_EQ(context.Task.Comment, "kept");
  EXPECT_EQ(context.Task.BackupDatabases, BackupTask("Weekly").BackupDatabases);
}

TEST_F(PropertySheetTest, OkShowsTheTabThatRefuses) {
  CTaskItem task = BackupTask("Lonely");
  task.Schedule.Kind = 2;  // Every Week without days
  const int own = fixture.Add(task);
  Open(fixture.Core().Tasks().At(own), SheetMode::Edit, own);
  sheet->accept();
  EXPECT_EQ(Shown(), QStringLiteral("Please set the Every Week Settings!"));
  EXPECT_EQ(sheet->Tabs()->currentIndex(), 5);
  EXPECT_NE(sheet->result(), QDialog::Accepted);
}

TEST_F(PropertySheetTest, OkKeepsAnOffsiteTargetItsRunCouldNotUse) {
  RemoteOptions noHost;
  noHost.Kind = RemoteKind::Sftp;
  noHost.User = "backup";
  noHost.Path = "/srv/backups";
  CTaskItem task = BackupTask("Remote");
  SetRemoteOptions(task, noHost);
  const int own = fixture.Add(task);
  Open(fixture.Core().Tasks().At(own), SheetMode::Edit, own);
  sheet->accept();
  EXPECT_EQ(Shown(), QString::fromStdString(RemoteOptionsProblem(noHost)));
  EXPECT_EQ(sheet->Tabs()->currentIndex(), 4);
  EXPECT_NE(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(RemoteOptionsOf(context.Task), noHost);
  // The field the message names has the focus.
  sheet->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
  EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("sftpHostEdit"));

  Find<QLineEdit>("sftpHostEdit")->setText(QStringLiteral(" vault.example.net "));
  sheet->accept();
  EXPECT_EQ(Shown(), QString());
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
  noHost.Host = "vault.example.net";
  EXPECT_EQ(RemoteOptionsOf(context.Task), noHost);
}

// The sheet and the import share one set of rules: what one refuses, the other does.
TEST_F(PropertySheetTest, EditSheetRefusesWhatNoRunCouldUseAsTheImportDoes) {
  fixture.Add(BackupTask("Nightly"));
  struct Case {
    void (*change)(CTaskItem&);
    int tab;
    const char* shown;
  } cases[] = {
      {[](CTaskItem& t) { t.Schedule = {.Kind = 1, .Hour = 25}; }, 5,
       "The hour must be a number from 0 to 23!"},
      {[](CTaskItem& t) {
         t.Schedule = {.Kind = 4, .SpecialYear = 2031, .SpecialMonth = 2, .SpecialDay = 30};
       },
       5, "The special date does not exist!"},
      {[](CTaskItem& t) { t.BackupSettings.BackupFolder = "backups/"; }, 3,
       "Please input a full path (starting with /)!"},
      {[](CTaskItem& t) { t.TaskName = "NIGHTLY"; }, 0,
       "The task name is already existed!\nPlease choose a different task name."},
      {[](CTaskItem& t) { t.TaskName = "two\tparts"; }, 0,
       "The task name must not hold control characters (line breaks, tabs)!"},
  };
  for (const Case& c : cases) {
    CTaskItem task = BackupTask("Weekly");
    c.change(task);
    Open(task, SheetMode::Edit, 1);
    sheet->accept();
    EXPECT_EQ(Shown(), QString::fromUtf8(c.shown));
    EXPECT_EQ(sheet->Tabs()->currentIndex(), c.tab) << c.shown;
    EXPECT_NE(sheet->result(), QDialog::Accepted);
  }
}

TEST_F(PropertySheetTest, EditSheetAcceptsNoDatabaseWhenNewOnesAreBackedUp) {
  CTaskItem task = BackupTask("Growing");
  task.BackupDatabases[0].Selected = 0;
  for (TableItem& table : task.BackupDatabases[0].Tables) table.Selected = 0;
  task.BackupSettings.IncludeNewDatabases = 1;
  const int own = fixture.Add(task);
  Open(fixture.Core().Tasks().At(own), SheetMode::Edit, own);
  sheet->accept();
  EXPECT_EQ(Shown(), QString());  // no question in the edit sheet
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
}

TEST_F(PropertySheetTest, PropertiesShowTheTaskReadOnly) {
  CTaskItem task = BackupTask("Copy");
  task.TaskType = 3;
  task.SourceServer.Database = "shop";
  task.SourceServer.Port = 3307;
  task.DestinationServer.Host = "backup.example";
  task.DestinationServer.Database = "shop_copy";
  task.DestinationServer.UseSSL = 1;
  Open(task, SheetMode::View);
  EXPECT_EQ(sheet->windowTitle(),
            QStringLiteral("Task Properties - Copy - Backup a MySQL database to another database"));
  EXPECT_EQ(TabTitles(), (QStringList{"Task Type", "MySQL Server", "Source Tables", "MySQL Server",
                                      "Task Schedule"}));
  sheet->Tabs()->setCurrentIndex(1);
  EXPECT_EQ(Find<QLineEdit>("portView")->text(), QStringLiteral("3307"));
  EXPECT_EQ(Find<QLineEdit>("databaseView")->text(), QStringLiteral("shop"));
  EXPECT_EQ(Find<QPlainTextEdit>("protocolsView")->toPlainText(), QStringLiteral("None"));
  sheet->Tabs()->setCurrentIndex(3);
  EXPECT_EQ(Find<QPlainTextEdit>("protocolsView")->toPlainText(),
            QStringLiteral("Use SSL protocol"));
  EXPECT_TRUE(Find<QLineEdit>("hostView")->isReadOnly());
  sheet->Tabs()->setCurrentIndex(4);
  EXPECT_EQ(Find<QLineEdit>("scheduleKindView")->text(), QStringLiteral("Manual"));

  // A name typed on the first tab goes nowhere.
  sheet->Tabs()->setCurrentIndex(0);
  Find<QLineEdit>("taskNameEdit")->setText(QStringLiteral("Changed"));
  sheet->accept();
  EXPECT_EQ(Shown(), QString());
}

// Stored separators are control characters; both sheets show them as the user typed them.
TEST_F(PropertySheetTest, ExportSeparatorsShowAsEscapesInBothSheets) {
  CTaskItem task = test::MakeTask("Csv");
  task.TaskType = 4;
  task.ExportSettings.Format = 1;
  task.ExportSettings.Folder = fixture.Folder() + "Data/";
  task.ExportSettings.FieldsTerminatedBy = "\t";
  task.ExportSettings.FieldsEnclosedBy = "\"";
  task.ExportSettings.FieldsEscapedBy = "\\";
  task.ExportSettings.LinesTerminatedBy = "\r\n";
  const struct {
    SheetMode mode;
    const char* names[4];
  } sheets[] = {
      {SheetMode::View, {"terminatedView", "enclosedView", "escapedView", "linesView"}},
      {SheetMode::Edit,
       {"fieldsTerminatedEdit", "fieldsEnclosedEdit", "fieldsEscapedEdit", "linesTerminatedEdit"}},
  };
  const QString expected[4] = {"\\t", "\"", "\\\\", "\\r\\n"};
  for (const auto& s : sheets) {
    Open(task, s.mode);
    sheet->Tabs()->setCurrentIndex(3);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(s.names[i]);
      EXPECT_EQ(Find<QLineEdit>(s.names[i])->text(), expected[i]);
    }
  }
}

TEST_F(PropertySheetTest, ExportTablesTabListsTheDatabasesOfItsTables) {
  CTaskItem task = test::MakeTask("Csv");
  task.TaskType = 4;
  for (const char* name : {"shop.orders", "crm.people", "shop.sales"}) {
    const std::string full = name;
    TableItem table;
    table.Selected = 1;
    table.Kind = 1;
    table.DatabaseName = full.substr(0, full.find('.'));
    table.TableName = full.substr(full.find('.') + 1);
    task.ExportTables.push_back(table);
  }
  Open(task, SheetMode::Edit);
  sheet->Tabs()->setCurrentIndex(2);
  auto* databases = Find<QComboBox>("sourceDatabaseCombo");
  ASSERT_EQ(databases->count(), 2);
  EXPECT_EQ(databases->itemText(0), "shop");
  EXPECT_EQ(databases->itemText(1), "crm");

  // A table moved back returns to the pool of its database.
  Find<QPushButton>("removeAllButton")->click();
  databases->setCurrentIndex(0);
  EXPECT_EQ(Find<QListWidget>("sourceTablesList")->count(), 2);
}

TEST_F(PropertySheetTest, EveryTypeHasItsTabs) {
  const struct {
    int type;
    QStringList tabs;
  } cases[] = {
      {2, {"Task Type", "MySQL Server", "Databases and Tables", "MySQL Server", "Task Schedule"}},
      {3,
       {"Task Type", "Source Database", "Source Tables", "Destination Database", "Task Schedule"}},
      {4, {"Task Type", "MySQL Server", "Export Tables", "Export File", "Task Schedule"}},
      {5, {"Task Type", "MySQL Server", "SQL Script", "Task Schedule"}},
      {6, {"Task Type", "SQL Files", "MySQL Server", "Task Schedule"}},
      {7, {"Task Type", "MySQL Server", "Databases and Tables", "MySQL Server", "Task Schedule"}},
      {8,
       {"Task Type", "Source Database", "Source Tables", "Destination Database", "Task Schedule"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    CTaskItem task = BackupTask("T");
    task.TaskType = static_cast<std::uint8_t>(c.type);
    Open(task, SheetMode::Edit);
    EXPECT_EQ(TabTitles(), c.tabs);
  }
}

}  // namespace
}  // namespace brevanto::wizard
