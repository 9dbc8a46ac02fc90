// Access keys: within what one window shows at a time (a page of a wizard, a tab of a
// sheet) and within each menu, no two items underline the same letter, so Alt+letter
// always reaches the one item a user reads.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "tests/support/FakeClock.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"
#include "ui/MainFrame.h"

namespace brevanto::ui {
namespace {

// The letter after a single "&", lower case; none for "&&" or no "&".
QChar AccessKey(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) continue;
    if (text[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return {};
}

class Keys {
 public:
  void Add(const QString& text) {
    const QChar key = AccessKey(text);
    if (!key.isNull()) m_owners[key] << text;
  }
  // "n: &Next >, &Notifications..." for each letter taken twice.
  QStringList Clashes() const {
    QStringList clashes;
    for (auto it = m_owners.begin(); it != m_owners.end(); ++it) {
      if (it.value().size() > 1) clashes << QString(it.key()) + ": " + it.value().join(", ");
    }
    return clashes;
  }

 private:
  QMap<QChar, QStringList> m_owners;
};

// What `window` shows now: buttons, labels that lead to a field, group titles and tabs.
QStringList WindowClashes(QWidget* window) {
  Keys keys;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (widget->window() != window || !widget->isVisible()) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) keys.Add(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget); label && label->buddy()) {
      keys.Add(label->text());
    }
    // Without a buddy a label shows its "&" as is and its letter reaches nothing.
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->buddy() &&
                                                     label->textFormat() != Qt::RichText &&
                                                     !AccessKey(label->text()).isNull()) {
      keys.Add(label->text());
      keys.Add(QStringLiteral("(no field) ") + label->text());
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) keys.Add(group->title());
    if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
      for (int i = 0; i < tabs->count(); ++i) keys.Add(tabs->tabText(i));
    }
  }
  return keys.Clashes();
}

QStringList MenuClashes(const QList<QAction*>& actions) {
  Keys keys;
  for (const QAction* action : actions) {
    if (action->isVisible() && !action->isSeparator()) keys.Add(action->text());
  }
  return keys.Clashes();
}

// Every menu under `actions`, submenus included.
void ExpectNoMenuClash(const QList<QAction*>& actions, const QString& where) {
  EXPECT_EQ(MenuClashes(actions).join(" | ").toStdString(), "") << where.toStdString();
  for (const QAction* action : actions) {
    if (action->menu() != nullptr) {
      ExpectNoMenuClash(action->menu()->actions(), where + " > " + action->text());
    }
  }
}

void ExpectNoClash(QDialog& dialog, const QString& name) {
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* tabs = dialog.findChild<QTabWidget*>();
  const int pages = tabs ? tabs->count() : 1;
  for (int page = 0; page < pages; ++page) {
    if (tabs) tabs->setCurrentIndex(page);
    EXPECT_EQ(WindowClashes(&dialog).join(" | ").toStdString(), "")
        << name.toStdString() << ", page " << (tabs ? tabs->currentIndex() : 0);
  }
  dialog.hide();
}

TEST(MnemonicTest, AccessKeysAreReadAsQtReadsThem) {
  EXPECT_EQ(AccessKey("&Next >"), QLatin1Char('n'));
  EXPECT_EQ(AccessKey("Rena&me Task"), QLatin1Char('m'));
  EXPECT_EQ(AccessKey("Copy && &Paste"), QLatin1Char('p'));
  EXPECT_TRUE(AccessKey("Tom && Jerry").isNull());
}

using MnemonicWalkTest = test::DialogTest;

TEST_F(MnemonicWalkTest, EveryDialogPageAndTab) {
  test::ForEachSettingsDialog(fixture, ExpectNoClash);
  test::ForEachTaskDialog(fixture, ExpectNoClash);
}

TEST_F(MnemonicWalkTest, EveryMenuOfTheMainWindow) {
  fixture.Add(test::MakeTask("Sales"));
  CMainFrame frame(fixture.Core(), FrameDialogs());
  ExpectNoMenuClash(frame.menuBar()->actions(), "menu bar");
  for (QMenu* menu : frame.findChildren<QMenu*>()) {
    ExpectNoMenuClash(menu->actions(), menu->objectName() + " " + menu->title());
  }
}

}  // namespace
}  // namespace brevanto::ui
