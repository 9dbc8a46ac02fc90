// The Tip of the Day: where it opens, how it pages, and what it keeps when closed.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>

#include "tests/support/FakeClock.h"
#include "tests/ui/DialogsTestSupport.h"
#include "tests/ui/UiFixture.h"
#include "ui/FrameDialogs.h"
#include "ui/dialogs/SettingsDialogs.h"
#include "ui/dialogs/TipOfTheDayDlg.h"

namespace brevanto::ui {
namespace {

using test::Child;
using test::Click;

QString Counter(const CTipOfTheDayDlg& tips) {
  return Child<QLabel>(&tips, "tipCounter")->text();
}

TEST(TipOfTheDayTest, OpensOnTheTipAfterTheLastOneShown) {
  const struct {
    int last;
    const char* counter;
  } cases[] = {{-1, "Tip 1 of 9"}, {0, "Tip 2 of 9"},  {7, "Tip 9 of 9"},
               {8, "Tip 1 of 9"},  {42, "Tip 1 of 9"}, {-7, "Tip 1 of 9"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    CTipOfTheDayDlg tips(c.last, true);
    EXPECT_EQ(Counter(tips), c.counter);
  }
}

TEST(TipOfTheDayTest, PagesInARing) {
  CTipOfTheDayDlg tips(-1, true);
  Click(&tips, "previousTip");
  EXPECT_EQ(Counter(tips), "Tip 9 of 9");
  EXPECT_EQ(Child<QLabel>(&tips, "tipText")->text(),
            "\nTo restore MySQL databases you should create a scheduled task of Restore.");
  Click(&tips, "nextTip");
  EXPECT_EQ(tips.CurrentIndex(), 0);
  Click(&tips, "nextTip");
  EXPECT_EQ(Child<QLabel>(&tips, "tipText")->text(),
            "\nTo Add/Edit/Delete a MySQL server information you should choose menu "
            "\"Tools\"->\"MySQL Servers...\".");
  EXPECT_EQ(TipText(0).rfind("\nWelcome to the Brevanto Standard Edition 2.0!\n", 0), 0u);
  EXPECT_NE(TipText(0).find("\nSupport Email: "), std::string::npos);
}

TEST(TipOfTheDayTest, ClosingKeepsTheTipAndTheChoiceInTheOptionsFile) {
  test::FakeClock clock;
  test::CoreFixture fixture(clock);
  fixture.Core().Options().TipIndex = 8;
  FrameDialogs dialogs;
  PlugInSettingsDialogs(dialogs, fixture.Core());
  test::WhenModalOpens([](QWidget* tips) {
    Click(tips, "nextTip");  // tip 1 -> tip 2
    Child<QCheckBox>(tips, "showTips")->setChecked(false);
    Click(tips, "closeTip");
  });
  dialogs.tipOfTheDay(nullptr);

  CSystemOptions stored;
  ASSERT_TRUE(LoadOptions(fixture.Folder(), stored));
  EXPECT_EQ(stored.TipIndex, 1);
  EXPECT_EQ(stored.ShowTipsOnStartup, 0);
  EXPECT_EQ(fixture.Core().Options().TipIndex, 1);
}

}  // namespace
}  // namespace brevanto::ui
