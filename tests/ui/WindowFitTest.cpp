// Windows wide enough for their titles and their contents, whatever the screen's size.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include "ui/WindowFit.h"

namespace brevanto::ui {
namespace {

// Contents that ask for `width` pixels but can do with far less, as a list or a page does.
class Contents : public QWidget {
 public:
  Contents(int width, QWidget* parent) : QWidget(parent), m_width(width) {}
  QSize sizeHint() const override { return {m_width, 40}; }
  QSize minimumSizeHint() const override { return {50, 20}; }

 private:
  int m_width;
};

void FillDialog(QDialog& dialog, int width) {
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new Contents(width, &dialog));
}

TEST(WindowFitTest, DialogsShowTheirTitlesAndContentsWholeAsFarAsTheScreenAllows) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

  QDialog titled;
  FillDialog(titled, 40);
  titled.setWindowTitle(QStringLiteral("A title much longer than what the dialog holds"));
  titled.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&titled));
  EXPECT_GE(titled.width(), TitleBarWidth(titled.windowTitle(), titled.font()));

  // Wider than the two thirds of the screen Qt opens a window at, narrower than the screen.
  QDialog wide;
  FillDialog(wide, screen.width() * 5 / 6);
  wide.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wide));
  EXPECT_GE(wide.width(), wide.sizeHint().width());
  EXPECT_LE(wide.width(), screen.width());

  // Wider than the screen: as wide as the screen, not wider.
  QDialog huge;
  FillDialog(huge, screen.width() * 2);
  huge.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&huge));
  EXPECT_LE(huge.width(), screen.width());
  EXPECT_GT(huge.width(), screen.width() * 3 / 4);

  // A resize by the user is kept when the dialog is shown again.
  wide.hide();
  wide.resize(300, wide.height());
  wide.show();
  EXPECT_EQ(wide.width(), 300);
}

TEST(WindowFitTest, AShortMessageBoxKeepsItsCaptionWhole) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Brevanto Standard Edition"),
                  QStringLiteral("No!"), QMessageBox::Ok);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  EXPECT_GE(box.width(), TitleBarWidth(box.windowTitle(), box.font()));
  box.done(0);
}

}  // namespace
}  // namespace brevanto::ui
