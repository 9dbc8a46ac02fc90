// The keys desktop users reach for without reading a menu: Ctrl+Q quits, Enter on a task
// opens its properties, Escape and Ctrl+W close the help window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTreeView>

#include "tests/support/FakeClock.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiFixture.h"
#include "ui/BrevantoTasksView.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/MainFrame.h"

namespace brevanto::ui {
namespace {

using DesktopKeysTest = test::DialogTest;

TEST_F(DesktopKeysTest, CtrlQAsksToQuitAndEnterOpensTheTask) {
  fixture.Add(test::MakeTask("Sales"));
  FrameDialogs dialogs;
  QStringList opened;
  dialogs.properties = [&opened](QWidget*, const CTaskItem& task) {
    opened << QString::fromStdString(task.TaskName);
  };
  CMainFrame frame(fixture.Core(), dialogs);
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  auto* list = frame.findChild<QTreeView*>("taskDetails");
  ASSERT_NE(list, nullptr);
  list->setFocus();
  frame.View()->SelectRow(0, true);
  list->setCurrentIndex(list->model()->index(0, 0));

  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(opened, QStringList{"Sales"});
  QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(opened, QStringList({"Sales", "Sales"}));

  Dialogs::QueueAnswer(Answer::No);
  QTest::keyClick(list, Qt::Key_Q, Qt::ControlModifier);
  const QList<ShownBox> shown = Dialogs::TakeShown();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].Text, "Quit the application and stop all tasks?");
  EXPECT_TRUE(frame.isVisible());
}

TEST_F(DesktopKeysTest, EscapeAndCtrlWCloseTheHelpWindow) {
  for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape),
                                     QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
    SCOPED_TRACE(QKeySequence(keys).toString().toStdString());
    QPointer<HelpWindow> help = HelpWindow::Open(QString());
    ASSERT_NE(help, nullptr);
    help->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
    EXPECT_TRUE(help.isNull() || !help->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(help.isNull()) << "a closed help window is deleted";
  }
}

}  // namespace
}  // namespace brevanto::ui
