// The login: an exact match of both fields, and its guard on every way the main window
// comes up.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "tests/support/FakeClock.h"
#include "tests/ui/DialogsTestSupport.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/FrameDialogs.h"
#include "ui/MainActions.h"
#include "ui/MainFrame.h"
#include "ui/TrayIcon.h"
#include "ui/dialogs/LoginDlg.h"
#include "ui/dialogs/SettingsDialogs.h"

namespace brevanto::ui {
namespace {

using test::Click;
using test::Type;

TEST(LoginDialogTest, OnlyAnExactMatchOfBothFieldsPasses) {
  Dialogs::Script();
  const struct {
    const char* user;
    const char* password;
    bool passes;
  } cases[] = {
      {"admin", "Secret", true}, {"admin", "secret", false}, {"Admin", "Secret", false},
      {"admin", "", false},      {"", "Secret", false},      {"admin ", "Secret", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.user) + "/" + c.password);
    CLoginDlg login("admin", "Secret");
    EXPECT_EQ(login.windowTitle(), "Login - Brevanto Standard Edition");
    EXPECT_TRUE(login.windowFlags() & Qt::WindowStaysOnTopHint);
    Type(&login, "loginUser", c.user);
    Type(&login, "loginPassword", c.password);
    login.accept();
    EXPECT_EQ(login.result() == QDialog::Accepted, c.passes);
  }
  EXPECT_TRUE(Dialogs::TakeShown().isEmpty());  // a refusal never says why
  Dialogs::EndScript();
}

class LoginGuardTest : public testing::Test {
 protected:
  void SetUp() override {
    Dialogs::Script();
    fixture.Core().Options().LoginUserName = "admin";
    fixture.Core().Options().LoginPassword = "pw";
    PlugInSettingsDialogs(dialogs, fixture.Core());
  }
  void TearDown() override {
    Dialogs::EndScript();
    TrayIcon::SetAvailabilityProbe({});
  }

  // Answers the next login with `password` and counts the logins shown.
  void AnswerLogin(const char* password) {
    test::WhenModalOpens([this, password](QWidget* login) {
      EXPECT_EQ(login->objectName(), "loginDialog");
      ++logins;
      Type(login, "loginUser", "admin");
      Type(login, "loginPassword", password);
      Click(login, "ok");
    });
  }

  test::FakeClock clock;
  test::CoreFixture fixture{clock};
  FrameDialogs dialogs;
  int logins = 0;
};

TEST_F(LoginGuardTest, StartingShownAsksFirst) {
  CMainFrame refused(fixture.Core(), dialogs);
  AnswerLogin("wrong");
  EXPECT_FALSE(refused.StartShown());
  EXPECT_FALSE(refused.isVisible());

  CMainFrame passed(fixture.Core(), dialogs);
  AnswerLogin("pw");
  EXPECT_TRUE(passed.StartShown());
  EXPECT_TRUE(passed.isVisible());
  EXPECT_EQ(logins, 2);
}

TEST_F(LoginGuardTest, EveryShowRequestFromTheTrayGoesThroughTheLogin) {
  TrayIcon::SetAvailabilityProbe([] { return true; });
  CMainFrame frame(fixture.Core(), dialogs);
  frame.StartHidden();
  // Reduced tray menu: only Show, so the options cannot be reached around the login.
  QStringList items;
  for (QAction* action : frame.Tray()->Icon()->contextMenu()->actions()) {
    if (!action->isSeparator()) items << action->objectName();
  }
  EXPECT_EQ(items.size(), 1);

  AnswerLogin("PW");
  frame.Actions().show->trigger();
  EXPECT_FALSE(frame.Shown());
  EXPECT_FALSE(frame.isVisible());

  AnswerLogin("pw");
  frame.ShowMainWindow();  // the hot key and a second start take this path
  EXPECT_TRUE(frame.Shown());
  EXPECT_EQ(logins, 2);
}

// Without a notification area the hidden window waits minimised on the taskbar; bringing
// it up from there is a showing like any other.
TEST_F(LoginGuardTest, RestoringFromTheTaskbarAsksToo) {
  TrayIcon::SetAvailabilityProbe([] { return false; });
  CMainFrame frame(fixture.Core(), dialogs);
  frame.StartHidden();
  ASSERT_TRUE(frame.isMinimized());

  AnswerLogin("wrong");
  frame.showNormal();
  EXPECT_TRUE(test::WaitUntil([&] { return logins == 1; }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(frame.Shown());
  EXPECT_TRUE(frame.isMinimized());

  AnswerLogin("pw");
  frame.showNormal();
  EXPECT_TRUE(test::WaitUntil([&] { return frame.Shown(); }));
  EXPECT_FALSE(frame.isMinimized());
  EXPECT_EQ(logins, 2);
}

}  // namespace
}  // namespace brevanto::ui
