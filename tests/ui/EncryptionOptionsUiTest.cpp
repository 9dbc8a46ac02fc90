// The encryption choices of backups and exports (the advanced options) and the identity
// file of restores: stored into the task's "Encryption" section and shown back on edit.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>

#include "core/Age.h"
#include "tasks/EncryptionOptions.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/wizard/AdvancedOptionsDialog.h"
#include "ui/wizard/EncryptionBox.h"
#include "ui/wizard/RestoreFilesPage.h"
#include "ui/wizard/TaskPropertySheet.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;

constexpr int kBackupToFiles = 1;
constexpr int kExport = 4;
constexpr int kRestoreFiles = 6;

class EncryptionOptionsUiTest : public testing::Test {
 protected:
  EncryptionOptionsUiTest() { Dialogs::Script(); }
  ~EncryptionOptionsUiTest() override { Dialogs::Script(); }

  template <typename T>
  static T* Find(QWidget* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  static std::string NewKey() { return GenerateAgeIdentity().Recipient().Text(); }
  static QStringList Listed(QWidget* dialog) {
    QStringList keys;
    auto* list = Find<QListWidget>(dialog, "recipientsList");
    for (int i = 0; i < list->count(); ++i) keys << list->item(i)->text();
    return keys;
  }
  test::FakeClock m_clock;
};

TEST_F(EncryptionOptionsUiTest, KeysAreStoredAndShownAgainOnEdit) {
  const std::string first = NewKey();
  const std::string second = NewKey();
  for (int type : {kBackupToFiles, kExport}) {
    CTaskItem task = test::MakeTask("Orders");
    task.TaskType = type;
    {
      CAdvancedOptionsDialog dialog(nullptr, task, &m_clock);
      EXPECT_TRUE(Listed(&dialog).isEmpty());
      Find<QLineEdit>(&dialog, "recipientEdit")->setText(QString::fromStdString(first));
      Find<QPushButton>(&dialog, "addRecipientButton")->click();
      // A key left in the field when OK is pressed is taken as well.
      Find<QLineEdit>(&dialog, "recipientEdit")->setText(QString::fromStdString(second) + " ");
      dialog.accept();
      EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(EncryptionOptionsOf(task).Recipients, (std::vector<std::string>{first, second}));
    CAdvancedOptionsDialog again(nullptr, task, &m_clock);
    EXPECT_EQ(Listed(&again),
              (QStringList{QString::fromStdString(first), QString::fromStdString(second)}));
    // Removing every key stores plain files again: the section goes.
    Find<QListWidget>(&again, "recipientsList")->selectAll();
    Find<QPushButton>(&again, "removeRecipientButton")->click();
    again.accept();
    EXPECT_TRUE(EncryptionOptionsOf(task).Empty()) << type;
  }
}

TEST_F(EncryptionOptionsUiTest, AnInvalidKeyIsRefusedWithTheParsersMessage) {
  CTaskItem task = test::MakeTask("Orders");
  task.TaskType = kBackupToFiles;
  CAdvancedOptionsDialog dialog(nullptr, task, &m_clock);
  std::string bad = NewKey();
  bad.back() = bad.back() == 'q' ? 'p' : 'q';  // checksum no longer matches
  AgeRecipient parsed;
  const Status expected = ParseAgeRecipient(bad, parsed);
  ASSERT_FALSE(expected.ok());
  Find<QLineEdit>(&dialog, "recipientEdit")->setText(QString::fromStdString(bad));
  dialog.accept();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  const QList<ui::ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown.front().Text.toStdString(), expected.message());
  EXPECT_TRUE(EncryptionOptionsOf(task).Empty());
  EXPECT_TRUE(Listed(&dialog).isEmpty());
}

TEST_F(EncryptionOptionsUiTest, KeysAreReadFromKeygenFilesAndCopyTasksOfferNone) {
  CEncryptionBox box(nullptr, m_clock);
  const AgeIdentity identity = GenerateAgeIdentity();
  const std::string key = identity.Recipient().Text();
  // The comment line of an identity file, and its secret key alone.
  EXPECT_TRUE(box.AddRecipientText(
                     QString::fromStdString(AgeIdentityFileText(identity, "2026-12-08T01:02:03Z")))
                  .ok());
  EXPECT_TRUE(box.AddRecipientText(QString::fromStdString(identity.Text() + "\n")).ok());
  EXPECT_EQ(box.Recipients(), QStringList{QString::fromStdString(key)});
  EXPECT_FALSE(box.AddRecipientText(QStringLiteral("# public key: age1nope\n")).ok());

  CTaskItem copy = test::MakeTask("Copy");
  copy.TaskType = 2;
  CAdvancedOptionsDialog dialog(nullptr, copy, &m_clock);
  EXPECT_FALSE(Find<CEncryptionBox>(&dialog, "encryptionBox")->isVisibleTo(&dialog));
}

TEST_F(EncryptionOptionsUiTest, AGeneratedIdentityIsOwnerOnlyAndItsKeyIsListed) {
  test::TempDir dir;
  const std::string path = dir.file("identity.txt");
  CEncryptionBox box(nullptr, m_clock);
  ASSERT_TRUE(box.GenerateKeyPair(QString::fromStdString(path)).ok());
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<AgeIdentity> identities;
  ASSERT_TRUE(ParseAgeIdentityFile(text.str(), std::string(), identities).ok());
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_NE(text.str().find("2024-01-01T12:00:00Z"), std::string::npos) << text.str();
  EXPECT_EQ(box.Recipients(),
            QStringList{QString::fromStdString(identities[0].Recipient().Text())});
  // An existing identity is never replaced.
  EXPECT_FALSE(box.GenerateKeyPair(QString::fromStdString(path)).ok());
  EXPECT_EQ(box.Recipients().size(), 1);
}

TEST_F(EncryptionOptionsUiTest, PropertiesListTheKeysAndTheRestoresIdentity) {
  test::CoreFixture fixture(m_clock);
  const std::string key = NewKey();
  struct Case {
    int Type;
    EncryptionOptions Options;
    const char* Expected;
  };
  const std::string expectedKey = "Encryption: " + key;
  for (const Case& c : {Case{kBackupToFiles, {}, "Encryption: None"},
                        Case{kExport, {{key}, ""}, expectedKey.c_str()},
                        Case{kRestoreFiles, {{}, "/keys/me.txt"}, "Identity file: /keys/me.txt"},
                        Case{kRestoreFiles, {}, "Identity file: None"}}) {
    CSheetContext context;
    context.Core = &fixture.Core();
    context.Mode = SheetMode::View;
    context.Task = test::MakeTask("Orders");
    context.Task.TaskType = c.Type;
    SetEncryptionOptions(context.Task, c.Options);
    CTaskPropertySheet sheet(context);
    const QString shown = Find<QLabel>(&sheet, "advancedOptionsView")->text();
    EXPECT_TRUE(shown.contains(QString::fromStdString(c.Expected))) << shown.toStdString();
  }
}

TEST_F(EncryptionOptionsUiTest, TheRestoreStoresItsIdentityFileAndRefusesARelativeOne) {
  CSheetContext context;
  context.Mode = SheetMode::Edit;
  context.Task = test::MakeTask("Reload");
  context.Task.TaskType = kRestoreFiles;
  RestoreFileItem file;
  file.FileName = "a.sql";
  file.FullPath = "/backups/a.sql";
  context.Task.RestoreFiles = {file};
  SetEncryptionOptions(context.Task, {{}, "/keys/old.txt"});
  CRestoreFilesPage page(context);
  page.Load();
  auto* identity = Find<QLineEdit>(&page, "identityFileEdit");
  EXPECT_EQ(identity->text(), QStringLiteral("/keys/old.txt"));
  identity->setText(QStringLiteral("keys/me.txt"));
  EXPECT_FALSE(page.Leave());
  EXPECT_EQ(Dialogs::TakeShown().size(), 1);
  EXPECT_EQ(EncryptionOptionsOf(context.Task).IdentityFile, "/keys/old.txt");
  identity->setText(QStringLiteral("/keys/me.txt"));
  EXPECT_TRUE(page.Leave());
  EXPECT_EQ(EncryptionOptionsOf(context.Task).IdentityFile, "/keys/me.txt");
  identity->clear();
  EXPECT_TRUE(page.Leave());
  EXPECT_TRUE(EncryptionOptionsOf(context.Task).Empty());
}

}  // namespace
}  // namespace brevanto::wizard
