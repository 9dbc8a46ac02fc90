// The wizard's checks that need no window: names, captions, ports, schedules, escapes.

#include <gtest/gtest.h>

#include "appcore/WizardText.h"

namespace brevanto::wizard {
namespace {

TEST(WizardTextTest, NameCheckIgnoresCaseAndBlanksAndSkipsTheEditedTask) {
  const std::vector<std::string> names = {"Nightly", "Task 5", "Export"};
  const std::string taken =
      "The task name is already existed!\nPlease choose a different task name.";
  struct Case {
    const char* name;
    int editIndex;
    std::string expected;
  } cases[] = {
      {"", -1, "Please input task name!"},
      {"Task 5", -1, taken},
      {"task 5", -1, taken},  // the logs of the two would collide where case is ignored
      {" Task 5 ", -1, taken},  // stored trimmed
      {"Task 5", 1, ""},      // the edited task keeps its own name
      {"Nightly", 1, taken},  // but not another's
      {"Weekly", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ValidateTaskName(c.name, names, c.editIndex), c.expected);
  }
}

TEST(WizardTextTest, StepCaptionsCountTheKindsSteps) {
  EXPECT_EQ(WizardCaption(1, 1),
            "Task Wizard - Backup MySQL databases to SQL/PHP files - Step 1 of 7");
  EXPECT_EQ(WizardCaption(8, 6),
            "Task Wizard - Restore a MySQL database by another database - Step 6 of 6");
  EXPECT_EQ(WizardCaption(6, 2),
            "Task Wizard - Restore MySQL databases by SQL files - Step 2 of 5");
  EXPECT_EQ(WizardCaption(5, 5), "Task Wizard - Execute MySQL script - Step 5 of 5");
  EXPECT_EQ(WizardCaption(0, 1), "Task Wizard");
  EXPECT_EQ(WizardCaption(200, 1), "Task Wizard");
}

TEST(WizardTextTest, ServerFieldsCheckHostThenPort) {
  const std::string notNumber = "The port must be a number between 1 and 65535!";
  const std::string outOfRange = "Please input a number between 1 and 65535!";
  struct Case {
    const char* host;
    const char* port;
    ServerField field;
    std::string message;
  } cases[] = {
      {"localhost", "3306", ServerField::None, ""},
      {"localhost", "65535", ServerField::None, ""},
      {"localhost", "00001", ServerField::None, ""},
      {"", "33a6", ServerField::Host, "Please input the Host name or IP address!"},
      {"localhost", "33a6", ServerField::Port, notNumber},
      {"localhost", "-1", ServerField::Port, notNumber},
      {"localhost", " 3306", ServerField::Port, notNumber},
      {"localhost", "0", ServerField::Port, outOfRange},
      {"localhost", "70000", ServerField::Port, outOfRange},
      {"localhost", "65536", ServerField::Port, outOfRange},
      {"localhost", "", ServerField::Port, outOfRange},
      {"localhost", "99999999999999999999", ServerField::Port, outOfRange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + ":" + c.port);
    const ServerProblem problem = ValidateServerFields(c.host, c.port);
    EXPECT_EQ(problem.Field, c.field);
    EXPECT_EQ(problem.Message, c.message);
  }
}

TEST(WizardTextTest, SameServerComparesHostExactly) {
  CServerInfo source;
  CServerInfo destination;
  EXPECT_TRUE(IsSameServer(source, destination));
  destination.Host = "LOCALHOST";
  EXPECT_FALSE(IsSameServer(source, destination));
  destination.Host = "localhost";
  destination.Port = 3307;
  EXPECT_FALSE(IsSameServer(source, destination));
}

TEST(WizardTextTest, SchedulePageAsksForTheSettingsOfItsKind) {
  auto with = [](int kind, auto change) {
    ScheduleSettings s;
    s.Kind = static_cast<std::uint8_t>(kind);
    change(s);
    return s;
  };
  auto nothing = [](ScheduleSettings&) {};
  struct Case {
    const char* name;
    ScheduleSettings schedule;
    std::string expected;
  } cases[] = {
      {"manual", with(0, nothing), ""},
      {"interval default", with(5, nothing), ""},
      {"interval 0", with(5, [](auto& s) { s.IntervalMinutes = 0; }),
       "Please set the Time Interval Settings!"},
      {"interval 100000", with(5, [](auto& s) { s.IntervalMinutes = 100000; }),
       "Please set the Time Interval Settings!"},
      {"day unset hour", with(1, [](auto& s) { s.Hour = -1; }),
       "Please set the Every Day Settings!"},
      {"day", with(1, nothing), ""},
      {"week without days", with(2, nothing), "Please set the Every Week Settings!"},
      {"week", with(2, [](auto& s) { s.WeekDays[1] = 1; }), ""},
      {"week unset minute",
       with(2,
            [](auto& s) {
              s.WeekDays[1] = 1;
              s.Minute = -1;
            }),
       "Please set the Every Week Settings!"},
      {"month without days", with(3, nothing), "Please set the Every Month Settings!"},
      {"month", with(3, [](auto& s) { s.MonthDays[30] = 1; }), ""},
      {"special without date", with(4, nothing), "Please set the Special Date Settings!"},
      {"special",
       with(4,
            [](auto& s) {
              s.SpecialYear = 2026;
              s.SpecialMonth = 2;
              s.SpecialDay = 28;
            }),
       ""},
      {"unknown kind", with(9, nothing), "Please choose task schedule options!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ValidateSchedulePage(c.schedule), c.expected);
  }
}

TEST(WizardTextTest, EscapesAreDecodedOnceFromTheLeft) {
  struct Case {
    std::string typed;
    std::string stored;
  } cases[] = {
      {"\\t", "\t"},    {"\\r\\n", "\r\n"}, {"\\\\", "\\"},
      {"\\\\t", "\\t"},  // an escaped backslash is not the start of another escape
      {"\\q", "\\q"},   {"a\\", "a\\"},     {"\\\"\\'\\?", "\"'?"},
      {",", ","},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(DecodeEscapes(c.typed), c.stored);
  }
}

TEST(WizardTextTest, DayAndTimeWords) {
  EXPECT_EQ(MonthDayOrdinal(1), "1st");
  EXPECT_EQ(MonthDayOrdinal(2), "2nd");
  EXPECT_EQ(MonthDayOrdinal(3), "3rd");
  EXPECT_EQ(MonthDayOrdinal(11), "11th");
  EXPECT_EQ(MonthDayOrdinal(12), "12th");
  EXPECT_EQ(MonthDayOrdinal(13), "13th");
  EXPECT_EQ(MonthDayOrdinal(21), "21st");
  EXPECT_EQ(MonthDayOrdinal(23), "23rd");
  EXPECT_EQ(MonthDayOrdinal(31), "31st");
  EXPECT_EQ(ScheduleTimeText(7, 5, 1), "07:05");
  EXPECT_EQ(ScheduleTimeText(13, 0, 2), "01:00 P.M");
  EXPECT_EQ(ScheduleTimeText(12, 30, 2), "00:30 P.M");
  EXPECT_EQ(ScheduleTimeText(9, 10, 2), "09:10 A.M");
  EXPECT_EQ(ScheduleTimeText(9, 10, 3), "");
}

TEST(WizardTextTest, CountFieldsTreatEmptyAsZero) {
  EXPECT_EQ(CountFromText(""), 0);
  EXPECT_EQ(CountFromText("10000"), 10000);
  EXPECT_EQ(CountFromText("1x"), -1);
  EXPECT_GT(CountFromText("99999999999999999999"), 10000);
}

}  // namespace
}  // namespace brevanto::wizard
