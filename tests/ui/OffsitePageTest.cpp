// The off-site page of backup tasks: its fields round-trip the task's "Remote" section for
// each kind, its Test runs beside the event loop, and the properties sheet lists the
// settings without a secret. (A bad setting keeping the wizard and the edit sheet:
// WizardFlowTest, PropertySheetTest.)

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <nlohmann/json.hpp>

#include "remote/RemoteStore.h"
#include "tasks/RemoteOptions.h"
#include "tasks/TaskOptionsStore.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/wizard/OffsitePage.h"
#include "ui/wizard/PropertyViewPages.h"
#include "ui/wizard/SummaryText.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;

constexpr int kBackupToFiles = 1;

RemoteOptions S3Options() {
  RemoteOptions o;
  o.Kind = RemoteKind::S3;
  o.Endpoint = "https://s3.eu-central-1.amazonaws.com";
  o.Region = "eu-central-1";
  o.Bucket = "shop-backups";
  o.Prefix = "nightly/";
  o.PathStyle = true;
  o.AccessKeyId = "AKIDEXAMPLE";
  o.SecretAccessKey = "wJalrXUtnFEMI/K7MDENG+bPxRfiCY";
  o.StorageClass = "STANDARD_IA";
  o.CaFile = "/etc/ssl/private-ca.pem";
  o.KeepCopies = 14;
  o.KeepLocalCopies = 0;
  // Not a whole number of KB: kept as stored while the field is left alone.
  o.BandwidthBytesPerSecond = 1000000;
  return o;
}

RemoteOptions SftpOptions() {
  RemoteOptions o;
  o.Kind = RemoteKind::Sftp;
  o.Host = "vault.example.net";
  o.Port = 2222;
  o.User = "backup";
  o.Password = " pass phrase ";
  o.PrivateKeyFile = "/home/backup/.ssh/id_ed25519";
  o.HostKeySha256 = "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s";
  o.Path = "/srv/backups/shop";
  o.KeepLocalCopies = 3;
  o.Direct = true;
  return o;
}

RemoteOptions RcloneOptions() {
  RemoteOptions o;
  o.Kind = RemoteKind::Rclone;
  o.RcloneRemote = "gdrive";
  o.Path = "backups/shop";
  o.KeepCopies = 30;
  o.BandwidthBytesPerSecond = 2 * 1024 * 1024;
  return o;
}

class OffsitePageTest : public testing::Test {
 protected:
  OffsitePageTest() {
    Dialogs::Script();
    context.Task = test::MakeTask("Shop nightly");
    context.Task.TaskType = kBackupToFiles;
    context.Mode = SheetMode::Edit;
  }
  ~OffsitePageTest() override { Dialogs::EndScript(); }

