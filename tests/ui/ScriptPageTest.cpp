// The SQL script page: what leaving it stores, and what it shows of stored statements.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "ui/Dialogs.h"
#include "ui/wizard/ScriptPage.h"
#include "ui/wizard/SheetContext.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;
using Statements = std::vector<std::string>;

class ScriptPageTest : public testing::Test {
 protected:
  ScriptPageTest() { Dialogs::Script(); }
  ~ScriptPageTest() override { Dialogs::Script(); }

  QPlainTextEdit* Edit() { return page.findChild<QPlainTextEdit*>(QStringLiteral("scriptEdit")); }
  // Leave() with `text` typed in, and the boxes it showed.
  bool LeaveWith(const QString& text, QString& shown) {
    Edit()->setPlainText(text);
    Dialogs::TakeShown();
    const bool left = page.Leave();
    QStringList texts;
    for (const ui::ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    shown = texts.join(QStringLiteral(" | "));
    return left;
  }

  CSheetContext context;
  CSQLScriptPage page{context};
};

TEST_F(ScriptPageTest, LeavingSplitsAsTheRestoreDoes) {
  QString shown;
  ASSERT_TRUE(LeaveWith(QStringLiteral("INSERT INTO t VALUES ('x'); -- note\n"
                                       "DELIMITER //\nCREATE PROCEDURE p() BEGIN SELECT 1; END//\n"
                                       "DELIMITER ;\nSELECT a\nFROM t"),
                        shown));
  EXPECT_EQ(shown, QString());
  EXPECT_EQ(context.Task.ScriptStatements,
            (Statements{"INSERT INTO t VALUES ('x');", "CREATE PROCEDURE p() BEGIN SELECT 1; END;",
                        "SELECT a\nFROM t;"}));

  // Showing the stored list again and leaving gives the same list.
  page.Load();
  ASSERT_TRUE(LeaveWith(Edit()->toPlainText(), shown));
  EXPECT_EQ(context.Task.ScriptStatements,
            (Statements{"INSERT INTO t VALUES ('x');", "CREATE PROCEDURE p() BEGIN SELECT 1; END;",
                        "SELECT a\nFROM t;"}));
}

TEST_F(ScriptPageTest, RefusesEmptyAndUnsplittableScripts) {
  context.Task.ScriptStatements = {"SELECT 1;"};
  QString shown;
  EXPECT_FALSE(LeaveWith(QStringLiteral("-- nothing but a comment\n"), shown));
  EXPECT_EQ(shown, QStringLiteral("Please input the SQL script!"));
  EXPECT_FALSE(LeaveWith(QStringLiteral("SELECT 1;\nSELECT 'open"), shown));
  EXPECT_EQ(shown, QStringLiteral("The SQL script cannot be split into statements: statement 2 "
                                  "(byte 17): the string opened by ' here is not closed at the "
                                  "end of the file"));
  EXPECT_EQ(context.Task.ScriptStatements, Statements{"SELECT 1;"});
}

TEST_F(ScriptPageTest, TabIndentsAndCtrlTabLeaves) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* before = new QLineEdit(&window);
  layout->addWidget(before);
  auto* shown = new CSQLScriptPage(context);
  layout->addWidget(shown);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* edit = shown->findChild<QPlainTextEdit*>(QStringLiteral("scriptEdit"));
  auto* add = shown->findChild<QPushButton*>(QStringLiteral("addScriptButton"));

  edit->setFocus(Qt::TabFocusReason);
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_EQ(edit->toPlainText(), QStringLiteral("\t"));
  EXPECT_EQ(QApplication::focusWidget(), edit);

  QTest::keyClick(edit, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), add);
  edit->setFocus(Qt::TabFocusReason);
  QTest::keyClick(edit, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), before);
  EXPECT_EQ(edit->toPlainText(), QStringLiteral("\t"));
}

}  // namespace
}  // namespace brevanto::wizard
