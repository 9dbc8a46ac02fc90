// Every window on a small screen: a 1366x768 laptop at 150 % leaves about 910x493 pixels
// beside a panel. Each window, each tab and each wizard step must lie wholly on the screen
// with every button in reach. Runs on an offscreen screen of that size (see CMakeLists).

#include <gtest/gtest.h>

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include "tests/support/FakeClock.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/HelpWindow.h"
#include "ui/MainFrame.h"

namespace brevanto::ui {
namespace {

void ExpectOnScreen(QWidget* window, const QString& where) {
  SCOPED_TRACE(where.toStdString());
  const QRect area = window->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(window->frameGeometry()))
      << "window " << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
      << window->frameGeometry().width() << "x" << window->frameGeometry().height();
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (!button->isVisible() || button->window() != window) continue;
    const QRect shown(button->mapToGlobal(QPoint()), button->size());
    EXPECT_TRUE(area.contains(shown)) << "button " << button->text().toStdString() << " at "
                                      << shown.x() << "," << shown.y();
  }
}

void ExpectDialogOnScreen(QDialog& dialog, const QString& name) {
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* tabs = dialog.findChild<QTabWidget*>();
  const int pages = tabs ? tabs->count() : 1;
  for (int page = 0; page < pages; ++page) {
    if (tabs) tabs->setCurrentIndex(page);
    QApplication::processEvents();
    ExpectOnScreen(&dialog, QStringLiteral("%1, page %2").arg(name).arg(page));
  }
  dialog.hide();
}

class ScreenFitTest : public test::DialogTest {
 protected:
  void SetUp() override {
    if (std::getenv("BREVANTO_SMALL_SCREEN") == nullptr) {
      GTEST_SKIP() << "runs on the small offscreen screen only";
    }
    ASSERT_LE(QGuiApplication::primaryScreen()->availableGeometry().height(), 500);
    test::DialogTest::SetUp();
  }
};

TEST_F(ScreenFitTest, EveryDialogTabAndWizardStep) {
  test::ForEachSettingsDialog(fixture, ExpectDialogOnScreen);
  test::ForEachTaskDialog(fixture, ExpectDialogOnScreen);
}

TEST_F(ScreenFitTest, MainAndHelpWindows) {
  CMainFrame frame(fixture.Core(), FrameDialogs());
  frame.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  ExpectOnScreen(&frame, "main window");
  QWidget* help = HelpWindow::Open(QString());
  ASSERT_NE(help, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
  ExpectOnScreen(help, "help window");
  help->close();
}

}  // namespace
}  // namespace brevanto::ui
