// The Options sheet: what each page opens with, stores and refuses, and the frame's OK.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "core/AtomicFile.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/DialogsTestSupport.h"
#include "tests/ui/UiFixture.h"
#include "ui/Autostart.h"
#include "ui/Dialogs.h"
#include "ui/FrameDialogs.h"
#include "ui/MainActions.h"
#include "ui/MainFrame.h"
#include "ui/dialogs/HotKeyEdit.h"
#include "ui/dialogs/OptionsSheet.h"
#include "ui/dialogs/SettingsDialogs.h"

namespace brevanto::ui {
namespace {

using test::Child;
using test::Click;
using test::Type;

constexpr const char* kFolder = "/srv/brevanto/";

QLineEdit* SizeField(const QWidget* sheet) {
  return Child<QWidget>(sheet, "maxLogSize")->findChild<QLineEdit*>();
}

class OptionsSheetTest : public testing::Test {
 protected:
  void SetUp() override { Dialogs::Script(); }
  void TearDown() override { Dialogs::EndScript(); }
};

TEST_F(OptionsSheetTest, StylesOpenOnTheirRadioAndUnknownOnesOnTheFirst) {
  const struct {
    int date, time;
    const char* dateRadio;
    const char* timeRadio;
  } cases[] = {
      {1, 1, "dateStyle1", "timeStyle1"}, {2, 2, "dateStyle2", "timeStyle2"},
      {3, 1, "dateStyle3", "timeStyle1"}, {0, 0, "dateStyle1", "timeStyle1"},
      {9, 7, "dateStyle1", "timeStyle1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    CSystemOptions options;
    options.DateFormat = static_cast<std::uint8_t>(c.date);
    options.TimeFormat = static_cast<std::uint8_t>(c.time);
    COptionsSheet sheet(options, kFolder);
    EXPECT_TRUE(Child<QRadioButton>(&sheet, c.dateRadio)->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(&sheet, c.timeRadio)->isChecked());
  }
}

TEST_F(OptionsSheetTest, OkStoresThePagesAndAnEmptyUserClearsThePassword) {
  CSystemOptions options;
  options.LoginUserName = "admin";
  options.LoginPassword = "old";
  COptionsSheet sheet(options, kFolder);
  Type(&sheet, "loginUserName", "");
  Type(&sheet, "loginPassword", "typed");
  Child<QCheckBox>(&sheet, "autoRun")->setChecked(true);
  Child<QRadioButton>(&sheet, "dateStyle3")->setChecked(true);
  Child<QRadioButton>(&sheet, "timeStyle2")->setChecked(true);
  Child<CHotKeyEdit>(&sheet, "hotKey")->SetHotKey(0x70, 1);
  Type(&sheet, "backupFolder", "/backups/");
  Child<QRadioButton>(&sheet, "limitedLog")->click();
  SizeField(&sheet)->setText("1");  // below the arrows' 10, still accepted
  sheet.accept();

  ASSERT_EQ(sheet.result(), QDialog::Accepted);
  const CSystemOptions& stored = sheet.Options();
  EXPECT_EQ(stored.LoginUserName, "");
  EXPECT_EQ(stored.LoginPassword, "");
  EXPECT_EQ(stored.AutoRun, 1);
  EXPECT_EQ(stored.DateFormat, 3);
  EXPECT_EQ(stored.TimeFormat, 2);
  EXPECT_EQ(stored.HotKeyVirtualKey, 0x70);
  EXPECT_EQ(stored.HotKeyModifiers, 1);
  EXPECT_EQ(stored.DefaultBackupFolder, "/backups/");
  EXPECT_EQ(stored.LimitLogSize, 1);
  EXPECT_EQ(stored.MaxLogSizeKB, 1u);
  EXPECT_TRUE(Dialogs::TakeShown().isEmpty());
}

TEST_F(OptionsSheetTest, LogSizeOutsideTheRangeKeepsTheSheetOnItsPage) {
  for (const char* size : {"0", "100001", "", "999999"}) {
    SCOPED_TRACE(size);
    CSystemOptions options;
    COptionsSheet sheet(options, kFolder);
    sheet.show();
    sheet.Tabs()->setCurrentIndex(1);
    Child<QRadioButton>(&sheet, "limitedLog")->click();
    SizeField(&sheet)->setText(size);
    sheet.accept();
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(sheet.Tabs()->currentIndex(), 1);
    QList<ShownBox> shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].Kind, BoxKind::Warning);
    EXPECT_EQ(shown[0].Text, "Please input the maximum size between 1 and 100000!");
    EXPECT_TRUE(shown[0].ParentShown);

    // Leaving the page for General is refused the same way, over the page it is about.
    sheet.Tabs()->setCurrentIndex(0);
    EXPECT_EQ(sheet.Tabs()->currentIndex(), 1);
    shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].ParentShown) << "the message showed over the General page";

    // Once the size is fixed the switch goes through.
    SizeField(&sheet)->setText("500");
    sheet.Tabs()->setCurrentIndex(0);
    EXPECT_EQ(sheet.Tabs()->currentIndex(), 0);
  }
}

