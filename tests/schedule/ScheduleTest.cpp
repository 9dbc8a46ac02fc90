#include "schedule/Schedule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "schedule/Calendar.h"
#include "tests/support/FakeClock.h"

namespace brevanto {
namespace {

using test::MakeTime;

CTaskItem Waiting(ScheduleKind kind, int hour = 0, int minute = 0) {
  CTaskItem task;
  task.Schedule.Kind = static_cast<std::uint8_t>(kind);
  task.Schedule.Hour = hour;
  task.Schedule.Minute = minute;
  task.SetStatus(TaskStatus::Waiting);
  return task;
}

std::string Show(const TaskDateTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d (dow %d)", t.Year, t.Month,
                t.Day, t.Hour, t.Minute, t.Second, t.DayOfWeek);
  return text;
}

TEST(CalendarTest, ReportsInvalidDatesInsteadOfNormalising) {
  EXPECT_TRUE(IsValidDate(2024, 2, 29));
  EXPECT_FALSE(IsValidDate(2023, 2, 29));
  EXPECT_FALSE(IsValidDate(1900, 2, 29));
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_FALSE(IsValidDate(2006, 4, 31));
  EXPECT_FALSE(IsValidDate(2006, 13, 1));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(WallSeconds(TaskDateTime{2006, 4, 31, 9, 0, 0, 0}).has_value());
  // Day numbers round-trip from year 1 to 9999; weekdays agree with the C library.
  for (std::int64_t day = DayNumber(1, 1, 1); day <= DayNumber(9999, 12, 31); day += 997) {
    TaskDateTime d = DateOfDayNumber(day);
    ASSERT_TRUE(IsValidDate(d.Year, d.Month, d.Day)) << day;
    ASSERT_EQ(DayNumber(d.Year, d.Month, d.Day), day);
    ASSERT_EQ(d.DayOfWeek, MakeTime(d.Year, d.Month, d.Day).DayOfWeek) << Show(d);
  }
  EXPECT_EQ(DayOfWeekOf(2006, 3, 5), 1);  // a Sunday
  EXPECT_EQ(DayOfWeekOf(1970, 1, 1), 5);  // a Thursday
}

TEST(ScheduleTest, EveryDayRunsOncePerMinuteAndShowsTodayUntilTheMinuteEnds) {
  CTaskItem task = Waiting(ScheduleKind::EveryDay, 8, 30);
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 3, 5, 8, 30, 0)));
  task.LastRunTime = MakeTime(2006, 3, 5, 8, 30, 0);
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 8, 30, 40)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 8, 30, 40)), MakeTime(2006, 3, 5, 8, 30));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 8, 31, 0)), MakeTime(2006, 3, 6, 8, 30));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 3, 6, 8, 30, 59)));
}