  template <typename T>
  static T* Find(QWidget* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  std::unique_ptr<COffsitePage> OpenPage() {
    auto page = std::make_unique<COffsitePage>(context);
    page->Load();
    page->show();
    return page;
  }
  // An S3 target whose bucket is named, so the Test may start.
  void ChooseS3(COffsitePage& page) {
    Find<QComboBox>(&page, "offsiteKindCombo")->setCurrentIndex(1);
    Find<QLineEdit>(&page, "s3BucketEdit")->setText(QStringLiteral("b"));
  }
  static QString Result(COffsitePage& page) {
    return Find<QLabel>(&page, "offsiteTestResult")->text();
  }

  CSheetContext context;
};

TEST_F(OffsitePageTest, EachKindFillsFromAndSavesToTheRemoteSection) {
  for (const RemoteOptions& stored : {S3Options(), SftpOptions(), RcloneOptions()}) {
    SCOPED_TRACE(RemoteKindName(stored.Kind));
    SetRemoteOptions(context.Task, stored);
    // A key of a later version survives an edit here.
    nlohmann::json section = GetTaskSection(context.Task, kRemoteSection);
    section["Future"] = "kept";
    SetTaskSection(context.Task, kRemoteSection, section);

    COffsitePage page(context);
    page.Load();
    EXPECT_EQ(page.Entered(), stored);
    ASSERT_TRUE(page.Leave());
    EXPECT_EQ(RemoteOptionsOf(context.Task), stored);
    EXPECT_EQ(GetTaskSection(context.Task, kRemoteSection).value("Future", ""), "kept");
  }

  // What the fields show for S3, the secret behind a password echo.
  SetRemoteOptions(context.Task, S3Options());
  COffsitePage page(context);
  page.Load();
  EXPECT_EQ(Find<QLineEdit>(&page, "s3BucketEdit")->text(), QStringLiteral("shop-backups"));
  auto* secret = Find<QLineEdit>(&page, "s3SecretKeyEdit");
  EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
  EXPECT_EQ(secret->text(), QStringLiteral("wJalrXUtnFEMI/K7MDENG+bPxRfiCY"));
  EXPECT_EQ(Find<QComboBox>(&page, "localCopiesCombo")->currentIndex(), 1);
  auto* bandwidth = Find<QSpinBox>(&page, "bandwidthSpin");
  EXPECT_EQ(bandwidth->value(), 977);
  bandwidth->setValue(500);
  EXPECT_EQ(page.Entered().BandwidthBytesPerSecond, 500u * 1024);

  // Another kind: the first kind's keys go, so a run never mixes two targets.
  Find<QComboBox>(&page, "offsiteKindCombo")->setCurrentIndex(3);
  Find<QLineEdit>(&page, "rcloneRemoteEdit")->setText(QStringLiteral("  onedrive "));
  ASSERT_TRUE(page.Leave());
  const nlohmann::json section = GetTaskSection(context.Task, kRemoteSection);
  EXPECT_EQ(section.value("Kind", ""), "rclone");
  EXPECT_EQ(section.value("RcloneRemote", ""), "onedrive");
  EXPECT_FALSE(section.contains("Bucket"));
  EXPECT_FALSE(section.contains("SecretAccessKey"));
  // The copies settings stay with the task whatever the kind.
  EXPECT_EQ(section.value("KeepCopies", 0), 14);

  // None removes the section.
  Find<QComboBox>(&page, "offsiteKindCombo")->setCurrentIndex(0);
  ASSERT_TRUE(page.Leave());
  EXPECT_TRUE(GetTaskSection(context.Task, kRemoteSection).is_null());
}

TEST_F(OffsitePageTest, DirectWritingLeavesNoLocalCopiesToChoose) {
  SetRemoteOptions(context.Task, SftpOptions());
  auto page = OpenPage();
  auto* rule = Find<QComboBox>(page.get(), "localCopiesCombo");
  auto* direct = Find<QCheckBox>(page.get(), "directCheck");
  EXPECT_FALSE(rule->isEnabled());
  direct->setChecked(false);
  EXPECT_TRUE(rule->isEnabled());
  EXPECT_EQ(rule->currentIndex(), 2);
  EXPECT_TRUE(Find<QSpinBox>(page.get(), "keepLocalSpin")->isEnabled());
  rule->setCurrentIndex(0);
  EXPECT_FALSE(Find<QSpinBox>(page.get(), "keepLocalSpin")->isEnabled());
  EXPECT_EQ(page->Entered().KeepLocalCopies, -1);
}

TEST_F(OffsitePageTest, AStoredSettingNoRunCouldUseIsSaidOnOpening) {
  RemoteOptions noRemote = RcloneOptions();
  noRemote.RcloneRemote.clear();
  SetRemoteOptions(context.Task, noRemote);
  auto page = OpenPage();
  EXPECT_EQ(Result(*page), QString::fromStdString(RemoteOptionsProblem(noRemote)));
  SetRemoteOptions(context.Task, RcloneOptions());
  page->Load();
  EXPECT_EQ(Result(*page), QString());
}

TEST_F(OffsitePageTest, TestRunsBesideTheEventLoopAndIgnoresASecondClick) {
  std::atomic<int> calls{0};
  std::atomic<bool> release{false};
  std::atomic<bool> ok{false};
  context.TestRemote = [&](const RemoteOptions& options, const TransferControl&) {
    ++calls;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (ok) return Status::Ok();
    return Status::Error("Writing a test object failed: connection refused - " +
                         RemoteTargetText(options));
  };
  auto page = OpenPage();
  auto* test = Find<QPushButton>(page.get(), "offsiteTestButton");
  // Nothing to test without a target.
  EXPECT_FALSE(test->isEnabled());
  ChooseS3(*page);
  ASSERT_TRUE(test->isEnabled());
  test->click();
  EXPECT_EQ(Result(*page), QStringLiteral("Testing..."));
  EXPECT_FALSE(test->isEnabled());
  // The window keeps answering while the target is slow.
  bool ticked = false;
  QTimer::singleShot(0, page.get(), [&] { ticked = true; });
  EXPECT_TRUE(test::WaitUntil([&] { return ticked && calls == 1; }));
  page->Test();
  QTest::qWait(50);
  EXPECT_EQ(calls, 1);

  release = true;
  ASSERT_TRUE(test::WaitUntil([&] { return !page->Testing(); }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Result(*page),
            QStringLiteral("Writing a test object failed: connection refused - s3://b/"));
  EXPECT_TRUE(test->isEnabled());

  ok = true;
  test->click();
  ASSERT_TRUE(test::WaitUntil([&] { return !page->Testing(); }));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(Result(*page).startsWith(QStringLiteral("The target works: s3://b/")));

  // Incomplete fields are named on the page; nothing is started.
  Find<QLineEdit>(page.get(), "s3BucketEdit")->clear();
  test->click();
  EXPECT_FALSE(page->Testing());
  RemoteOptions noBucket;
  noBucket.Kind = RemoteKind::S3;
  EXPECT_EQ(Result(*page), QString::fromStdString(RemoteOptionsProblem(noBucket)));
  EXPECT_EQ(calls, 2);
}

TEST_F(OffsitePageTest, ClosingThePageWhileTestingStopsTheTest) {
  std::atomic<bool> release{false};
  std::atomic<bool> stopSeen{false};
  std::atomic<bool> done{false};
  context.TestRemote = [&](const RemoteOptions&, const TransferControl& control) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stopSeen = control.StopRequested && control.StopRequested();
    done = true;
    return Status::Error("stopped");
  };
  auto page = OpenPage();
  ChooseS3(*page);
  page->Test();
  ASSERT_TRUE(page->Testing());
  page.reset();
  release = true;
  ASSERT_TRUE(test::WaitUntil([&] { return done.load(); }));
  EXPECT_TRUE(stopSeen);
  // The result posted for the page that is gone lands nowhere.
  QTest::qWait(50);
}

TEST_F(OffsitePageTest, AnUnreachableTargetReportsItsError) {
  auto page = OpenPage();
  ChooseS3(*page);
  Find<QLineEdit>(page.get(), "s3EndpointEdit")->setText(QStringLiteral("http://127.0.0.1:9"));
  Find<QLineEdit>(page.get(), "s3RegionEdit")->setText(QStringLiteral("us-east-1"));
  Find<QLineEdit>(page.get(), "s3AccessKeyEdit")->setText(QStringLiteral("AKIDEXAMPLE"));
  Find<QLineEdit>(page.get(), "s3SecretKeyEdit")->setText(QStringLiteral("secret"));
  Find<QPushButton>(page.get(), "offsiteTestButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return !page->Testing(); }, 120000));
  const QString result = Result(*page);
  EXPECT_FALSE(result.isEmpty());
  EXPECT_FALSE(result.startsWith(QStringLiteral("Testing")));
  EXPECT_FALSE(result.startsWith(QStringLiteral("The target works")));
}

TEST_F(OffsitePageTest, PropertiesListTheSettingsWithoutSecrets) {
  for (const RemoteOptions& stored : {S3Options(), SftpOptions()}) {
    SCOPED_TRACE(RemoteKindName(stored.Kind));
    SetRemoteOptions(context.Task, stored);
    const ViewTab tab = MakeStepView(WizardStep::Offsite, context.Task, 1, 1);
    std::unique_ptr<QWidget> view(tab.Page);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Find<QLineEdit>(view.get(), "offsiteTargetView")->text(),
              QString::fromStdString(RemoteTargetText(stored)));
    QStringList shown;
    for (auto* field : view->findChildren<QLineEdit*>()) shown << field->text();
    for (auto* field : view->findChildren<QPlainTextEdit*>()) shown << field->toPlainText();
    const QString all = shown.join(QLatin1Char('\n'));
    const std::string summary = BuildTaskSummary(context.Task);
    for (const std::string& secret : {stored.SecretAccessKey, stored.Password}) {
      if (secret.empty()) continue;
      EXPECT_FALSE(all.contains(QString::fromStdString(secret).trimmed()));
      EXPECT_EQ(summary.find(secret), std::string::npos);
    }
  }
  EXPECT_EQ(OffsiteSettingsText(S3Options()),
            "Endpoint: https://s3.eu-central-1.amazonaws.com\r\nRegion: eu-central-1\r\n"
            "Path-style addressing\r\nStorage class: STANDARD_IA\r\nAccess key ID: AKIDEXAMPLE\r\n"
            "CA file: /etc/ssl/private-ca.pem\r\nKeep 14 copies off-site\r\n"
            "Delete the local files once a copy is off-site\r\nBandwidth cap: 1000000 bytes/s");
  EXPECT_EQ(OffsiteSettingsText(SftpOptions()),
            "Login: key file /home/backup/.ssh/id_ed25519\r\n"
            "Host key: SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s\r\n"
            "Keep all copies off-site\r\nWritten directly to the target, no local file");
  EXPECT_EQ(OffsiteSettingsText(RcloneOptions()),
            "Keep 30 copies off-site\r\nKeep local copies as the backup file settings say\r\n"
            "Bandwidth cap: 2048 KB/s");
  // A task without a target reads as before.
  SetRemoteOptions(context.Task, RemoteOptions{});
  EXPECT_EQ(BuildTaskSummary(context.Task).find("Off-site"), std::string::npos);
}

}  // namespace
}  // namespace brevanto::wizard