TEST_F(OptionsSheetTest, LogLimitChoiceEnablesAndEmptiesTheSizeField) {
  CSystemOptions options;
  options.LimitLogSize = 1;
  options.MaxLogSizeKB = 512;
  COptionsSheet sheet(options, kFolder);
  EXPECT_EQ(SizeField(&sheet)->text(), "512");
  EXPECT_TRUE(Child<QWidget>(&sheet, "maxLogSize")->isEnabled());
  Child<QRadioButton>(&sheet, "unlimitedLog")->click();
  EXPECT_EQ(SizeField(&sheet)->text(), "");
  EXPECT_FALSE(Child<QWidget>(&sheet, "maxLogSize")->isEnabled());
  EXPECT_FALSE(Child<QLabel>(&sheet, "logSizeNote")->isEnabled());
  sheet.accept();
  EXPECT_EQ(sheet.Options().LimitLogSize, 0);
  EXPECT_EQ(sheet.Options().MaxLogSizeKB, 0u);
}

TEST_F(OptionsSheetTest, ResetButtonsRestoreTheDefaults) {
  CSystemOptions options;
  options.LoginUserName = "admin";
  options.LoginPassword = "pw";
  options.AutoRun = 1;
  options.BlockShutdownWhileRunning = 1;
  options.HotKeyVirtualKey = 0x41;
  options.HotKeyModifiers = 1;
  options.DateFormat = 3;
  options.TimeFormat = 2;
  options.DefaultBackupFolder = "/elsewhere/";
  options.LimitLogSize = 1;
  options.MaxLogSizeKB = 20;
  COptionsSheet sheet(options, kFolder);
  Click(&sheet, "resetGeneral");
  Click(&sheet, "resetBackupLog");
  sheet.accept();
  CSystemOptions expected;
  expected.DefaultBackupFolder = std::string(kFolder) + "Data/";
  EXPECT_EQ(sheet.Options(), expected);
}

TEST_F(OptionsSheetTest, BrowseStartsInTheFolderAndShowsTheChoiceWithASlash) {
  CSystemOptions options;
  options.DefaultBackupFolder = "/old/";
  COptionsSheet sheet(options, kFolder);
  Dialogs::QueueFileName("/chosen/folder");
  Click(&sheet, "browseFolder");
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].Kind, BoxKind::Folder);
  EXPECT_EQ(shown[0].Text, "Select a folder where you want to store the backup files:");
  EXPECT_EQ(Child<QLineEdit>(&sheet, "backupFolder")->text(), "/chosen/folder/");
  Click(&sheet, "browseFolder");  // cancelled: the field keeps its folder
  EXPECT_EQ(Child<QLineEdit>(&sheet, "backupFolder")->text(), "/chosen/folder/");
}

TEST_F(OptionsSheetTest, HotKeyFieldTakesTheKeyWithItsModifiers) {
  CHotKeyEdit edit;
  edit.SetHotKey(77, 6);
  EXPECT_EQ(edit.text(), "Ctrl + Alt + M");
  QTest::keyClick(&edit, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(edit.VirtualKey(), 0x4B);
  EXPECT_EQ(edit.Modifiers(), 3);
  QTest::keyClick(&edit, Qt::Key_F5, Qt::MetaModifier);
  EXPECT_EQ(edit.VirtualKey(), 0x74);
  EXPECT_EQ(edit.Modifiers(), 8);
  QTest::keyClick(&edit, Qt::Key_7, Qt::KeypadModifier);
  EXPECT_EQ(edit.VirtualKey(), 0x67);
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(edit.VirtualKey(), 0);
  EXPECT_EQ(edit.Modifiers(), 0);
  EXPECT_EQ(edit.text(), "None");
}

// The frame's OK: the options file, the autorun entry and an empty folder's default.
TEST_F(OptionsSheetTest, FrameOkSavesTheOptionsAndWritesTheAutorunEntry) {
  test::TempDir config;
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  FrameDialogs dialogs;
  PlugInSettingsDialogs(dialogs, fixture.Core());
  {
    CMainFrame frame(fixture.Core(), dialogs);
    test::WhenModalOpens([](QWidget* sheet) {
      Type(sheet, "loginUserName", "admin");
      Type(sheet, "loginPassword", "secret");
      Type(sheet, "backupFolder", "");
      Child<QCheckBox>(sheet, "autoRun")->setChecked(true);
      Click(sheet, "ok");
    });
    ASSERT_TRUE(frame.Actions().options->isEnabled());
    frame.Actions().options->trigger();
  }
  if (oldConfig.isNull()) {
    qunsetenv("XDG_CONFIG_HOME");
  } else {
    qputenv("XDG_CONFIG_HOME", oldConfig);
  }
  CSystemOptions stored;
  ASSERT_TRUE(LoadOptions(fixture.Folder(), stored));
  EXPECT_EQ(stored.LoginUserName, "admin");
  EXPECT_EQ(stored.LoginPassword, "secret");
  EXPECT_EQ(stored.AutoRun, 1);
  EXPECT_EQ(stored.DefaultBackupFolder, fixture.Folder() + "Data/");
  EXPECT_TRUE(FileExists(AutostartEntryPath(config.path())));
  EXPECT_NE(test::ReadWholeFile(AutostartEntryPath(config.path()))
                .find(" --folder \"" + fixture.Folder() + "\"\n"),
            std::string::npos);
}

}  // namespace
}  // namespace brevanto::ui
