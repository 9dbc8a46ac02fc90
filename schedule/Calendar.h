#pragma once
// Date arithmetic on local wall-clock times, field by field. Invalid dates (day 31 of a
// 30-day month, month 13, ...) are reported, never normalised into another date.
// Differences ignore daylight-saving shifts: schedules speak of wall-clock minutes.
// Pure functions; safe from any thread.

#include <cstdint>
#include <optional>

#include "core/DateTime.h"

namespace brevanto {

bool IsLeapYear(std::int32_t year);
// 0 for a month outside 1..12.
int DaysInMonth(std::int32_t year, std::int32_t month);
bool IsValidDate(std::int32_t year, std::int32_t month, std::int32_t day);
// A valid date with hour 0..23, minute 0..59 and second 0..59. The day of week is not checked.
bool IsValidDateTime(const TaskDateTime& t);

// Days from 1970-01-01 to a valid date (negative before it).
std::int64_t DayNumber(std::int32_t year, std::int32_t month, std::int32_t day);
// The date of a day number, at 00:00:00, with DayOfWeek filled in.
TaskDateTime DateOfDayNumber(std::int64_t dayNumber);
// 1 = Sunday .. 7 = Saturday, for a valid date.
std::int32_t DayOfWeekOf(std::int32_t year, std::int32_t month, std::int32_t day);

// Seconds from 1970-01-01 00:00:00 on the wall clock; nullopt for an invalid moment.
std::optional<std::int64_t> WallSeconds(const TaskDateTime& t);
// The moment `seconds` after 1970-01-01 00:00:00, with DayOfWeek filled in.
TaskDateTime FromWallSeconds(std::int64_t seconds);

// `t` with Second = 0 and DayOfWeek recomputed. REQUIRES: IsValidDateTime(t).
TaskDateTime WithoutSeconds(const TaskDateTime& t);
// The date of `t` plus `days`, at hour:minute:00. REQUIRES: t's date is valid.
TaskDateTime AtTimeOnDay(const TaskDateTime& t, std::int64_t days, std::int32_t hour,
                         std::int32_t minute);

// True when both moments name the same year, month, day, hour and minute.
bool SameMinute(const TaskDateTime& a, const TaskDateTime& b);

}  // namespace brevanto
