// The window's restore of an off-site copy: the copy (the newest complete one preselected, a
// copy that is not whole not choosable), the server and database, one question, and then a
// restore task that reads that copy from the backup task's target, run at once. The copies
// come from a store over a folder, listed on the dialog's thread.

#include <QTreeWidget>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include "core/Sha256.h"
#include "engines/OffsiteRestore.h"
#include "tasks/RemoteOptions.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FolderStore.h"
#include "tests/ui/UiFixture.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/OffsiteRestoreDialogs.h"
#include "ui/TasksViewCommands.h"

namespace brevanto::ui {
namespace {

class OffsiteRestoreFlowTest : public testing::Test {
 protected:
  void SetUp() override {
    Dialogs::Script();
    CTaskItem local = test::MakeTask("Local");
    local.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    fixture.Add(local);
    CTaskItem nightly = test::MakeTask("Nightly");
    nightly.TaskType = static_cast<std::uint8_t>(TaskType::BackupToFiles);
    m_remote.Kind = RemoteKind::Rclone;
    m_remote.RcloneRemote = "t";
    m_remote.Path = "/backups/";
    SetRemoteOptions(nightly, m_remote);
    fixture.Add(nightly);
    CServerInfo server;
    server.ConnectionName = "Test server";
    server.Host = "127.0.0.1";
    ASSERT_TRUE(fixture.Core().Servers().Append(server));
    view.RefreshAll();
    const std::string folder = m_folder.path();
    commands.SetCopyLister([folder](const CTaskItem&, std::vector<RemoteCopy>& copies) {
      test::FolderStore store(folder);
      return ListRemoteCopies(store, copies);
    });
  }
  void TearDown() override { Dialogs::EndScript(); }

  void PutCopy(const std::string& copy, const std::string& started, bool encrypted = false) {
    CopyManifest manifest;
    manifest.TaskName = "Nightly";
    manifest.Started = started;
    manifest.Tables.push_back({"shop", "orders", "InnoDB", 2, ""});
    if (encrypted) manifest.Recipients.push_back("fingerprint");
    ASSERT_TRUE(m_store.PutBytes(copy + "/shop.sql", "INSERT 1;\n").ok());
    manifest.Files.push_back({copy + "/shop.sql", 10, Sha256Hex("INSERT 1;\n"), {}});
    ASSERT_TRUE(m_store.PutBytes(copy + ".manifest.json", ManifestToJson(manifest)).ok());
  }

