// The task wizard driven through its widgets: a BackupToFiles task from the chooser's
// type to Finish, with a fixed catalogue in place of a server.

#include <gtest/gtest.h>

#include <cstdio>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "tasks/AdvancedOptions.h"
#include "tasks/RemoteOptions.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/wizard/RestoreFilesPage.h"
#include "ui/wizard/TaskPage.h"
#include "ui/wizard/TaskWizardSheet.h"

namespace brevanto::wizard {
namespace {

using ui::Answer;
using ui::Dialogs;

TableItem Table(const char* database, const char* name, std::uint8_t kind) {
  TableItem table;
  table.DatabaseName = database;
  table.TableName = name;
  table.Kind = kind;
  return table;
}

// A server with two databases that never goes on the network; it fails on request.
class FixedServer : public ServerBrowser {
 public:
  bool fail = false;
  int catalogueLoads = 0;

  bool TestConnection(const CServerInfo&, std::string& version, MySqlError& error) override {
    version = "10.11.6-MariaDB";
    return Answer(error);
  }
  bool LoadCatalogue(const CServerInfo&, std::vector<DatabaseItem>& databases,
                     MySqlError& error) override {
    ++catalogueLoads;
    if (!Answer(error)) return false;
    DatabaseItem shop;
    shop.DatabaseName = "shop";
    shop.Tables = {Table("shop", "orders", 1), Table("shop", "customers", 1),
                   Table("shop", "sales", 2)};
    DatabaseItem blog;
    blog.DatabaseName = "blog";
    blog.Tables = {Table("blog", "posts", 1)};
    databases = {shop, blog};
    return true;
  }
  bool ListDatabaseNames(const CServerInfo&, std::vector<std::string>& names,
                         MySqlError& error) override {
    names = {"blog", "shop"};
    return Answer(error);
  }
  bool LoadTables(const CServerInfo&, const std::string& database, std::vector<TableItem>& tables,
                  MySqlError& error, bool& useFailed) override {
    useFailed = database == "locked";
    if (useFailed) error = {1044, "Access denied for user 'root'@'%' to database 'locked'"};
    if (useFailed || !Answer(error)) return false;
    tables = {Table(database.c_str(), "orders", 1), Table(database.c_str(), "sales", 2)};
    return true;
  }

 private:
  bool Answer(MySqlError& error) {
    if (!fail) return true;
    error = {2003, "Can't connect to MySQL server on 'nowhere' (111)"};
    return false;
  }
};

class WizardFlowTest : public testing::Test {
 protected:
  WizardFlowTest() : fixture(clock) {
    Dialogs::Script();
    fixture.Core().Options().DefaultBackupFolder = fixture.Folder() + "Data/";
    for (int i = 1; i <= 4; ++i) {
      fixture.Add(test::MakeTask("Task " + std::to_string(i)));
      context.TaskNames.push_back("Task " + std::to_string(i));
    }
    context.Core = &fixture.Core();
    context.Browser = server;
  }
  ~WizardFlowTest() override { Dialogs::Script(); }