TEST(ScheduleTest, StatusAndRunImmediatelyDecideBeforeTheSchedule) {
  struct Case {
    const char* name;
    ScheduleKind kind;
    TaskStatus status;
    int runImmediately;
    bool due;
  } cases[] = {
      {"manual stop", ScheduleKind::Manual, TaskStatus::Stop, 0, false},
      {"manual stop, run now", ScheduleKind::Manual, TaskStatus::Stop, 1, true},
      {"manual waiting, run now", ScheduleKind::Manual, TaskStatus::Waiting, 1, true},
      {"manual waiting", ScheduleKind::Manual, TaskStatus::Waiting, 0, false},
      {"manual running, run now", ScheduleKind::Manual, TaskStatus::Running, 1, false},
      {"daily stop at its minute", ScheduleKind::EveryDay, TaskStatus::Stop, 0, false},
      {"daily running at its minute", ScheduleKind::EveryDay, TaskStatus::Running, 0, false},
      {"daily waiting at its minute", ScheduleKind::EveryDay, TaskStatus::Waiting, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTaskItem task = Waiting(c.kind, 8, 30);
    task.SetStatus(c.status);
    task.RunImmediately = static_cast<std::uint8_t>(c.runImmediately);
    EXPECT_EQ(IsDue(task, MakeTime(2006, 3, 5, 8, 30, 0)), c.due);
  }
  EXPECT_FALSE(ShouldKeepWaiting(Waiting(ScheduleKind::Manual)));
  CTaskItem stopped = Waiting(ScheduleKind::EveryDay);
  stopped.SetStatus(TaskStatus::Stop);
  EXPECT_FALSE(ShouldKeepWaiting(stopped));
  EXPECT_TRUE(ShouldKeepWaiting(Waiting(ScheduleKind::EveryWeek)));
}

TEST(ScheduleTest, NextRunTimeAtMonthEndsLeapDaysAndWeeks) {
  auto monthly = [](std::initializer_list<int> days) {
    CTaskItem task = Waiting(ScheduleKind::EveryMonth, 9, 0);
    for (int d : days) task.Schedule.MonthDays[static_cast<std::size_t>(d - 1)] = 1;
    return task;
  };
  auto weekly = [](std::initializer_list<int> weekDays) {
    CTaskItem task = Waiting(ScheduleKind::EveryWeek, 9, 0);
    for (int d : weekDays) task.Schedule.WeekDays[static_cast<std::size_t>(d - 1)] = 1;
    return task;
  };
  struct Case {
    const char* name;
    CTaskItem task;
    TaskDateTime now;
    TaskDateTime next;
  } cases[] = {
      {"day 31 from 1 April", monthly({31}), MakeTime(2006, 4, 1, 12), MakeTime(2006, 5, 31, 9)},
      {"day 30 from 31 January", monthly({30}), MakeTime(2006, 1, 31, 12), MakeTime(2006, 3, 30, 9)},
      {"day 29, leap February", monthly({29}), MakeTime(2024, 2, 28, 12), MakeTime(2024, 2, 29, 9)},
      {"day 29, common February", monthly({29}), MakeTime(2023, 2, 28, 12), MakeTime(2023, 3, 29, 9)},
      {"day 31 from 31 December", monthly({31}), MakeTime(2023, 12, 31, 10), MakeTime(2024, 1, 31, 9)},
      {"today before the run time", monthly({5}), MakeTime(2006, 3, 5, 8, 59, 59), MakeTime(2006, 3, 5, 9)},
      {"no day set", monthly({}), MakeTime(2006, 3, 5), TaskDateTime{}},
      {"same weekday, passed", weekly({1}), MakeTime(2006, 3, 5, 9, 1), MakeTime(2006, 3, 12, 9)},
      {"Saturday wraps to Sunday", weekly({1}), MakeTime(2006, 3, 11, 10), MakeTime(2006, 3, 12, 9)},
      {"no weekday set", weekly({}), MakeTime(2006, 3, 5), TaskDateTime{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Show(ComputeNextRunTime(c.task, c.now)), Show(c.next));
  }
  EXPECT_FALSE(IsDue(monthly({}), MakeTime(2006, 3, 5, 9, 0)));
}

TEST(ScheduleTest, SpecialDateRepeatsEveryNDaysAndIgnoresImpossibleDates) {
  CTaskItem task = Waiting(ScheduleKind::SpecialDate, 9, 0);
  task.Schedule.SpecialYear = 2006;
  task.Schedule.SpecialMonth = 1;
  task.Schedule.SpecialDay = 10;
  task.Schedule.RepeatEveryDays = 7;
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 1, 20, 10)), MakeTime(2006, 1, 24, 9));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 1, 24, 9, 0)));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 1, 31, 9, 0)));
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 1, 25, 9, 0)));
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 1, 3, 9, 0)));  // a week before the date

  task.Schedule.RepeatEveryDays = 0;
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 1, 20)), TaskDateTime{});
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 1, 10, 9, 0, 30)), MakeTime(2006, 1, 10, 9));
  task.Schedule.RepeatEveryDays = -1;
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 1, 10, 9, 0)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 1, 1)), TaskDateTime{});

  task.Schedule.RepeatEveryDays = 1;
  task.Schedule.SpecialMonth = 4;
  task.Schedule.SpecialDay = 31;  // no such day
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 5, 1, 9, 0)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 1)), TaskDateTime{});
}

TEST(ScheduleTest, TimeIntervalCountsFromTheLastRunOrBeforeAnyFromTheWorkersStart) {
  CTaskItem task = Waiting(ScheduleKind::TimeInterval);
  task.Schedule.IntervalMinutes = 30;
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 10, 30)));  // no worker yet
  TaskDateTime shown = MakeTime(2001, 1, 1, 1, 1);
  task.NextRunTime = shown;
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 10, 0)), shown);

  task.WorkerStartTime = MakeTime(2006, 3, 5, 10, 0, 20);
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 10, 0, 50)));  // M = 0
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 10, 29, 59)));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 3, 5, 10, 30, 0)));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 3, 5, 11, 0, 0)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 10, 5)), MakeTime(2006, 3, 5, 10, 30));

  task.LastRunTime = MakeTime(2006, 3, 5, 10, 12, 7);  // a run on request
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 10, 13)), MakeTime(2006, 3, 5, 10, 42));
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 10, 30, 0)));
  EXPECT_TRUE(IsDue(task, MakeTime(2006, 3, 5, 10, 42, 0)));
  task.LastRunTime = MakeTime(2006, 3, 5, 10, 30, 0);
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 10, 31)), MakeTime(2006, 3, 5, 11, 0));

  task.Schedule.IntervalMinutes = 0;  // only a damaged file holds this
  EXPECT_FALSE(IsDue(task, MakeTime(2006, 3, 5, 11, 0)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2006, 3, 5, 11, 0)), TaskDateTime{});
}