  QStringList Shown() {
    QStringList texts;
    for (const ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts;
  }

  test::FakeClock clock{test::MakeTime(2026, 12, 8, 12, 0, 0)};
  test::CoreFixture fixture{clock};
  QWidget window;
  FrameDialogs dialogs;
  CBrevantoTasksView view{fixture.Core().Tasks(), &fixture.Core().Runner(), &window};
  CTasksViewCommands commands{fixture.Core(), view, dialogs, &window};
  test::TempDir m_folder;
  test::FolderStore m_store{m_folder.path()};
  RemoteOptions m_remote;
};

TEST_F(OffsiteRestoreFlowTest, TwoDialogsAndAQuestionAddARestoreTaskOfTheChosenCopy) {
  PutCopy("2026-12-06_03-00", "2026-12-06T03:00:00Z");
  PutCopy("2026-12-07_03-00", "2026-12-07T03:00:00Z");
  PutCopy("2026-12-08_03-00", "2026-12-08T03:00:00Z");
  ASSERT_TRUE(m_store.Delete("2026-12-08_03-00/shop.sql").ok());  // newest, not whole
  int shown = 0;
  commands.SetDialogRunner([&](QDialog& dialog) {
    ++shown;
    if (auto* copies = dynamic_cast<OffsiteCopyDialog*>(&dialog)) {
      EXPECT_EQ(copies->Backup().TaskName, "Nightly");  // the only one with a target
      EXPECT_TRUE(test::WaitUntil([&] { return copies->Listed(); }));
      QTreeWidget* list = copies->CopyList();
      EXPECT_EQ(list->topLevelItemCount(), 3);
      EXPECT_FALSE(list->topLevelItem(2)->flags() & Qt::ItemIsEnabled);
      EXPECT_EQ(list->currentItem()->text(0), "2026-12-07_03-00");
      list->setCurrentItem(list->topLevelItem(0));  // an older one, chosen
    } else if (auto* target = dynamic_cast<OffsiteTargetDialog*>(&dialog)) {
      EXPECT_EQ(target->ServerBox()->currentText(), "Test server");
      EXPECT_EQ(target->DatabaseEdit()->text(), "shop");  // as the copy names it
      target->DatabaseEdit()->setText("shop_check");
    }
    dialog.accept();
    return dialog.result();
  });
  Dialogs::QueueAnswer(Answer::Yes);
  commands.RestoreOffsite();

  EXPECT_EQ(shown, 2);
  const QStringList boxes = Shown();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(
      boxes[0].startsWith("Do you want to RESTORE the off-site copy 2026-12-06_03-00 of "
                          "\"Nightly\" (1 files, 10 B) from rclone t:/backups/ into the "
                          "database \"shop_check\" on \"Test server\" now?"))
      << boxes[0].toStdString();
  CTaskList& tasks = fixture.Core().Tasks();
  ASSERT_EQ(tasks.Count(), 3);
  const CTaskItem restore = tasks.At(2);
  EXPECT_EQ(restore.TaskName, "Restore Nightly 2026-12-06_03-00");
  EXPECT_EQ(restore.GetType(), TaskType::RestoreFromFiles);
  EXPECT_EQ(restore.DestinationServer.ConnectionName, "Test server");
  EXPECT_EQ(restore.RunImmediately, 1);
  EXPECT_EQ(RemoteOptionsOf(restore), m_remote);
  const OffsiteRestoreOptions offsite = OffsiteRestoreOptionsOf(restore);
  EXPECT_EQ(offsite.Copy, "2026-12-06_03-00");
  EXPECT_EQ(offsite.Database, "shop_check");
  EXPECT_EQ(view.SelectedRows(), QList<int>({2}));

  // Said No to, the same steps add nothing; a second yes gets a name of its own.
  Dialogs::QueueAnswer(Answer::No);
  commands.RestoreOffsite();
  EXPECT_EQ(tasks.Count(), 3);
  Dialogs::QueueAnswer(Answer::Yes);
  commands.RestoreOffsite();
  ASSERT_EQ(tasks.Count(), 4);
  EXPECT_EQ(tasks.At(3).TaskName, "Restore Nightly 2026-12-06_03-00 (2)");
}

TEST_F(OffsiteRestoreFlowTest, AnEncryptedCopyNeedsItsIdentityAndEachStepChecksItsFields) {
  PutCopy("2026-12-08_03-00", "2026-12-08T03:00:00Z", true);
  std::vector<RemoteCopy> copies;
  ASSERT_TRUE(ListRemoteCopies(m_store, copies).ok());
  ASSERT_EQ(copies.size(), 1u);

  OffsiteTargetDialog target(fixture.Core().Servers().Entries(), copies[0], "", &window);
  target.DatabaseEdit()->clear();
  target.accept();
  target.DatabaseEdit()->setText("shop");
  target.accept();
  EXPECT_EQ(target.result(), QDialog::Rejected);
  target.IdentityEdit()->setText("/keys/restore.key");
  target.accept();
  EXPECT_EQ(target.result(), QDialog::Accepted);
  EXPECT_EQ(target.IdentityFile(), "/keys/restore.key");
  EXPECT_EQ(Shown(), QStringList({"Please input the database to restore into!",
                                  "The copy is encrypted: please choose the identity file "
                                  "that opens it!"}));

  // A store that cannot be listed says why in the first step, and nothing can be chosen.
  OffsiteCopyDialog failing(
      {fixture.Core().Tasks().At(1)}, 0,
      [](const CTaskItem&, std::vector<RemoteCopy>&) {
        return Status::Error("Listing failed: no such remote");
      },
      &window);
  ASSERT_TRUE(test::WaitUntil([&] { return failing.Listed(); }));
  failing.accept();
  EXPECT_EQ(failing.result(), QDialog::Rejected);
  EXPECT_EQ(Shown(), QStringList({"Please choose a complete copy!"}));
}

TEST_F(OffsiteRestoreFlowTest, TheCopyListGrowsToShowEveryColumnWhole) {
  OffsiteCopyDialog copies(
      {fixture.Core().Tasks().At(1)}, 0,
      [](const CTaskItem&, std::vector<RemoteCopy>& listed) {
        RemoteCopy copy;
        copy.ManifestName = "2026-12-06_020000.manifest.json";
        copy.Manifest.emplace();
        copy.Manifest->Started = "2026-12-06T02:00:05Z";
        copy.Manifest->Server.Hostname = "db-primary.internal.example";
        copy.Size = 187'236'352;
        copy.Problem = "shop/orders.sql.zst holds 187236352 bytes, not 412310528";
        listed = {copy};
        return Status::Ok();
      },
      &window);
  copies.show();
  ASSERT_TRUE(test::WaitUntil([&] { return copies.Listed(); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(copies.CopyList()->horizontalScrollBar()->maximum(), 0);
}

TEST_F(OffsiteRestoreFlowTest, TheRememberedIdentityFileShowsWhole) {
  RemoteCopy copy;
  copy.ManifestName = "2026-12-07_020000.manifest.json";
  copy.Manifest.emplace();
  copy.Manifest->Recipients = {"fingerprint"};
  OffsiteTargetDialog target(fixture.Core().Servers().Entries(), copy,
                             "/home/dba/.config/brevanto/identity.txt", &window);
  target.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
  QLineEdit* identity = target.IdentityEdit();
  EXPECT_LT(identity->fontMetrics().horizontalAdvance(identity->text()),
            identity->contentsRect().width() -
                2 * identity->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
}

TEST_F(OffsiteRestoreFlowTest, WithoutABackupTaskThatGoesOffSiteItSaysSo) {
  fixture.Core().Tasks().Update(1, [](CTaskItem& task) { SetRemoteOptions(task, {}); });
  commands.RestoreOffsite();
  EXPECT_EQ(Shown(), QStringList({"No backup task sends its copies off-site!"}));
}

}  // namespace
}  // namespace brevanto::ui