  void Open(int type) {
    wizard = std::make_unique<CTaskWizardSheet>(context, type);
    wizard->show();
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = wizard->currentPage()->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  // Next, returning the boxes it showed.
  QList<ui::ShownBox> Next() {
    Dialogs::TakeShown();
    wizard->next();
    return Dialogs::TakeShown();
  }
  QString Texts(const QList<ui::ShownBox>& boxes) {
    QStringList texts;
    for (const ui::ShownBox& box : boxes) texts << box.Text;
    return texts.join(QStringLiteral(" | "));
  }

  test::FakeClock clock;
  test::CoreFixture fixture;
  std::shared_ptr<FixedServer> server = std::make_shared<FixedServer>();
  CSheetContext context;
  std::unique_ptr<CTaskWizardSheet> wizard;
};

TEST_F(WizardFlowTest, CreatesABackupToFilesTaskEndToEnd) {
  Open(1);
  EXPECT_EQ(wizard->windowTitle(), QStringLiteral("Welcome to the Task Wizard"));
  EXPECT_TRUE(Next().isEmpty());

  // Step 1: the proposed name is taken once a task holds it; the lower-case one is not.
  EXPECT_EQ(wizard->windowTitle(),
            QStringLiteral("Task Wizard - Backup MySQL databases to SQL/PHP files - Step 1 of 7"));
  QLineEdit* name = Find<QLineEdit>("taskNameEdit");
  EXPECT_EQ(name->text(), QStringLiteral("Task 5"));
  name->setText(QStringLiteral("Task 4"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("The task name is already existed!\nPlease choose a "
                                          "different task name."));
  name->setText(QString());
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please input task name!"));
  name->setText(QStringLiteral("Shop nightly"));
  Find<QPlainTextEdit>("commentEdit")->setPlainText(QStringLiteral("orders only"));
  EXPECT_TRUE(Next().isEmpty());

  // Step 2: a failed connection keeps the page; the catalogue loads on the next try.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 2 of 7")));
  Find<QLineEdit>("portEdit")->setText(QStringLiteral("33a6"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("The port must be a number between 1 and 65535!"));
  Find<QLineEdit>("portEdit")->setText(QStringLiteral("3307"));
  Find<QLineEdit>("hostEdit")->setText(QStringLiteral("db.example"));
  server->fail = true;
  EXPECT_EQ(Texts(Next()),
            QStringLiteral("Failed to connect to the MySQL server!\n\nError NO. "
                           "2003\nCan't connect to MySQL server on 'nowhere' (111)"));
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 2 of 7")));
  server->fail = false;
  EXPECT_TRUE(Next().isEmpty());

  // Step 3: nothing chosen is refused; checking two of three tables shows the database
  // partly checked.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 3 of 7")));
  auto* tree = Find<QTreeWidget>("databaseTree");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->child(2)->text(0), QStringLiteral("sales (View)"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please choose the source databases or tables!"));
  QTreeWidgetItem* shop = tree->topLevelItem(0);
  shop->child(0)->setCheckState(0, Qt::Checked);
  shop->child(2)->setCheckState(0, Qt::Checked);
  EXPECT_EQ(shop->checkState(0), Qt::PartiallyChecked);
  Find<QCheckBox>("structureCheck")->setChecked(false);
  Find<QCheckBox>("recordsCheck")->setChecked(false);
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please choose the table structure or records!"));
  Find<QCheckBox>("recordsCheck")->setChecked(true);
  EXPECT_TRUE(Next().isEmpty());

  // Step 4: the default folder is the options' folder and the task name; one file
  // instead, switched to PHP.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 4 of 7")));
  const QString folder =
      QString::fromStdString(fixture.Folder()) + QStringLiteral("Data/Shop nightly/");
  EXPECT_EQ(Find<QLineEdit>("folderEdit")->text(), folder);
  Find<QRadioButton>("sameFileRadio")->setChecked(true);
  QLineEdit* file = Find<QLineEdit>("fileEdit");
  EXPECT_EQ(file->text(), folder.chopped(1) + QStringLiteral(".sql"));
  Find<QRadioButton>("phpFileRadio")->setChecked(true);
  EXPECT_EQ(file->text(), folder.chopped(1) + QStringLiteral(".php"));
  // The file picker opens on the file the field names.
  Find<QPushButton>("browseFileButton")->click();
  const QList<ui::ShownBox> picker = Dialogs::TakeShown();
  ASSERT_EQ(picker.size(), 1);
  EXPECT_EQ(picker[0].Start, file->text());
  file->setText(QStringLiteral("/nonexistent-folder/x/backup.php"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("Invalid file!"));
  file->setText(QString::fromStdString(fixture.Folder()) + QStringLiteral("Data/shop.php"));
  EXPECT_TRUE(Next().isEmpty());

  // Step 5: an S3 bucket as the off-site target; without its name the page stays.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 5 of 7")));
  Find<QComboBox>("offsiteKindCombo")->setCurrentIndex(1);
  Find<QLineEdit>("s3EndpointEdit")->setText(QStringLiteral("https://s3.example.com"));
  Find<QLineEdit>("s3RegionEdit")->setText(QStringLiteral("eu-central-1"));
  Find<QLineEdit>("s3AccessKeyEdit")->setText(QStringLiteral("AKIDEXAMPLE"));
  Find<QLineEdit>("s3SecretKeyEdit")->setText(QStringLiteral("wJalrXUtnFEMI/K7MDENG"));
  RemoteOptions noBucket;
  noBucket.Kind = RemoteKind::S3;
  EXPECT_EQ(Texts(Next()), QString::fromStdString(RemoteOptionsProblem(noBucket)));
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 5 of 7")));
  Find<QLineEdit>("s3BucketEdit")->setText(QStringLiteral("shop-backups"));
  EXPECT_TRUE(Next().isEmpty());

  // Step 6: Every Week without days is refused; Manual passes.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 6 of 7")));
  Find<QRadioButton>("everyWeekRadio")->click();
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please set the Every Week Settings!"));
  Find<QRadioButton>("manualRadio")->click();
  EXPECT_TRUE(Next().isEmpty());

  // Step 7: the summary, then Finish.
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 7 of 7")));
  const QString summary = Find<QPlainTextEdit>("summaryEdit")->toPlainText();
  EXPECT_TRUE(summary.contains(QStringLiteral("Source MySQL server:\n    db.example:3307\n")));
  EXPECT_TRUE(summary.contains(QStringLiteral("    1 database(s), 2 table(s)\n")));
  EXPECT_TRUE(summary.contains(QStringLiteral("Off-site copy:\n    s3://shop-backups/\n")));
  wizard->button(QWizard::FinishButton)->click();
  EXPECT_EQ(wizard->result(), QDialog::Accepted);

  const CTaskItem& task = context.Task;
  EXPECT_EQ(task.TaskName, "Shop nightly");
  EXPECT_EQ(task.Comment, "orders only");
  EXPECT_EQ(task.TaskType, 1);
  EXPECT_EQ(task.SourceServer.Host, "db.example");
  EXPECT_EQ(task.SourceServer.Port, 3307u);
  ASSERT_EQ(task.BackupDatabases.size(), 2u);
  EXPECT_EQ(task.BackupDatabases[0].Selected, 1);
  EXPECT_EQ(task.BackupDatabases[0].Tables[0].Selected, 1);
  EXPECT_EQ(task.BackupDatabases[0].Tables[1].Selected, 0);
  EXPECT_EQ(task.BackupDatabases[0].Tables[2].Selected, 1);
  EXPECT_EQ(task.BackupDatabases[1].Selected, 0);
  EXPECT_EQ(task.BackupSettings.IncludeStructure, 0);
  EXPECT_EQ(task.BackupSettings.IncludeRecords, 1);
  EXPECT_EQ(task.BackupSettings.FileType, 2);
  EXPECT_EQ(task.BackupSettings.FileMode, 1);
  EXPECT_EQ(task.BackupSettings.SameFilePath, fixture.Folder() + "Data/shop.php");
  EXPECT_EQ(task.Schedule.Kind, 0);
  const RemoteOptions remote = RemoteOptionsOf(task);
  EXPECT_EQ(remote.Kind, RemoteKind::S3);
  EXPECT_EQ(remote.Bucket, "shop-backups");
  EXPECT_EQ(remote.SecretAccessKey, "wJalrXUtnFEMI/K7MDENG");
  EXPECT_EQ(server->catalogueLoads, 2);
  // A new task gets routines, triggers, events and one snapshot unless the user says no.
  EXPECT_EQ(FindAdvancedOptions(task), CAdvancedOptions{});
}

TEST_F(WizardFlowTest, NoDatabaseButNewOnesAsksAndYesGoesOn) {
  Open(1);
  Next();
  Next();
  Next();
  Find<QCheckBox>("newDatabasesCheck")->setChecked(true);
  Dialogs::QueueAnswer(Answer::No);
  EXPECT_EQ(Texts(Next()), QStringLiteral("You did not choose any databases.\nDo you want to "
                                          "backup all newly-created databases on the server?"));
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 3 of 7")));
  Dialogs::QueueAnswer(Answer::Yes);
  Next();
  EXPECT_TRUE(wizard->windowTitle().endsWith(QStringLiteral("Step 4 of 7")));
  EXPECT_EQ(context.Task.BackupSettings.IncludeNewDatabases, 1);
}

TEST_F(WizardFlowTest, RestoreFromFilesWalksFiveStepsAndAsksBeforeRunningDrops) {
  const std::string folder = fixture.Folder();
  for (const char* file : {"a.sql", "B.SQL", "c.sql.gz"}) {
    std::FILE* f = std::fopen((folder + file).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("DROP TABLE t;\n", f);
    std::fclose(f);
  }
  const QString prefix = QStringLiteral("Task Wizard - Restore MySQL databases by SQL files - ");
  Open(6);
  Next();
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 1 of 5"));
  Next();
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 2 of 5"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please add the files!"));

  // Any file the user picks is taken, whatever its name; repeats are skipped; a file
  // that cannot be read (or a folder) is named in a warning rather than dropped unseen.
  auto* page = wizard->currentPage()->findChild<CRestoreFilesPage*>();
  ASSERT_NE(page, nullptr);
  const QString base = QString::fromStdString(folder);
  page->AddFiles({base + "a.sql", base + "B.SQL", base + "missing.sql", base + "c.sql.gz",
                  base + "a.sql", base});
  auto* list = Find<QTreeWidget>("filesList");
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("B.SQL"));
  EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("c.sql.gz"));
  EXPECT_EQ(list->topLevelItem(2)->text(2), QStringLiteral("0 KB"));
  const QList<ui::ShownBox> refused = Dialogs::TakeShown();
  ASSERT_EQ(refused.size(), 1);
  EXPECT_EQ(refused[0].Kind, ui::BoxKind::Warning);
  EXPECT_TRUE(refused[0].Text.endsWith(base + "missing.sql\n" + base))
      << refused[0].Text.toStdString();

  Dialogs::QueueAnswer(Answer::No);
  EXPECT_TRUE(
      Texts(Next()).startsWith(QStringLiteral("If there are some DROP and DELETE statements")));
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 2 of 5"));
  Dialogs::QueueAnswer(Answer::Yes);
  Next();
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 3 of 5"));
  // The only server of this type is a destination with nothing to differ from.
  EXPECT_TRUE(Next().isEmpty());
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 4 of 5"));
  Next();
  EXPECT_EQ(wizard->windowTitle(), prefix + QStringLiteral("Step 5 of 5"));
  ASSERT_EQ(context.Task.RestoreFiles.size(), 3u);
  EXPECT_EQ(context.Task.RestoreFiles[0].FullPath, folder + "a.sql");
  EXPECT_EQ(context.Task.RestoreFiles[0].FileSize, 14u);
  EXPECT_TRUE(Find<QPlainTextEdit>("summaryEdit")
                  ->toPlainText()
                  .contains(QStringLiteral(
                      "Backup Files:\n    3 file(s)\n\nMySQL server:\n    localhost:3306\n")));
}

TEST_F(WizardFlowTest, DestinationServerMustDifferFromTheSource) {
  Open(2);
  for (int i = 0; i < 4; ++i) Next();
  Find<QTreeWidget>("databaseTree")->topLevelItem(1)->setCheckState(0, Qt::Checked);
  Next();
  ASSERT_EQ(wizard->currentPage()
                ->findChild<QWidget*>(QStringLiteral("destinationServerPage"))
                ->isVisible(),
            true);
  EXPECT_EQ(Texts(Next()),
            QStringLiteral("The destination server can't same as the source server!"));
  Find<QLineEdit>("hostEdit")->setText(QStringLiteral("LOCALHOST"));  // compared exactly
  EXPECT_TRUE(Next().isEmpty());
  EXPECT_EQ(context.Task.DestinationServer.Host, "LOCALHOST");
}

TEST_F(WizardFlowTest, DatabaseToDatabaseChoosesSourceTablesAndNamesTheDestination) {
  Open(3);
  Next();
  Next();
  // Source database: none chosen, one that cannot be used, then one that can.
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please choose a source database!"));
  auto* source = Find<QComboBox>("sourceDatabaseCombo");
  source->addItem(QStringLiteral("locked"));
  source->setCurrentIndex(0);
  const QList<ui::ShownBox> refused = Next();
  ASSERT_EQ(refused.size(), 1);
  EXPECT_EQ(refused.front().Kind, ui::BoxKind::Stop);
  EXPECT_EQ(refused.front().Text,
            QStringLiteral("Failed to use the database!\n\nError NO. 1044\n"
                           "Access denied for user 'root'@'%' to database 'locked'"));
  source->addItem(QStringLiteral("shop"));
  source->setCurrentIndex(1);
  EXPECT_TRUE(Next().isEmpty());

  // Source tables: nothing chosen, then the view only.
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please choose the source tables!"));
  auto* list = Find<QListWidget>("tablesList");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text(), QStringLiteral("sales (View)"));
  list->item(1)->setCheckState(Qt::Checked);
  EXPECT_TRUE(Next().isEmpty());

  // Destination database: a new one, named with a dot, then with the proposed template.
  Find<QRadioButton>("newDatabaseRadio")->click();
  auto* name = Find<QLineEdit>("newDatabaseEdit");
  EXPECT_EQ(name->text(), QStringLiteral("%DATABASE%_%DATE%_%TIME%"));
  name->setText(QStringLiteral("shop.copy"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("There are some invalid characters \n('/', '\\', or '.') "
                                          "\nin the database name!"));
  name->setText(QStringLiteral("shop"));
  EXPECT_EQ(Texts(Next()),
            QStringLiteral("The destination database can't same as the source database!"));
  name->setText(QStringLiteral("%DATABASE%_%DATE%_%TIME%"));
  EXPECT_TRUE(Next().isEmpty());

  const CTaskItem& task = context.Task;
  EXPECT_EQ(task.SourceServer.Database, "shop");
  ASSERT_EQ(task.BackupDatabases.size(), 1u);
  EXPECT_EQ(task.BackupDatabases[0].DatabaseName, "shop");
  EXPECT_EQ(task.BackupDatabases[0].Tables[0].Selected, 0);
  EXPECT_EQ(task.BackupDatabases[0].Tables[1].Selected, 1);
  EXPECT_EQ(task.BackupSettings.CreateNewDestinationDatabase, 1);
  EXPECT_EQ(task.BackupSettings.DestinationDatabase, "%DATABASE%_%DATE%_%TIME%");
}

TEST_F(WizardFlowTest, ExportListAndSourcePoolPartitionTheTables) {
  Open(4);
  Next();
  Next();
  Next();
  auto* database = Find<QComboBox>("sourceDatabaseCombo");
  auto* source = Find<QListWidget>("sourceTablesList");
  auto* exported = Find<QListWidget>("exportTablesList");
  auto click = [this](const char* name) { Find<QAbstractButton>(name)->click(); };
  EXPECT_EQ(database->currentText(), QStringLiteral("shop"));
  click("addButton");
  EXPECT_EQ(Texts(Dialogs::TakeShown()), QStringLiteral("Please choose the source tables!"));
  click("removeButton");
  EXPECT_EQ(Texts(Dialogs::TakeShown()), QStringLiteral("Please choose the export tables!"));
  EXPECT_EQ(Texts(Next()), QStringLiteral("Please choose the export tables!"));

  source->item(2)->setSelected(true);  // the view
  click("addButton");
  EXPECT_EQ(source->count(), 2);
  database->setCurrentIndex(1);
  click("addAllButton");
  database->setCurrentIndex(0);
  EXPECT_EQ(source->count(), 2);  // the moved view stays out of the pool
  ASSERT_EQ(exported->count(), 2);
  exported->item(0)->setSelected(true);
  click("removeButton");
  EXPECT_EQ(source->count(), 3);
  EXPECT_TRUE(Next().isEmpty());
  ASSERT_EQ(context.Task.ExportTables.size(), 1u);
  EXPECT_EQ(context.Task.ExportTables[0].DatabaseName, "blog");
  EXPECT_EQ(context.Task.ExportTables[0].TableName, "posts");

  // Export file: TEXT's defaults are stored as the characters they name.
  auto* type = Find<QComboBox>("fileTypeCombo");
  type->setCurrentIndex(3);
  emit type->activated(3);
  EXPECT_EQ(Find<QLineEdit>("fileNameExample")->text(), QStringLiteral("Tablename.txt"));
  EXPECT_TRUE(Next().isEmpty());
  const ExportSettings& e = context.Task.ExportSettings;
  EXPECT_EQ(e.Format, 4);
  EXPECT_EQ(e.FieldsTerminatedBy, "\t");
  EXPECT_EQ(e.FieldsEnclosedBy, "");
  EXPECT_EQ(e.FieldsEscapedBy, "\\");
  EXPECT_EQ(e.LinesTerminatedBy, "\r\n");
  EXPECT_EQ(e.Folder, fixture.Folder() + "Data/Task 5/");
}

TEST_F(WizardFlowTest, UnknownTypeBecomesTypeOne) {
  Open(12);
  EXPECT_EQ(context.Task.TaskType, 1);
  Open(5);  // scripts have no advanced options
  EXPECT_FALSE(FindAdvancedOptions(context.Task).has_value());
  Open(12);
  Next();
  EXPECT_EQ(wizard->windowTitle(),
            QStringLiteral("Task Wizard - Backup MySQL databases to SQL/PHP files - Step 1 of 7"));
}

}  // namespace
}  // namespace brevanto::wizard