// A daily task of a user who starts the program every morning: counted from each start
// it would never come round.
TEST(ScheduleTest, AnIntervalRunsAfterRestartsWhenItsTimeSinceTheLastRunHasCome) {
  CTaskItem task = Waiting(ScheduleKind::TimeInterval);
  task.Schedule.IntervalMinutes = 1440;
  task.LastRunTime = MakeTime(2026, 12, 6, 9, 0, 10);
  task.WorkerStartTime = MakeTime(2026, 12, 7, 8, 0, 0);  // started anew the next morning
  EXPECT_FALSE(IsDue(task, MakeTime(2026, 12, 7, 8, 59, 59)));
  EXPECT_TRUE(IsDue(task, MakeTime(2026, 12, 7, 9, 0, 0)));
  EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2026, 12, 7, 8, 0)), MakeTime(2026, 12, 7, 9, 0));

  // Started after the run was due: made up at once.
  task.WorkerStartTime = MakeTime(2026, 12, 8, 7, 0, 0);
  EXPECT_TRUE(IsDue(task, MakeTime(2026, 12, 8, 7, 0, 5)));

  // A last run the clock has not reached yet (set back since) counts from the start.
  task.LastRunTime = MakeTime(2027, 1, 1, 0, 0, 0);
  EXPECT_FALSE(IsDue(task, MakeTime(2026, 12, 8, 7, 1, 0)));
  EXPECT_TRUE(IsDue(task, MakeTime(2026, 12, 9, 7, 0, 0)));
}

// Stored moments come from the task file and may be damaged anywhere in their range.
TEST(ScheduleTest, DamagedStoredTimesAreIgnoredNotComputedWith) {
  const TaskDateTime damaged[] = {{INT32_MIN, 1, 1, 0, 0, 0, 0},
                                  {INT32_MAX, 12, 31, 23, 59, 59, 7},
                                  {2024, 13, 1, 0, 0, 0, 0},
                                  {2024, 2, 30, 0, 0, 0, 0},
                                  {2024, 3, 5, 24, 0, 0, 0}};
  const TaskDateTime shown = MakeTime(2001, 1, 1, 1, 1);
  for (const TaskDateTime& bad : damaged) {
    SCOPED_TRACE(Show(bad));
    CTaskItem task = Waiting(ScheduleKind::TimeInterval);
    task.NextRunTime = shown;
    task.WorkerStartTime = bad;
    EXPECT_FALSE(IsDue(task, MakeTime(2024, 3, 5, 10, 30)));
    EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2024, 3, 5, 10, 30)), shown);
    task.LastRunTime = MakeTime(2024, 3, 5, 10, 0, 30);
    EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2024, 3, 5, 10, 30)), MakeTime(2024, 3, 5, 10, 30));
    task.WorkerStartTime = MakeTime(2024, 3, 5, 9, 0, 0);
    task.LastRunTime = bad;
    EXPECT_EQ(ComputeNextRunTime(task, MakeTime(2024, 3, 5, 10, 30)), MakeTime(2024, 3, 5, 9, 30));
  }
}

// The strong property: NextRunTime computed at t names the first minute at or after t at
// which IsDue is true when polled minute by minute (none within the horizon when it is
// all zero). The rules make one exception, which the generator avoids and the tests
// above cover: in the minute of LastRunTime, NextRunTime may still name that minute
// (one run per minute). The month walk's 100-day limit never binds: no set of month
// days leaves a gap above 62.
class NextRunProperty {
 public:
  explicit NextRunProperty(unsigned seed) : m_random(seed) {}

