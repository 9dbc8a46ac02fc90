// Every dialog by keyboard alone: Tab walks through all of its fields and buttons and no
// field keeps it, Enter has a default button to press, Escape closes the dialog.

#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QHash>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QWizard>

#include "tests/support/FakeClock.h"
#include "tests/ui/EveryDialog.h"
#include "tests/ui/UiFixture.h"
#include "ui/Dialogs.h"

namespace brevanto::ui {
namespace {

QString Describe(const QWidget* widget) {
  if (widget == nullptr) return QStringLiteral("nothing");
  return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()),
                                         widget->objectName());
}

// What a user must be able to Tab to in `window`: each shown, enabled widget that takes
// focus from the keyboard, except that of a group of radio buttons one is enough (Tab
// enters the group, the arrow keys choose within it). Each entry is satisfied by any of
// its widgets.
QList<QSet<QWidget*>> Targets(QWidget* window) {
  QList<QSet<QWidget*>> targets;
  QHash<QObject*, int> groups;  // a radio group (its QButtonGroup or parent) -> its entry
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (!widget->isVisible() || !widget->isEnabled() || !(widget->focusPolicy() & Qt::TabFocus) ||
        widget->focusProxy() != nullptr || widget->window() != window) {
      continue;
    }
    auto* radio = qobject_cast<QRadioButton*>(widget);
    QObject* group = radio == nullptr                 ? nullptr
                     : radio->group() != nullptr      ? static_cast<QObject*>(radio->group())
                     : radio->autoExclusive()         ? radio->parent()
                                                      : nullptr;
    if (group == nullptr) {
      targets.append({widget});
    } else if (groups.contains(group)) {
      targets[groups[group]].insert(widget);
    } else {
      groups.insert(group, static_cast<int>(targets.size()));
      targets.append({widget});
    }
  }
  return targets;
}

// An SQL editor keeps Tab for indenting; Ctrl+Tab leaves it.
bool KeepsTabForText(const QWidget* widget) {
  const auto* text = qobject_cast<const QPlainTextEdit*>(widget);
  return text != nullptr && !text->tabChangesFocus() && !text->isReadOnly() &&
         text->objectName() == QLatin1String("scriptEdit");
}

// Presses Tab until the focus has come round twice; a field may hold it for a press or two
// (a label steps through its links) but never keeps it, and every target is passed.
void ExpectTabWalksThrough(QWidget* window, const QString& where) {
  SCOPED_TRACE(where.toStdString());
  const QList<QSet<QWidget*>> targets = Targets(window);
  if (targets.size() < 2) return;  // a lone list or field has nowhere to go
  if (QApplication::focusWidget() == nullptr || QApplication::focusWidget()->window() != window) {
    (*targets.front().begin())->setFocus(Qt::TabFocusReason);
  }
  QSet<QWidget*> visited;
  int kept = 0;
  for (int press = 0; press < 3 * targets.size() + 3; ++press) {
    QWidget* before = QApplication::focusWidget();
    ASSERT_NE(before, nullptr);
    visited.insert(before);
    if (KeepsTabForText(before)) {
      QTest::keyClick(before, Qt::Key_Tab, Qt::ControlModifier);
    } else {
      QTest::keyClick(before, Qt::Key_Tab);
    }
    kept = QApplication::focusWidget() == before ? kept + 1 : 0;
    ASSERT_LT(kept, 3) << "Tab is kept by " << Describe(before).toStdString();
  }
  for (const QSet<QWidget*>& target : targets) {
    EXPECT_TRUE(target.intersects(visited))
        << "Tab never reaches " << Describe(*target.begin()).toStdString();
  }
}

// Shows `dialog`, walks it (and each of its tabs), then checks Enter and Escape.
void ExpectKeyboardUse(QDialog& dialog, const QString& name) {
  SCOPED_TRACE(name.toStdString());
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  auto* tabs = dialog.findChild<QTabWidget*>();
  const int pages = tabs ? tabs->count() : 1;
  for (int page = 0; page < pages; ++page) {
    if (tabs) {
      tabs->setCurrentIndex(page);
      if (tabs->currentIndex() != page) continue;  // the page before refused to be left
    }
    ExpectTabWalksThrough(&dialog, QStringLiteral("%1, page %2").arg(name).arg(page));
  }
  // A window of buttons has one for Enter (a list window's Enter belongs to its list).
  bool hasButtons = false;
  bool hasDefault = false;
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    hasButtons = hasButtons || button->isVisible();
    hasDefault = hasDefault || (button->isVisible() && button->isDefault());
  }
  EXPECT_TRUE(hasDefault || !hasButtons) << "Enter presses nothing";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible()) << "Escape does not close it";
}

using KeyboardTest = test::DialogTest;

TEST_F(KeyboardTest, SettingsDialogs) {
  test::ForEachSettingsDialog(fixture, ExpectKeyboardUse);
}

TEST_F(KeyboardTest, TaskDialogsOfEveryType) {
  test::ForEachTaskDialog(fixture, ExpectKeyboardUse);
}

}  // namespace
}  // namespace brevanto::ui
