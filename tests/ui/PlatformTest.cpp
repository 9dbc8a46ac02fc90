// The desktop side: one copy per user, the autostart entry, the help topics, hot keys.

#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>

#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLockFile>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QUuid>

#include "core/AtomicFile.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiFixture.h"
#include "ui/Autostart.h"
#include "ui/Dialogs.h"
#include "ui/GlobalHotKey.h"
#include "ui/HelpWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TerminationSignals.h"

namespace brevanto::ui {
namespace {

QString UniqueInstanceName() {
  return QStringLiteral("brevanto-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

TEST(SingleInstanceTest, OneCopyPerFolderAndTheSecondShowsTheFirst) {
  const QString name = UniqueInstanceName();
  test::TempDir one;
  test::TempDir other;
  SingleInstance first(name, QString::fromStdString(one.path()));
  ASSERT_TRUE(first.Claim());
  QSignalSpy shown(&first, &SingleInstance::showRequested);

  // The same folder spelled without its trailing slash is still the same folder.
  QString sameFolder = QString::fromStdString(one.path());
  sameFolder.chop(1);
  SingleInstance second(name, sameFolder);
  EXPECT_FALSE(second.Claim(2000));
  EXPECT_TRUE(test::WaitUntil([&] { return shown.count() == 1; }));

  // Another folder is another program's data: that copy runs beside the first.
  SingleInstance elsewhere(name, QString::fromStdString(other.path()));
  EXPECT_TRUE(elsewhere.Claim(200));
  EXPECT_EQ(shown.count(), 1);
}

TEST(SingleInstanceTest, AFirstCopyThatDoesNotAnswerIsReported) {
  test::TempDir folder;
  SingleInstance start(UniqueInstanceName(), QString::fromStdString(folder.path()));
  // A live lock with no one listening: a copy hung before it could listen.
  QLockFile held(start.LockFilePath());
  ASSERT_TRUE(held.tryLock(0));
  Dialogs::Script();
  EXPECT_FALSE(start.Claim(300));
  const QList<ShownBox> shown = Dialogs::TakeShown();
  Dialogs::EndScript();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].Kind, BoxKind::Stop);
  EXPECT_TRUE(shown[0].Text.contains(QString::fromStdString(folder.path())));
}

TEST(SingleInstanceTest, ACopyThatIsGoneLeavesNoClaimBehind) {
  const QString name = UniqueInstanceName();
  test::TempDir folder;
  {
    SingleInstance first(name, QString::fromStdString(folder.path()));
    ASSERT_TRUE(first.Claim());
  }
  SingleInstance next(name, QString::fromStdString(folder.path()));
  EXPECT_TRUE(next.Claim());
}

TEST(SingleInstanceTest, TheClaimLivesWhereOnlyTheUserCanWrite) {
  // In a folder others may write to, a planted lock file would keep the program from starting.
  test::TempDir folder;
  SingleInstance instance(UniqueInstanceName(), QString::fromStdString(folder.path()));
  ASSERT_TRUE(instance.Claim());
  ASSERT_TRUE(QFileInfo(instance.ServerName()).isAbsolute());
  const QFileInfo runtime(QFileInfo(instance.ServerName()).absolutePath());
  EXPECT_EQ(runtime.ownerId(), ::getuid());
  EXPECT_FALSE(runtime.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther))
      << runtime.absoluteFilePath().toStdString();
  EXPECT_TRUE(QFileInfo::exists(instance.LockFilePath()));
}

TEST(TerminationSignalsTest, ATerminationSignalArrivesAsARequestOnTheEventLoop) {
  TerminationSignals termination;
  QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
  std::raise(SIGTERM);
  EXPECT_TRUE(test::WaitUntil([&] { return requested.count() == 1; }));
}

TEST(AutostartTest, WritesAndDeletesTheEntry) {
  test::TempDir config;
  const std::string entry = AutostartEntryPath(config.path());
  ASSERT_TRUE(ApplyAutostart(true, "/opt/My Apps/brevanto", "/srv/tasks/", config.path()));
  const std::string text = test::ReadWholeFile(entry);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  // At login the program must open the folder it was set up on, not its usual one.
  EXPECT_NE(text.find("\nExec=\"/opt/My Apps/brevanto\" --folder \"/srv/tasks/\"\n"),
            std::string::npos)
      << text;
  ASSERT_TRUE(ApplyAutostart(false, "", "", config.path()));
  EXPECT_FALSE(FileExists(entry));
  EXPECT_TRUE(ApplyAutostart(false, "", "", config.path())) << "deleting a missing entry is fine";
}

TEST(AutostartTest, EscapesTheExecutablePath) {
  const struct {
    const char* path;
    const char* exec;
  } cases[] = {
      {"/usr/bin/brevanto", "Exec=\"/usr/bin/brevanto\"\n"},
      {"/home/a\"b/x", "Exec=\"/home/a\\\\\"b/x\"\n"},
      {"/home/100%/x", "Exec=\"/home/100%%/x\"\n"},
      {"/home/$HOME/x", "Exec=\"/home/\\\\$HOME/x\"\n"},
      {"/home/a\\b/x", "Exec=\"/home/a\\\\\\\\b/x\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    // The same rules hold for the executable and the folder.
    const std::string text = AutostartEntryText(c.path, c.path);
    const std::string exec = std::string(c.exec);
    const std::string quoted = exec.substr(5, exec.size() - 6);
    EXPECT_NE(text.find(exec.substr(0, exec.size() - 1) + " --folder " + quoted + "\n"),
              std::string::npos)
        << text;
  }
}

TEST(HelpWindowTest, EveryTopicTheProgramNamesHasAPage) {
  const char* topics[] = {
      "",
      "::/introduction/tasklog.html",
      "::/introduction/options.html",
      "::/introduction/servermanager.html",
      "::/introduction/userlogin.html",
      "::/howtoconnect.html",
      "::/taskwizard/choosetasktype.html",
      "::/taskwizard/backupsettings.html",
      "::/taskwizard/backupfilesettings.html",
      "/opt/brevanto/Brevanto_Std.chm::/taskwizard/tasktype1.html",
      "::/taskwizard/tasktype2.html",
      "::/taskwizard/tasktype3.html",
      "::/taskwizard/tasktype4.html",
      "::/taskwizard/tasktype5.html",
      "::/taskwizard/tasktype6.html",
      "::/taskwizard/tasktype7.html",
      "::/taskwizard/tasktype8.html",
  };
  for (const char* topic : topics) {
    SCOPED_TRACE(topic);
    EXPECT_FALSE(HelpWindow::TopicUrl(topic).isEmpty());
  }
  EXPECT_TRUE(HelpWindow::TopicUrl("::/nosuchpage.html").isEmpty());
  EXPECT_TRUE(HelpWindow::TopicUrl("::/../CMakeLists.txt").isEmpty());

  HelpWindow* window = HelpWindow::Open("::/introduction/tasklog.html");
  EXPECT_TRUE(window->Browser()->toPlainText().contains("Display All"));
  window->close();
}

TEST(HelpWindowTest, HelpOpenedFromAModalWindowTakesInput) {
  // The log viewer is modal; the help it opens must not be blocked behind it.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // an earlier window
  QDialog modal;
  modal.setModal(true);
  modal.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&modal));
  HelpWindow::Open("::/introduction/mainwindow.html");
  HelpWindow* help = HelpWindow::Open("::/introduction/tasklog.html");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
  auto* bar = help->findChild<QToolBar*>("helpToolBar");
  ASSERT_NE(bar, nullptr);
  QWidget* back = bar->widgetForAction(bar->actions().value(0));
  ASSERT_NE(back, nullptr);
  ASSERT_TRUE(back->isEnabled());
  const QPoint at = back->mapTo(help, back->rect().center());
  QTest::mouseClick(help->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_TRUE(help->Browser()->source().toString().endsWith("mainwindow.html"))
      << help->Browser()->source().toString().toStdString();
  help->close();
}

TEST(GlobalHotKeyTest, MapsVirtualKeysToKeySyms) {
  const struct {
    std::uint16_t vk;
    std::uint32_t keysym;
  } cases[] = {{'M', 'm'},     {'7', '7'},  {0x70, 0xffbe}, {0x87, 0xffd5}, {0x2E, 0xffff},
               {0x60, 0xffb0}, {0xBA, ';'}, {0x20, ' '},    {0x07, 0},      {0xFF, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vk);
    EXPECT_EQ(KeySymForVirtualKey(c.vk), c.keysym);
  }
  // Grabbing needs an X11 session: run the tests with QT_QPA_PLATFORM=xcb under
  // xvfb-run to exercise it; elsewhere registration must fail quietly.
  GlobalHotKey key;
  const bool x11 = QGuiApplication::platformName() == "xcb";
  EXPECT_EQ(key.Register('M', 6), x11);
  EXPECT_EQ(key.Registered(), x11);
  EXPECT_FALSE(key.Register(0x07, 6)) << "a key without an X counterpart";
  EXPECT_EQ(key.Register(0x70, 1), x11) << "Shift+F1 replaces the earlier key";
  key.Unregister();
  EXPECT_FALSE(key.Registered());
}

}  // namespace
}  // namespace brevanto::ui