  void Check(ScheduleKind kind, int trials) {
    for (int trial = 0; trial < trials; ++trial) {
      const std::int64_t now = RandomMoment();
      CTaskItem task = RandomTask(kind, now);
      const TaskDateTime t = FromWallSeconds(now);
      const TaskDateTime next = ComputeNextRunTime(task, t);
      std::ostringstream what;
      what << "trial " << trial << " at " << Show(t) << " next " << Show(next) << " last "
           << Show(task.LastRunTime) << " worker " << Show(task.WorkerStartTime);
      SCOPED_TRACE(what.str());
      const TaskDateTime due = FirstDueMinute(task, now, next);
      ASSERT_EQ(Show(due), Show(next));
      if (next.Year != 0) {
        ASSERT_EQ(next.Second, 0);
      }
    }
  }

 private:
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

  // A moment in 2023..2025, a third of them in the last two days of a month.
  std::int64_t RandomMoment() {
    const int year = Between(2023, 2025);
    const int month = Between(1, 12);
    const int days = DaysInMonth(year, month);
    const int day = Between(0, 2) == 0 ? Between(days - 1, days) : Between(1, days);
    return *WallSeconds(TaskDateTime{year, month, day, Between(0, 23), Between(0, 59),
                                     Between(0, 59), 0});
  }

  CTaskItem RandomTask(ScheduleKind kind, std::int64_t now) {
    CTaskItem task = Waiting(kind, Between(0, 23), Between(0, 59));
    ScheduleSettings& s = task.Schedule;
    const int density = Between(1, 4);
    for (auto& flag : s.WeekDays) flag = Between(0, 6) < density ? 1 : 0;
    for (auto& flag : s.MonthDays) flag = Between(0, 30) < density ? 1 : 0;
    if (kind == ScheduleKind::EveryMonth && Between(0, 3) == 0) {
      s.MonthDays.fill(0);
      s.MonthDays[static_cast<std::size_t>(Between(28, 30))] = 1;  // days some months lack
    }
    const TaskDateTime special = FromWallSeconds(now + std::int64_t{Between(-200, 60)} * 86400);
    s.SpecialYear = special.Year;
    s.SpecialMonth = special.Month;
    s.SpecialDay = special.Day;
    s.RepeatEveryDays = Between(0, 3) == 0 ? 0 : Between(1, Between(0, 4) == 0 ? 400 : 40);
    s.IntervalMinutes = Between(0, 2) == 0 ? Between(1, 10) : Between(11, 3000);

    const std::int64_t minuteOfNow = now - now % 60;
    if (kind == ScheduleKind::TimeInterval) {
      // A worker started up to three days ago that ran at every point of its grid.
      const std::int64_t start = now - Between(0, 3 * 86400);
      task.WorkerStartTime = FromWallSeconds(start);
      const std::int64_t grid = start - start % 60;
      const std::int64_t step = std::int64_t{s.IntervalMinutes} * 60;
      const std::int64_t runs = (minuteOfNow - grid) / step;
      if (runs > 0) task.LastRunTime = FromWallSeconds(grid + runs * step + Between(0, 59));
    } else if (Between(0, 1) == 0) {
      task.LastRunTime = FromWallSeconds(minuteOfNow - Between(1, 20 * 86400));
    }
    return task;
  }

  // Polls at `now` and then at the start of every following minute, up to `next` (or a
  // 60-day horizon when `next` is zero). Returns the first due minute, zero for none.
  static TaskDateTime FirstDueMinute(const CTaskItem& task, std::int64_t now,
                                     const TaskDateTime& next) {
    const std::int64_t horizon =
        next.Year != 0 ? *WallSeconds(next) + 60 : now + std::int64_t{60} * 86400;
    for (std::int64_t poll = now; poll <= horizon; poll = poll - poll % 60 + 60) {
      const TaskDateTime t = FromWallSeconds(poll);
      if (IsDue(task, t)) return FromWallSeconds(poll - poll % 60);
    }
    return TaskDateTime{};
  }

  std::mt19937 m_random;
};

TEST(ScheduleTest, NextRunTimeNamesTheFirstDueMinuteForEveryKind) {
  const struct {
    ScheduleKind kind;
    int trials;
  } kinds[] = {{ScheduleKind::EveryDay, 400},
               {ScheduleKind::EveryWeek, 300},
               {ScheduleKind::EveryMonth, 200},
               {ScheduleKind::SpecialDate, 200},
               {ScheduleKind::TimeInterval, 400}};
  NextRunProperty property(20240229);
  for (const auto& k : kinds) {
    SCOPED_TRACE("kind " + std::to_string(static_cast<int>(k.kind)));
    property.Check(k.kind, k.trials);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace brevanto
