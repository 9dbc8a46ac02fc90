#include "schedule/Calendar.h"

namespace brevanto {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Floor division for the negative day numbers before 1970.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// 1970-01-01 was a Thursday: 5 with Sunday = 1.
std::int32_t WeekDayOfDayNumber(std::int64_t dayNumber) {
  std::int64_t n = dayNumber + 4;
  return static_cast<std::int32_t>(n - FloorDiv(n, 7) * 7) + 1;
}

}  // namespace

bool IsLeapYear(std::int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(std::int32_t year, std::int32_t month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(std::int32_t year, std::int32_t month, std::int32_t day) {
  // The range of years the stored moments can meaningfully hold; 0 is "never".
  return year >= 1 && year <= 9999 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsValidDateTime(const TaskDateTime& t) {
  return IsValidDate(t.Year, t.Month, t.Day) && t.Hour >= 0 && t.Hour <= 23 && t.Minute >= 0 &&
         t.Minute <= 59 && t.Second >= 0 && t.Second <= 59;
}

// The civil-calendar day count of H. Hinnant's "days_from_civil".
std::int64_t DayNumber(std::int32_t year, std::int32_t month, std::int32_t day) {
  std::int64_t y = std::int64_t{year} - (month <= 2 ? 1 : 0);  // year may be INT32_MIN
  std::int64_t era = FloorDiv(y, 400);
  std::int64_t yearOfEra = y - era * 400;
  std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

TaskDateTime DateOfDayNumber(std::int64_t dayNumber) {
  std::int64_t z = dayNumber + 719468;
  std::int64_t era = FloorDiv(z, 146097);
  std::int64_t dayOfEra = z - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  TaskDateTime t;
  t.Day = static_cast<std::int32_t>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  t.Month = static_cast<std::int32_t>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  t.Year = static_cast<std::int32_t>(yearOfEra + era * 400 + (t.Month <= 2 ? 1 : 0));
  t.DayOfWeek = WeekDayOfDayNumber(dayNumber);
  return t;
}

std::int32_t DayOfWeekOf(std::int32_t year, std::int32_t month, std::int32_t day) {
  return WeekDayOfDayNumber(DayNumber(year, month, day));
}

std::optional<std::int64_t> WallSeconds(const TaskDateTime& t) {
  if (!IsValidDateTime(t)) return std::nullopt;
  return DayNumber(t.Year, t.Month, t.Day) * kSecondsPerDay + t.Hour * 3600 + t.Minute * 60 +
         t.Second;
}

TaskDateTime FromWallSeconds(std::int64_t seconds) {
  std::int64_t day = FloorDiv(seconds, kSecondsPerDay);
  std::int64_t inDay = seconds - day * kSecondsPerDay;
  TaskDateTime t = DateOfDayNumber(day);
  t.Hour = static_cast<std::int32_t>(inDay / 3600);
  t.Minute = static_cast<std::int32_t>(inDay / 60 % 60);
  t.Second = static_cast<std::int32_t>(inDay % 60);
  return t;
}

TaskDateTime WithoutSeconds(const TaskDateTime& t) {
  TaskDateTime r = t;
  r.Second = 0;
  r.DayOfWeek = DayOfWeekOf(t.Year, t.Month, t.Day);
  return r;
}

TaskDateTime AtTimeOnDay(const TaskDateTime& t, std::int64_t days, std::int32_t hour,
                         std::int32_t minute) {
  TaskDateTime r = DateOfDayNumber(DayNumber(t.Year, t.Month, t.Day) + days);
  r.Hour = hour;
  r.Minute = minute;
  return r;
}

bool SameMinute(const TaskDateTime& a, const TaskDateTime& b) {
  return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour &&
         a.Minute == b.Minute;
}

}  // namespace brevanto
