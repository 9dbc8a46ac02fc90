// The task's "Advanced Options..." and "Notifications..." dialogs: what they show for the
// task's type, what they refuse, and what they store in the task's sections.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>

#include "notify/TaskNotificationsSection.h"
#include "tasks/AdvancedOptions.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/dialogs/NotificationsPage.h"
#include "ui/wizard/AdvancedOptionsDialog.h"
#include "ui/wizard/TaskNotificationsDialog.h"
#include "ui/wizard/TaskPropertySheet.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;

class TaskOptionsDialogsTest : public testing::Test {
 protected:
  TaskOptionsDialogsTest() { Dialogs::Script(); }
  ~TaskOptionsDialogsTest() override { Dialogs::Script(); }

  template <typename T>
  static T* Find(QWidget* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  static QString Shown() {
    QStringList texts;
    for (const ui::ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts.join(QStringLiteral(" | "));
  }
};

TEST_F(TaskOptionsDialogsTest, NotificationsRefuseBadTargetsAndCanGoBackToTheDefaults) {
  CTaskItem task = test::MakeTask("Nightly");
  TaskNotifications defaults = CNotificationSettings().Defaults;
  defaults.EmailTo = "dba@example.org";
  {
    CTaskNotificationsDialog dialog(nullptr, task, defaults);
    auto* useDefaults = Find<QCheckBox>(&dialog, "useDefaultsCheck");
    auto* emailTo = Find<QLineEdit>(&dialog, "emailTo");
    EXPECT_TRUE(useDefaults->isChecked());
    EXPECT_FALSE(emailTo->isEnabled());
    EXPECT_EQ(emailTo->text(), QStringLiteral("dba@example.org"));  // what the task does now

    useDefaults->setChecked(false);
    EXPECT_TRUE(emailTo->isEnabled());
    emailTo->setText(QStringLiteral("dba@example.org; ops"));
    Find<QCheckBox>(&dialog, "emailOnSuccess")->setChecked(true);
    dialog.accept();
    EXPECT_EQ(Shown(), QStringLiteral("\"ops\" is not an e-mail address (name@host)"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    emailTo->setText(QStringLiteral("ops@example.org"));
    Find<QLineEdit>(&dialog, "webhookUrl")->setText(QStringLiteral("chat.example.org/hook"));
    dialog.accept();
    EXPECT_EQ(Shown(), QStringLiteral("The webhook URL must start with http:// or https://."));
    EXPECT_TRUE(FindTaskNotifications(task).Empty());  // nothing stored while refused

    Find<QLineEdit>(&dialog, "webhookUrl")->clear();
    // Without a URL the webhook's choices rest, off and disabled: nothing to refuse.
    EXPECT_FALSE(Find<QCheckBox>(&dialog, "webhookOnFailure")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>(&dialog, "webhookOnFailure")->isChecked());
    dialog.accept();
    EXPECT_EQ(Shown(), QString());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  const TaskNotifications own = FindTaskNotifications(task);
  EXPECT_EQ(own.EmailTo, "ops@example.org");
  EXPECT_EQ(own.EmailOnSuccess, true);
  EXPECT_EQ(own.Desktop, true);  // every choice is the task's own now

  CTaskNotificationsDialog again(nullptr, task, defaults);
  EXPECT_FALSE(Find<QCheckBox>(&again, "useDefaultsCheck")->isChecked());
  Find<QCheckBox>(&again, "useDefaultsCheck")->setChecked(true);
  again.accept();
  EXPECT_TRUE(FindTaskNotifications(task).Empty());
}

// The program's defaults choose e-mail and webhook on failure but name no address: a task
// that leaves the defaults starts from a state it accepts, and the choices come back as
// soon as an address is typed. Options shows the same rule with fields wide enough to read.
TEST_F(TaskOptionsDialogsTest, NotificationsWithoutAddressesStartFromAStateTheyAccept) {
  const TaskNotifications defaults = CNotificationSettings().Defaults;
  CTaskItem task = test::MakeTask("Nightly");
  {
    CTaskNotificationsDialog dialog(nullptr, task, defaults);
    Find<QCheckBox>(&dialog, "useDefaultsCheck")->setChecked(false);
    for (const char* name : {"emailOnFailure", "emailOnSuccess", "webhookOnFailure"}) {
      SCOPED_TRACE(name);
      EXPECT_FALSE(Find<QCheckBox>(&dialog, name)->isChecked());
      EXPECT_FALSE(Find<QCheckBox>(&dialog, name)->isEnabled());
    }
    dialog.accept();
    EXPECT_EQ(Shown(), QString());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  // What rested is kept as chosen: an address given later (or imported) is mailed on failure.
  EXPECT_EQ(FindTaskNotifications(task).EmailOnFailure, true);
  EXPECT_EQ(FindTaskNotifications(task).EmailOnSuccess, false);

  CTaskNotificationsDialog again(nullptr, task, defaults);
  Find<QLineEdit>(&again, "emailTo")->setText(QStringLiteral("dba@example.org"));
  EXPECT_TRUE(Find<QCheckBox>(&again, "emailOnFailure")->isEnabled());
  EXPECT_TRUE(Find<QCheckBox>(&again, "emailOnFailure")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(&again, "webhookOnFailure")->isEnabled());

  ui::CNotificationsPage page(CNotificationSettings{});
  for (const char* name : {"emailTo", "webhookUrl"}) {
    auto* field = Find<QLineEdit>(&page, name);
    EXPECT_GE(field->minimumWidth(), field->fontMetrics().averageCharWidth() * 40)
        << name;
  }
  Find<QLineEdit>(&page, "emailTo")->setText(QStringLiteral("ops"));
  EXPECT_EQ(page.Problem(), "\"ops\" is not an e-mail address (name@host)");
}

TEST_F(TaskOptionsDialogsTest, AdvancedOptionsShowWhatTheTypeUses) {
  CTaskItem task = test::MakeTask("Orders");
  task.TaskType = 4;
  CAdvancedOptionsDialog dialog(nullptr, task);
  EXPECT_TRUE(Find<QCheckBox>(&dialog, "includeRoutinesCheck")->isHidden());
  EXPECT_TRUE(Find<QCheckBox>(&dialog, "consistentSnapshotCheck")->isHidden());
  auto* compression = Find<QComboBox>(&dialog, "compressionCombo");
  EXPECT_FALSE(compression->isHidden());
  compression->setCurrentIndex(compression->findData(static_cast<int>(Compression::Gzip)));
  auto* nullMarker = Find<QCheckBox>(&dialog, "nullMarkerCheck");
  EXPECT_FALSE(nullMarker->isHidden());
  EXPECT_FALSE(nullMarker->isChecked());
  nullMarker->setChecked(true);
  dialog.accept();
  ASSERT_TRUE(FindAdvancedOptions(task).has_value());
  EXPECT_EQ(FindAdvancedOptions(task)->Compression, Compression::Gzip);
  EXPECT_TRUE(FindAdvancedOptions(task)->NullMarker);

  task.TaskType = 2;  // a copy writes no file
  CAdvancedOptionsDialog copy(nullptr, task);
  EXPECT_FALSE(Find<QCheckBox>(&copy, "includeRoutinesCheck")->isHidden());
  EXPECT_TRUE(Find<QComboBox>(&copy, "compressionCombo")->isHidden());
  EXPECT_TRUE(Find<QCheckBox>(&copy, "nullMarkerCheck")->isHidden());
}

TEST_F(TaskOptionsDialogsTest, SpeedOptionsShowPerTypeAndRoundTrip) {
  CTaskItem task = test::MakeTask("Orders");
  struct Expected {
    int Type;
    bool Statement, Transaction, Threads;
  };
  for (const Expected& e : {Expected{1, true, false, true}, Expected{2, true, true, true},
                            Expected{8, true, true, true}, Expected{4, false, false, false},
                            Expected{6, false, true, true}}) {
    task.TaskType = e.Type;
    CAdvancedOptionsDialog dialog(nullptr, task);
    EXPECT_EQ(Find<QSpinBox>(&dialog, "statementSizeSpin")->isVisibleTo(&dialog), e.Statement)
        << e.Type;
    EXPECT_EQ(Find<QCheckBox>(&dialog, "transactionPerTableCheck")->isVisibleTo(&dialog),
              e.Transaction)
        << e.Type;
    EXPECT_EQ(Find<QSpinBox>(&dialog, "threadsSpin")->isVisibleTo(&dialog), e.Threads) << e.Type;
  }

  // A task without the section shows the classic behaviour: own statement shape, one table.
  task.TaskType = 2;
  {
    CAdvancedOptionsDialog dialog(nullptr, task);
    EXPECT_FALSE(Find<QCheckBox>(&dialog, "fillStatementsCheck")->isChecked());
    EXPECT_FALSE(Find<QSpinBox>(&dialog, "statementSizeSpin")->isEnabled());
    EXPECT_EQ(Find<QSpinBox>(&dialog, "threadsSpin")->value(), 1);
    Find<QCheckBox>(&dialog, "fillStatementsCheck")->setChecked(true);
    Find<QSpinBox>(&dialog, "statementSizeSpin")->setValue(64);
    Find<QCheckBox>(&dialog, "transactionPerTableCheck")->setChecked(true);
    Find<QSpinBox>(&dialog, "threadsSpin")->setValue(4);
    dialog.accept();
  }
  ASSERT_TRUE(FindAdvancedOptions(task).has_value());
  EXPECT_EQ(FindAdvancedOptions(task)->StatementBytes, 64u * 1024);
  EXPECT_TRUE(FindAdvancedOptions(task)->TransactionPerTable);
  EXPECT_EQ(FindAdvancedOptions(task)->Threads, 4);

  // An odd size left untouched keeps its bytes; unchecking stores the task's own shape.
  CAdvancedOptions odd = *FindAdvancedOptions(task);
  odd.StatementBytes = 5000;
  SetAdvancedOptions(task, odd);
  {
    CAdvancedOptionsDialog dialog(nullptr, task);
    EXPECT_EQ(Find<QSpinBox>(&dialog, "statementSizeSpin")->value(), 5);
    dialog.accept();
  }
  EXPECT_EQ(FindAdvancedOptions(task)->StatementBytes, 5000u);
  {
    CAdvancedOptionsDialog dialog(nullptr, task);
    Find<QCheckBox>(&dialog, "fillStatementsCheck")->setChecked(false);
    dialog.accept();
  }
  EXPECT_EQ(FindAdvancedOptions(task)->StatementBytes, 0u);
  EXPECT_EQ(FindAdvancedOptions(task)->Threads, 4);  // untouched fields stay
}

TEST_F(TaskOptionsDialogsTest, RestorePropertiesListItsSpeedOptions) {
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  CTaskItem task = test::MakeTask("Reload");
  task.TaskType = 6;
  CAdvancedOptions options;
  options.Threads = 3;
  SetAdvancedOptions(task, options);
  CSheetContext context;
  context.Core = &fixture.Core();
  context.Mode = SheetMode::View;
  context.Task = task;
  CTaskPropertySheet sheet(context);
  const QString shown = Find<QLabel>(&sheet, "advancedOptionsView")->text();
  EXPECT_TRUE(shown.contains(QStringLiteral("Files at a time: 3"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("One transaction per table: yes")));
  EXPECT_FALSE(shown.contains(QStringLiteral("Statement size")));
}

TEST_F(TaskOptionsDialogsTest, PropertiesListTheTasksOwnNotifications) {
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  CTaskItem task = test::MakeTask("Nightly");
  task.TaskType = 5;
  TaskNotifications own;
  own.EmailTo = "ops@example.org";
  own.EmailOnSuccess = true;
  SetTaskNotifications(task, own);
  CSheetContext context;
  context.Core = &fixture.Core();
  context.Mode = SheetMode::View;
  context.Task = task;
  CTaskPropertySheet sheet(context);
  QTabWidget* tabs = sheet.Tabs();
  tabs->setCurrentIndex(tabs->count() - 1);
  const QString shown = Find<QLabel>(tabs->currentWidget(), "taskNotificationsView")->text();
  EXPECT_TRUE(
      shown.contains(QStringLiteral("E-mail to: ops@example.org (on failure: default, "
                                    "on success: yes)")))
      << shown.toStdString();
}

TEST_F(TaskOptionsDialogsTest, ExportFilePageNamesCompressedFilesAsTheyAreWritten) {
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  CTaskItem task = test::MakeTask("Orders");
  task.TaskType = 4;
  task.ExportSettings.Format = 4;
  task.ExportSettings.Folder = fixture.Folder() + "out/";
  CAdvancedOptions options;
  options.Compression = Compression::Zstd;
  SetAdvancedOptions(task, options);
  CSheetContext context;
  context.Core = &fixture.Core();
  context.Mode = SheetMode::Edit;
  context.Task = task;
  CTaskPropertySheet sheet(context);
  QWidget* page = sheet.findChild<QWidget*>(QStringLiteral("exportFilePage"));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(Find<QLineEdit>(page, "fileNameExample")->text(), QStringLiteral("Tablename.txt.zst"));
}

}  // namespace
}  // namespace brevanto::wizard
