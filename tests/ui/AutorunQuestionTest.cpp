// The start-up autorun question: what each answer stores and writes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "core/AtomicFile.h"
#include "core/Options.h"
#include "tests/support/FakeClock.h"
#include "tests/ui/UiFixture.h"
#include "ui/AutorunQuestion.h"
#include "ui/Autostart.h"
#include "ui/Dialogs.h"

namespace brevanto::ui {
namespace {

TEST(AutorunQuestionTest, EachAnswerStoresWhatItShould) {
  const struct {
    const char* name;
    Answer answer;
    bool checked;
    int autoRun;
    int dontAsk;
    bool saved;
  } cases[] = {
      {"yes", Answer::Yes, false, 1, 0, true},
      {"yes, don't ask", Answer::Yes, true, 1, 1, true},
      {"no, don't ask", Answer::No, true, 0, 1, true},
      {"no", Answer::No, false, 0, 0, true},
      {"closed", Answer::Cancel, true, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeClock clock;
    test::CoreFixture fixture(clock);
    test::TempDir config;
    Dialogs::Script();
    Dialogs::QueueAnswer(c.answer);
    Dialogs::QueueCheckBox(c.checked);
    AskAboutAutorun(fixture.Core(), "/opt/brevanto/brevanto", config.path());

    const QList<ShownBox> shown = Dialogs::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].Caption, "Brevanto Standard Edition");
    EXPECT_EQ(shown[0].Text,
              "Do you want to auto run the program when the current user log in?\n\n"
              "It will start with the tasks of " +
                  QString::fromStdString(fixture.Folder()) +
                  "\n\n"
                  "If No, you can set the option at the menu Tools->Options later.");
    EXPECT_EQ(fixture.Core().Options().AutoRun, c.autoRun);
    EXPECT_EQ(fixture.Core().Options().DontAskAutoRun, c.dontAsk);
    CSystemOptions stored;
    EXPECT_EQ(LoadOptions(fixture.Folder(), stored), c.saved);
    if (c.saved) {
      EXPECT_EQ(stored.AutoRun, c.autoRun);
      EXPECT_EQ(stored.DontAskAutoRun, c.dontAsk);
    }
    EXPECT_EQ(FileExists(AutostartEntryPath(config.path())), c.autoRun == 1);
    if (c.autoRun == 1) {
      EXPECT_NE(test::ReadWholeFile(AutostartEntryPath(config.path()))
                    .find(" --folder \"" + fixture.Folder() + "\"\n"),
                std::string::npos);
    }
  }
}

TEST(AutorunQuestionTest, IsNotAskedOnceAnsweredForGood) {
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  Dialogs::Script();
  fixture.Core().Options().DontAskAutoRun = 1;
  AskAboutAutorun(fixture.Core(), "/opt/brevanto/brevanto", fixture.Folder());
  fixture.Core().Options() = CSystemOptions();
  fixture.Core().Options().AutoRun = 1;
  AskAboutAutorun(fixture.Core(), "/opt/brevanto/brevanto", fixture.Folder());
  EXPECT_TRUE(Dialogs::TakeShown().isEmpty());
}

// The real box, closed without an answer: by Escape and by the title bar's close button.
TEST(AutorunQuestionTest, ClosingTheBoxIsNeitherYesNorNo) {
  Dialogs::EndScript();
  const std::function<void(QWidget*)> closers[] = {
      [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); },
      [](QWidget* box) { box->close(); },
  };
  for (const auto& closeBox : closers) {
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(qobject_cast<QMessageBox*>(box), nullptr);
      closeBox(box);
    });
    bool checked = false;
    EXPECT_EQ(Dialogs::AskWithCheckBox(nullptr, "Brevanto Standard Edition", "Run at log in?",
                                       "Don't ask me again", checked),
              Answer::Cancel);
  }
}

}  // namespace
}  // namespace brevanto::ui
