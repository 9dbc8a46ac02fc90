#include "schedule/Schedule.h"

#include <cstdint>
#include <optional>

#include "schedule/Calendar.h"

namespace brevanto {
namespace {

const TaskDateTime kNone{};

bool HasRunTime(const ScheduleSettings& s) {
  return s.Hour >= 0 && s.Hour <= 23 && s.Minute >= 0 && s.Minute <= 59;
}

bool AtRunTime(const ScheduleSettings& s, const TaskDateTime& now) {
  return now.Hour == s.Hour && now.Minute == s.Minute;
}

// The run time of today is still ahead, or is this very minute.
bool RunTimeNotPassed(const ScheduleSettings& s, const TaskDateTime& now) {
  return now.Hour < s.Hour || (now.Hour == s.Hour && now.Minute <= s.Minute);
}

std::int64_t Today(const TaskDateTime& now) { return DayNumber(now.Year, now.Month, now.Day); }

bool HasValidSpecialDate(const ScheduleSettings& s) {
  return IsValidDate(s.SpecialYear, s.SpecialMonth, s.SpecialDay);
}

std::int64_t SpecialDay(const ScheduleSettings& s) {
  return DayNumber(s.SpecialYear, s.SpecialMonth, s.SpecialDay);
}

// The minute an interval counts from: the last run when there is one, so a daily task
// runs even for a user who restarts the program every day; else the worker's start. A
// last run after `now` (the clock was set back) counts as none.
std::optional<std::int64_t> IntervalBase(const CTaskItem& task, const TaskDateTime& now) {
  const std::optional<std::int64_t> current = WallSeconds(now);
  if (task.LastRunTime.Year != 0) {
    const std::optional<std::int64_t> last = WallSeconds(WithoutSeconds(task.LastRunTime));
    if (last && current && *last <= *current) return last;
  }
  if (task.WorkerStartTime.Year == 0) return std::nullopt;
  return WallSeconds(WithoutSeconds(task.WorkerStartTime));
}

bool IsScheduleDue(const CTaskItem& task, const TaskDateTime& now) {
  const ScheduleSettings& s = task.Schedule;
  switch (task.GetScheduleKind()) {
    case ScheduleKind::EveryDay:
      return AtRunTime(s, now);
    case ScheduleKind::EveryWeek:
      return s.WeekDays[DayOfWeekOf(now.Year, now.Month, now.Day) - 1] != 0 && AtRunTime(s, now);
    case ScheduleKind::EveryMonth:
      return s.MonthDays[now.Day - 1] != 0 && AtRunTime(s, now);
    case ScheduleKind::SpecialDate: {
      if (s.RepeatEveryDays < 0 || !HasValidSpecialDate(s) || !AtRunTime(s, now)) return false;
      std::int64_t days = Today(now) - SpecialDay(s);
      if (s.RepeatEveryDays == 0) return days == 0;
      return days >= 0 && days % s.RepeatEveryDays == 0;
    }
    case ScheduleKind::TimeInterval: {
      // An interval below 1 can only come from a damaged file and is never due. A run
      // missed while the program was not running is made up at once.
      if (s.IntervalMinutes < 1) return false;
      const std::optional<std::int64_t> base = IntervalBase(task, now);
      const std::optional<std::int64_t> current = WallSeconds(now);
      return base && current && *current - *base >= std::int64_t{s.IntervalMinutes} * 60;
    }
    default:
      return false;
  }
}

TaskDateTime NextIntervalRun(const CTaskItem& task, const TaskDateTime& now) {
  const int interval = task.Schedule.IntervalMinutes;
  if (interval < 1) return kNone;
  const std::optional<std::int64_t> base = IntervalBase(task, now);
  if (!base) return task.NextRunTime;  // not started yet: the row keeps what it showed
  return FromWallSeconds(*base + std::int64_t{interval} * 60);
}

TaskDateTime NextScheduledRun(const CTaskItem& task, const TaskDateTime& now) {
  const ScheduleSettings& s = task.Schedule;
  const bool todayStillAhead = RunTimeNotPassed(s, now);
  const std::int64_t today = Today(now);
  auto on = [&](std::int64_t day) { return AtTimeOnDay(now, day - today, s.Hour, s.Minute); };

  switch (task.GetScheduleKind()) {
    case ScheduleKind::EveryDay:
      return on(todayStillAhead ? today : today + 1);
    case ScheduleKind::EveryWeek: {
      const int weekDay = DayOfWeekOf(now.Year, now.Month, now.Day) - 1;  // 0 = Sunday
      if (s.WeekDays[weekDay] != 0 && todayStillAhead) return on(today);
      for (int i = 1; i <= 7; ++i) {
        if (s.WeekDays[(weekDay + i) % 7] != 0) return on(today + i);
      }
      return kNone;
    }
    case ScheduleKind::EveryMonth: {
      if (s.MonthDays[now.Day - 1] != 0 && todayStillAhead) return on(today);
      // Walks day by day from tomorrow; a day number its month lacks moves the walk to the
      // first of the next month. No set of days leaves a gap above 62, so the limit of 100
      // steps only ends a walk with no day set.
      std::int32_t year = now.Year, month = now.Month, day = now.Day;
      for (int step = 1; step <= 100; ++step) {
        if (++day > DaysInMonth(year, month)) {
          day = 1;
          if (++month > 12) {
            month = 1;
            ++year;
          }
        }
        if (s.MonthDays[static_cast<std::size_t>(day - 1)] != 0) return on(today + step);
      }
      return kNone;
    }
    case ScheduleKind::SpecialDate: {
      if (s.RepeatEveryDays < 0 || !HasValidSpecialDate(s)) return kNone;
      const std::int64_t special = SpecialDay(s);
      if (special > today || (special == today && todayStillAhead)) return on(special);
      if (s.RepeatEveryDays == 0) return kNone;
      // The first day from today on that lies a multiple of N days after the special date;
      // today only while its run time is ahead.
      const std::int64_t n = s.RepeatEveryDays;
      std::int64_t ahead = (n - (today - special) % n) % n;
      if (ahead == 0 && !todayStillAhead) ahead = n;
      return on(today + ahead);
    }
    default:
      return kNone;
  }
}

}  // namespace

bool IsDue(const CTaskItem& task, const TaskDateTime& now) {
  switch (task.GetStatus()) {
    case TaskStatus::Stop:
      return task.RunImmediately != 0;
    case TaskStatus::Waiting:
      break;
    default:
      return false;
  }
  if (task.RunImmediately != 0) return true;
  if (task.GetScheduleKind() == ScheduleKind::Manual) return false;
  if (SameMinute(now, task.LastRunTime)) return false;
  if (!IsValidDateTime(now)) return false;
  return IsScheduleDue(task, now);
}

TaskDateTime ComputeNextRunTime(const CTaskItem& task, const TaskDateTime& now) {
  const ScheduleKind kind = task.GetScheduleKind();
  if (kind == ScheduleKind::TimeInterval) return NextIntervalRun(task, now);
  if (kind == ScheduleKind::Manual || !IsValidDateTime(now) || !HasRunTime(task.Schedule)) {
    return kNone;
  }
  return NextScheduledRun(task, now);
}

void UpdateNextRunTime(CTaskItem& task, const TaskDateTime& now) {
  task.NextRunTime = ComputeNextRunTime(task, now);
}

bool ShouldKeepWaiting(const CTaskItem& task) {
  return task.GetStatus() != TaskStatus::Stop &&
         task.GetScheduleKind() != ScheduleKind::Manual;
}

}  // namespace brevanto
