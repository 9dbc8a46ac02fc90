// The schedule settings dialogs and the backup files settings dialog, driven through
// their fields: what OK refuses and what it writes.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "tasks/DisplayDateTime.h"
#include "tasks/TaskItem.h"
#include "ui/Dialogs.h"
#include "ui/wizard/BackupFilesSettingsDialog.h"
#include "ui/wizard/ScheduleSettingsDialog.h"

namespace brevanto::wizard {
namespace {

using ui::Dialogs;

class SchedulePageTest : public testing::Test {
 protected:
  SchedulePageTest() { Dialogs::Script(); }
  ~SchedulePageTest() override { Dialogs::Script(); }

  // OK on `dialog`; the warnings it showed, joined.
  static QString Ok(QDialog& dialog) {
    Dialogs::TakeShown();
    dialog.accept();
    QStringList texts;
    for (const ui::ShownBox& box : Dialogs::TakeShown()) texts << box.Text;
    return texts.join(QStringLiteral(" | "));
  }
  template <typename T>
  static T* Find(QWidget& dialog, const QString& name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
};

TEST_F(SchedulePageTest, TimeIntervalAcceptsOneToNinetyNineThousand) {
  struct Case {
    const char* typed;
    bool accepted;
  } cases[] = {{"0", false}, {"", false}, {"12a", false}, {"99999", true}, {"1", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    ScheduleSettings s;
    s.Hour = 4;
    CScheduleSettingsDialog dialog(nullptr, 5, s, 1);
    Find<QLineEdit>(dialog, QStringLiteral("numberEdit"))->setText(QString::fromLatin1(c.typed));
    const QString shown = Ok(dialog);
    EXPECT_EQ(shown.isEmpty(), c.accepted) << shown.toStdString();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    if (c.accepted) {
      EXPECT_EQ(s.Kind, 5);
      EXPECT_EQ(s.IntervalMinutes, QString::fromLatin1(c.typed).toInt());
      EXPECT_EQ(s.Hour, 0);  // another kind's time does not linger
    } else {
      EXPECT_EQ(shown, QStringLiteral("Please input a number between 1 and 99999!"));
    }
  }
}

TEST_F(SchedulePageTest, EveryDayClearsTheMonthDaysOfAnEarlierSchedule) {
  ScheduleSettings s;
  s.Kind = 3;
  s.Hour = 2;
  s.Minute = 30;
  s.MonthDays[0] = 1;
  s.MonthDays[14] = 1;
  CScheduleSettingsDialog dialog(nullptr, 1, s, 1);
  Find<QComboBox>(dialog, QStringLiteral("hourList"))->setCurrentIndex(3);
  Find<QComboBox>(dialog, QStringLiteral("minuteList"))->setCurrentIndex(0);
  EXPECT_EQ(Ok(dialog), QString());
  ScheduleSettings expected;
  expected.Kind = 1;
  expected.Hour = 3;
  expected.Minute = 0;
  expected.IntervalMinutes = 0;
  EXPECT_EQ(s, expected);
}

TEST_F(SchedulePageTest, TimeAndDaysMustBeChosen) {
  ScheduleSettings s;
  s.Hour = -1;
  s.Minute = -1;
  CScheduleSettingsDialog week(nullptr, 2, s, 1);
  EXPECT_EQ(Ok(week), QStringLiteral("Please choose the hour of run time!"));
  Find<QComboBox>(week, QStringLiteral("hourList"))->setCurrentIndex(7);
  EXPECT_EQ(Ok(week), QStringLiteral("Please choose the minute of run time!"));
  Find<QComboBox>(week, QStringLiteral("minuteList"))->setCurrentIndex(5);
  EXPECT_EQ(Ok(week), QStringLiteral("Please choose the days of the week!"));
  Find<QCheckBox>(week, QStringLiteral("day1Check"))->setChecked(true);
  Find<QPushButton>(week, QStringLiteral("invertButton"))->click();
  EXPECT_FALSE(Find<QCheckBox>(week, QStringLiteral("day1Check"))->isChecked());
  for (int day = 2; day <= 7; ++day) {
    EXPECT_TRUE(Find<QCheckBox>(week, QStringLiteral("day%1Check").arg(day))->isChecked());
  }
  EXPECT_EQ(Ok(week), QString());
  EXPECT_EQ(s.WeekDays, (std::array<std::uint8_t, 7>{0, 1, 1, 1, 1, 1, 1}));

  ScheduleSettings m;
  CScheduleSettingsDialog month(nullptr, 3, m, 1);
  EXPECT_EQ(Ok(month), QStringLiteral("Please choose the days of the month!"));
  Find<QPushButton>(month, QStringLiteral("selectAllButton"))->click();
  Find<QPushButton>(month, QStringLiteral("deselectAllButton"))->click();
  EXPECT_EQ(Ok(month), QStringLiteral("Please choose the days of the month!"));
}

// A new task has no date yet: the dialog shows, and OK stores, the calendar's date.
TEST_F(SchedulePageTest, SpecialDateWithoutADateShowsWhatOkStores) {
  ScheduleSettings s;
  s.RepeatEveryDays = 9;
  CScheduleSettingsDialog dialog(nullptr, 4, s, 1);
  const QString shown = Find<QLabel>(dialog, QStringLiteral("dateText"))->text();
  Find<QLineEdit>(dialog, QStringLiteral("numberEdit"))->clear();
  EXPECT_EQ(Ok(dialog), QString());
  EXPECT_EQ(s.Kind, 4);
  EXPECT_EQ(s.RepeatEveryDays, 0) << "an empty repeat count is stored as 0";
  ASSERT_GT(s.SpecialYear, 0);
  const QDate stored(s.SpecialYear, s.SpecialMonth, s.SpecialDay);
  EXPECT_EQ(shown.toStdString(), FormatDisplayDateTime(stored.year(), stored.month(), stored.day(),
                                                       0, 0, 0, stored.dayOfWeek() % 7 + 1, 1, 0,
                                                       false));
}

TEST_F(SchedulePageTest, BackupFilesSettingsCheckFormatAndCounts) {
  BackupSettings b;
  CBackupFilesSettingsDialog dialog(nullptr, b);
  auto* format = Find<QLineEdit>(dialog, QStringLiteral("fileNameFormatEdit"));
  Find<QRadioButton>(dialog, QStringLiteral("grouping3Radio"))->setChecked(true);
  format->setText(QStringLiteral("%HOST%_%DATE%_%TIME%"));
  EXPECT_EQ(Ok(dialog), QStringLiteral("Please include %TABLE% in file name format!"));
  Find<QRadioButton>(dialog, QStringLiteral("grouping1Radio"))->click();
  EXPECT_EQ(format->text(), QStringLiteral("%HOST%_%DATE%_%TIME%"));
  format->setText(QStringLiteral("%DATABASE%_%DATE%"));
  EXPECT_EQ(Ok(dialog), QStringLiteral("Please do not include %DATABASE% in file name format!"));
  Find<QRadioButton>(dialog, QStringLiteral("grouping2Radio"))->click();
  EXPECT_EQ(format->text(), QStringLiteral("%HOST%_%DATABASE%_%DATE%_%TIME%"));

  Find<QCheckBox>(dialog, QStringLiteral("keepDaysCheck"))->setChecked(true);
  auto* days = Find<QLineEdit>(dialog, QStringLiteral("keepDaysEdit"));
  for (const char* bad : {"0", "10001", ""}) {
    days->setText(QString::fromLatin1(bad));
    EXPECT_EQ(Ok(dialog), QStringLiteral("Invalid keeping days!")) << bad;
  }
  days->setText(QStringLiteral("10000"));
  format->setText(QStringLiteral("  %DATABASE%_x  "));
  EXPECT_EQ(Ok(dialog), QString());
  EXPECT_EQ(b.FileGrouping, 2);
  EXPECT_EQ(b.FileNameFormat, "%DATABASE%_x");
  EXPECT_EQ(b.AutoDeleteMode, 1);
  EXPECT_EQ(b.AutoDeleteValue, 10000u);
}

}  // namespace
}  // namespace brevanto::wizard
